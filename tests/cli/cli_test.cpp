#include <gtest/gtest.h>

#include "test_support.hpp"

using trajix::test::runTrajix;

TEST(Cli, HelpListsTheCommandAndVersionPrints)
{
    auto help = runTrajix({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("trajix"), std::string::npos);
    auto version = runTrajix({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_NE(version.out.find("trajix 4.8"), std::string::npos);
}

TEST(Cli, UsageErrorsExitWith2)
{
    EXPECT_EQ(runTrajix({}).exitCode, 2);
    EXPECT_EQ(runTrajix({"no-such-command"}).exitCode, 2);
    EXPECT_EQ(runTrajix({"checksum"}).exitCode, 2);
}

TEST(Cli, ChecksumCompletesASentence)
{
    auto r = runTrajix({"checksum", "$GPHDT,090.000,T*"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "$GPHDT,090.000,T*3C\r\n");
}
