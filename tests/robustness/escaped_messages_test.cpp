// Control bytes of an input quoted in a message are shown escaped, whichever reader
// quotes them: the message stays whole and prints as text.
#include <gtest/gtest.h>

#include "common/error.hpp"
#include "convert/text_conversion.hpp"
#include "scenario/recording.hpp"
#include "test_support.hpp"

namespace trajix::test {
namespace {

using namespace std::string_literals;

bool hasRawControlByte(const std::string& text)
{
    for (const char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == '\x7f') return true;
    return false;
}

TEST(EscapedMessages, EveryControlByteIsShownAndLineBreaksOfTheMessageStay)
{
    EXPECT_EQ(visibleText("a\0b\tc\rd\ne\x1b[2J\x7f\x01"s), "a\\0b\\tc\\rd\\ne\\x1b[2J\\x7f\\x01");
    // Bytes above 127 (UTF-8 text) are left as they are.
    EXPECT_EQ(visibleText("Zürich"), "Zürich");
    const Error error("'x\x1b\r' on line 3\nsecond line"s);
    EXPECT_EQ(std::string(error.what()), "'x\\x1b\\r' on line 3\nsecond line");
    EXPECT_EQ(std::string(Error("\x07").what()), "\\x07");
}

TEST(EscapedMessages, TheTextConversionQuotesAControlByteEscaped)
{
    TempDir dir;
    // A terminal escape and a control byte inside the number of line 3.
    writeFileBytes(dir / "list.txt", "title\n51.5 -0.25\n51\x1b[31m.5\x01 -0.25\n"s);
    convert::TextConversionParameters parameters;
    parameters.inputFileName = (dir / "list.txt").string();
    parameters.outputFileName = (dir / "out.nmea").string();
    ScriptedPrompt prompt;
    NullProgress progress;
    try {
        convert::convertTextFile(parameters, prompt, progress);
        FAIL() << "no Error";
    } catch (const Error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("'51\\x1b[31m.5\\x01'"), std::string::npos) << message;
        EXPECT_NE(message.find("line 3 of '" + (dir / "list.txt").string() + "'"), std::string::npos) << message;
        EXPECT_FALSE(hasRawControlByte(message)) << message;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nmea"));
}

TEST(EscapedMessages, AnUnpairedLastNumberIsQuotedEscapedInTheNotice)
{
    TempDir dir;
    writeFileBytes(dir / "list.txt", "title\n51.5 -0.25\n52\x01\n"s);
    convert::TextConversionParameters parameters;
    parameters.inputFileName = (dir / "list.txt").string();
    parameters.outputFileName = (dir / "out.nmea").string();
    ScriptedPrompt prompt;
    NullProgress progress;
    try {
        convert::convertTextFile(parameters, prompt, progress);
    } catch (const Error& e) {
        // "52\x01" is not a number: then the refusal quotes it.
        EXPECT_FALSE(hasRawControlByte(e.what())) << e.what();
    }
    for (const auto& message : prompt.messages) EXPECT_FALSE(hasRawControlByte(message)) << message;
}

TEST(EscapedMessages, ADirectoryGivenToTheDropoutToolIsNamedAsOne)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "takes.bin");
    NullProgress progress;
    try {
        createDropouts({dir / "takes.bin", 1, 0}, progress);
        FAIL() << "no Error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot read '" + (dir / "takes.bin").string() + "': it is a directory");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "takes_mod.bin"));
}

}  // namespace
}  // namespace trajix::test
