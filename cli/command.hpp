#pragma once
// Subcommands of the trajix command. Each lives in its own source file and registers
// itself with TRAJIX_COMMAND, so adding a subcommand is adding a file:
//
//   static void addGpsWeek(CLI::App& app, trajix::cli::Context& context) {
//       auto* sub = app.add_subcommand("gpsweek", "Print the date of a GPS week");
//       ...
//       sub->callback([&context, options] { context.exitCode = run(*options); });
//   }
//   TRAJIX_COMMAND(addGpsWeek);
//
// Exit statuses: 0 the job was done, 1 it was refused or failed, 2 usage error.
// Results go to stdout; messages, errors and the progress bar to stderr.
#include <string_view>

#include <CLI/CLI.hpp>

#include "common/prompt.hpp"

namespace trajix::cli {

inline constexpr int exitOk = 0;
inline constexpr int exitFailed = 1;
inline constexpr int exitUsage = 2;

struct Context {
    int exitCode = exitOk;
};

using CommandSetup = void (*)(CLI::App& app, Context& context);

/// Registers a subcommand; called from static initialisers via TRAJIX_COMMAND.
bool registerCommand(CommandSetup setup);

/// Prints "trajix: <message>" on stderr (messages of the run, not errors).
void printMessage(std::string_view message);

/// A user prompt for the terminal: messages go to stderr; questions are answered Yes
/// when assumeYes is set, otherwise read as y/n from standard input (No at its end).
class TerminalPrompt final : public UserPrompt {
public:
    explicit TerminalPrompt(bool assumeYes = false) : assumeYes_(assumeYes) {}
    void information(std::string_view text) override;
    bool askYesNo(std::string_view question) override;

private:
    bool assumeYes_;
};

}  // namespace trajix::cli

#define TRAJIX_COMMAND_CONCAT2(a, b) a##b
#define TRAJIX_COMMAND_CONCAT(a, b) TRAJIX_COMMAND_CONCAT2(a, b)
#define TRAJIX_COMMAND(setup)                                                         \
    [[maybe_unused]] static const bool TRAJIX_COMMAND_CONCAT(trajixCommand_, __LINE__) = \
        ::trajix::cli::registerCommand(setup)
