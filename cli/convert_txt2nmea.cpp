// trajix txt2nmea INPUT -o OUTPUT: converts a text list of positions to NMEA.
#include <memory>

#include "cli/command.hpp"
#include "cli/date_options.hpp"
#include "common/terminal_progress.hpp"
#include "convert/text_conversion.hpp"

namespace {

void addTxt2Nmea(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("txt2nmea", "Convert a text file of latitude/longitude pairs to an NMEA file");
    auto parameters = std::make_shared<trajix::convert::TextConversionParameters>();
    auto dates = std::make_shared<trajix::cli::DateOptions>();
    auto& p = *parameters;
    sub->add_option("INPUT", p.inputFileName, "Text file: a title line, then latitude and longitude in degrees")
        ->required();
    sub->add_option("-o,--output", p.outputFileName, "NMEA output file (used as given)")->required();
    sub->add_option("--rate", p.sampleRateText, "Output rate in Hz")->capture_default_str();
    sub->add_option("--stationary-start", p.stationaryPeriodText, "Stationary period at the start, whole seconds")
        ->capture_default_str();
    sub->add_option("--stationary-end", p.stationaryPeriodEndText, "Stationary period at the end, whole seconds")
        ->capture_default_str();
    trajix::cli::addDateOptions(sub, *dates);
    sub->callback([&context, parameters, dates] {
        trajix::cli::TerminalPrompt prompt;
        trajix::TerminalProgress progress;
        parameters->dates = trajix::cli::dateSentences(*dates);
        trajix::convert::convertTextFile(*parameters, prompt, progress);
        context.exitCode = trajix::cli::exitOk;
    });
}

}  // namespace

TRAJIX_COMMAND(addTxt2Nmea);
