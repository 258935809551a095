// trajix checksum TEXT: completes an NMEA sentence with its checksum.
#include <fmt/format.h>

#include "cli/command.hpp"
#include "nmea/sentences.hpp"

namespace {

void addChecksum(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("checksum", "Complete an NMEA sentence (\"$...*\" or its body) with its checksum");
    auto text = std::make_shared<std::string>();
    sub->add_option("SENTENCE", *text, "Sentence text, e.g. '$GPHDT,090.000,T*'")->required();
    sub->callback([&context, text] {
        std::string body = *text;
        if (body.empty() || body.front() != '$') body.insert(0, "$");
        if (body.back() != '*') body += '*';
        fmt::print("{}", trajix::finishSentence(body));
        context.exitCode = trajix::cli::exitOk;
    });
}

}  // namespace

TRAJIX_COMMAND(addChecksum);
