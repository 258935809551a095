// The trajix command: one subcommand per job of the desktop application.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "cli/command.hpp"
#include "common/error.hpp"

namespace trajix::cli {

namespace {
std::vector<CommandSetup>& registry()
{
    static std::vector<CommandSetup> commands;
    return commands;
}
}  // namespace

bool registerCommand(CommandSetup setup)
{
    registry().push_back(setup);
    return true;
}

void printMessage(std::string_view message) { fmt::print(stderr, "trajix: {}\n", message); }

void TerminalPrompt::information(std::string_view text) { printMessage(text); }

bool TerminalPrompt::askYesNo(std::string_view question)
{
    if (assumeYes_) {
        fmt::print(stderr, "{} [y/n] y\n", question);
        return true;
    }
    for (;;) {
        fmt::print(stderr, "{} [y/n] ", question);
        std::fflush(stderr);
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            fmt::print(stderr, "\n");
            return false;
        }
        if (answer == "y" || answer == "Y" || answer == "yes") return true;
        if (answer == "n" || answer == "N" || answer == "no") return false;
    }
}

}  // namespace trajix::cli

int main(int argc, char** argv)
{
    using namespace trajix::cli;
    CLI::App app{"Trajix: GPS receiver trajectories as NMEA 0183 files, and the tools around them", "trajix"};
    app.set_version_flag("--version", std::string("trajix ") + TRAJIX_VERSION);
    app.require_subcommand(1);
    Context context;
    for (CommandSetup setup : registry()) setup(app, context);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return exitUsage;
    } catch (const trajix::Error& e) {
        fmt::print(stderr, "trajix: error: {}\n", e.what());
        return exitFailed;
    } catch (const std::exception& e) {
        fmt::print(stderr, "trajix: error: {}\n", e.what());
        return exitFailed;
    }
    return context.exitCode;
}
