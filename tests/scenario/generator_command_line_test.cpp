// TrajixBinary's command line as a user meets it: --help, --version and usage errors.
// The options and profile keys are taken from the program's source, so an option or
// key added without its help fails here.
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "scenario_fixtures.hpp"
#include "test_support.hpp"

using trajix::test::readFileBytes;
using trajix::test::runProgram;
using trajix::test::runTrajix;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

const std::string generator = (std::filesystem::path(TRAJIX_BINARY_DIR) / "cli" / "TrajixBinary").string();
const std::filesystem::path source = TRAJIX_SOURCE_DIR;

// Every whole string literal "--name" in the generator's source: the options it parses.
std::set<std::string> parsedOptions()
{
    const std::string text = readFileBytes(source / "tools" / "trajix_binary.cpp");
    const std::regex literal("\"(--[a-z][a-z-]*)\"");
    std::set<std::string> names;
    for (std::sregex_iterator it(text.begin(), text.end(), literal), end; it != end; ++it) names.insert((*it)[1]);
    return names;
}

// Every key the profile reader asks for.
std::set<std::string> profileKeys()
{
    const std::string text = readFileBytes(source / "signal" / "generator.cpp");
    const std::regex asked(R"(profile\.\w+\(\s*"(\w+)\")");
    std::set<std::string> keys;
    for (std::sregex_iterator it(text.begin(), text.end(), asked), end; it != end; ++it) keys.insert((*it)[1]);
    return keys;
}

// The help's entry of an option: its line and the indented lines that go on with it.
std::string helpEntry(const std::string& help, const std::string& option)
{
    std::istringstream lines(help);
    std::string line, entry;
    bool inside = false;
    const std::regex start("  (-h,)?" + option + "( .*)?");
    while (std::getline(lines, line)) {
        if (inside && (line.empty() || line.rfind("  -", 0) == 0)) break;
        if (!inside && std::regex_match(line, start)) inside = true;
        if (inside) entry += line + "\n";
    }
    return entry;
}

// A one-second noise profile under the week-314 almanac; returns its path.
std::filesystem::path noiseProfile(const std::filesystem::path& dir)
{
    const auto tools = trajix::test::writeWeek314Profile(dir, "345600", "1");
    writeFileBytes(tools / "profile.txt", readFileBytes(tools / "profile.txt") + "Noise_Only = 1\r\n");
    return tools / "profile.txt";
}

}  // namespace

TEST(GeneratorCommandLine, HelpSaysWhatEveryParsedOptionDoesAndItsProfileKey)
{
    const auto options = parsedOptions();
    const auto keys = profileKeys();
    // The readers found what they look for (a change of style would leave them empty).
    ASSERT_GE(options.size(), 16u);
    ASSERT_GE(keys.size(), 24u);
    ASSERT_TRUE(options.count("--ephemeris") && keys.count("Almanac_File"));

    const auto help = runProgram(generator, {"--help"});
    ASSERT_EQ(help.exitCode, 0) << help.err;
    EXPECT_EQ(help.err, "");
    EXPECT_NE(help.out.find("PROFILE"), std::string::npos) << help.out;
    const std::string manual = readFileBytes(source / "man" / "TrajixBinary.1");
    const std::regex keyNamed(R"((Profile key: (\w+)|No profile key))");
    for (const std::string& option : options) {
        const std::string entry = helpEntry(help.out, option);
        ASSERT_FALSE(entry.empty()) << option << " is not in the help:\n" << help.out;
        // A line of its own on what it does: more than the name and its value.
        EXPECT_GE(entry.size(), option.size() + 30) << entry;
        if (option != "--help" && option != "--version") {
            std::smatch named;
            ASSERT_TRUE(std::regex_search(entry, named, keyNamed)) << "no profile key said for " << entry;
            if (named[2].matched) {
                EXPECT_TRUE(keys.count(named[2])) << named[2] << " is not read: " << entry;
            }
        }
        EXPECT_NE(manual.find(std::regex_replace(option, std::regex("-"), "\\-")), std::string::npos)
            << option << " is not in the manual page";
    }
    for (const std::string& key : keys) {
        EXPECT_NE(help.out.find("\n  " + key + " "), std::string::npos) << key << " is not in the help";
        EXPECT_NE(manual.find(key), std::string::npos) << key << " is not in the manual page";
    }
    // The short form and the manual's exit statuses.
    EXPECT_EQ(runProgram(generator, {"-h"}).out, help.out);
    for (const char* status : {".B 0\n", ".B 1\n", ".B 2\n", ".B 143\n"})
        EXPECT_NE(manual.find(status), std::string::npos);
}

TEST(GeneratorCommandLine, VersionIsTheTrajixCommandsVersion)
{
    const auto trajix = runTrajix({"--version"});
    ASSERT_EQ(trajix.out.rfind("trajix ", 0), 0u) << trajix.out;
    const auto version = runProgram(generator, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "TrajixBinary " + trajix.out.substr(7));
    EXPECT_EQ(version.err, "");
}

TEST(GeneratorCommandLine, UsageErrorsExitTwoNamingWhatWasWrongAndWriteNothing)
{
    TempDir dir;
    const std::string profile = noiseProfile(dir.path()).string();
    const auto output = dir / "GPStools" / "output.dsf";
    struct Case {
        std::vector<std::string> arguments;
        std::string named;  // what the message must name
    };
    const std::vector<Case> cases{
        {{"--no-such-option", profile}, "--no-such-option"},
        {{"-x", profile}, "-x"},
        {{"--no-such-option"}, "--no-such-option"},
        {{profile, "--seed"}, "--seed"},
        {{"--seed", "seven", profile}, "--seed"},
        {{"--seed", "-1", profile}, "--seed"},
        {{"--threads", "0", profile}, "--threads"},
        {{"--threads", "257", profile}, "--threads"},
        {{"--max-satellites", "1.5", profile}, "--max-satellites"},
        {{"--bits-per-sample", "0x10", profile}, "--bits-per-sample"},
        {{"--sample-rate-khz", "", profile}, "--sample-rate-khz"},
        {{"--if-hz", "4e6", profile}, "--if-hz"},
        {{"--iq-format", "Q", profile}, "--iq-format"},
        {{"--output", "", profile}, "--output"},
        {{"--ephemeris", "", profile}, "--ephemeris"},
        {{"--live", "", profile}, "--live"},
        {{"--duration-limited", profile}, "--duration-limited"},
        {{"--noise-only=maybe", profile}, "--noise-only"},
        {{profile, "extra.txt"}, "extra.txt"},
        {{}, "PROFILE"},
    };
    for (const Case& c : cases) {
        const auto result = runProgram(generator, c.arguments);
        EXPECT_EQ(result.exitCode, 2) << c.named << "\n" << result.err;
        EXPECT_NE(result.err.find(c.named), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "") << c.named;
        EXPECT_FALSE(std::filesystem::exists(output)) << c.named;
    }
    // A negative number is a value, not an option; "=" joins an option and its value.
    const auto negative = runProgram(generator, {"--iq-format", "IQ", "--bits-per-sample", "8", "--sample-rate-khz",
                                                 "2600", "--if-hz", "-100000", "--seed=3", profile});
    EXPECT_EQ(negative.exitCode, 0) << negative.err;
    EXPECT_EQ(readFileBytes(output).size(), 2u * 2600000u);
}
