// kmarc's command line as scripts and packagers meet it: the help of each command,
// --quiet and the warnings it silences.
#include "pe/PeTestSupport.h"
#include "tools/kmarc/KmarcTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace fs = std::filesystem;

namespace {

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class CliTest : public KmarcWorkTest {
protected:
    void SetUp() override
    {
        KmarcWorkTest::SetUp();
        std::vector<uint8_t> launcher = BuildTestImage(LauncherLikeImage(LauncherResources()));
        WriteFile(work / "launcher.exe", std::string(launcher.begin(), launcher.end()));
        WriteFile(work / "payload" / "BASE" / "Readme.txt", "read me\r\n");
        WriteFile(work / "payload" / "SETUPBASE" / "Zephrun.exe", "setup program");
        WriteFile(work / "payload" / "SETUPBASE" / "lingerx.exe", "waiting program");
    }

    std::string Embed(const std::string& extra = std::string())
    {
        return "embed " + extra + Quote(work / "launcher.exe") + " " + Quote(work / "payload") + " -o " +
               Quote(work / "setup.exe");
    }

    std::string Out() { return ReadFile(work / "stdout.txt"); }
    std::string Err() { return ReadFile(work / "stderr.txt"); }
};

TEST_F(CliTest, EachCommandHasItsOwnHelpBothWays)
{
    ASSERT_EQ(0, Kmarc(work, "--help"));
    std::string overview = Out();
    for (const char* command : { "pack ARCHIVE DIR", "list ARCHIVE", "verify ARCHIVE", "extract ARCHIVE DIR",
                                 "embed LAUNCHER PAYLOAD -o SETUP", "help [COMMAND]" })
        EXPECT_NE(std::string::npos, overview.find(command)) << command;
    EXPECT_NE(std::string::npos, overview.find("Exit status:"));

    // Each command's help names its own options and not another command's.
    const struct {
        const char* command;
        const char* own;
        const char* foreign;
    } cases[] = {
        { "pack", "--add-missing FILE", "--strip-signature" },
        { "embed", "--version-info KEY=VALUE", "--depfile" },
        { "list", "Usage: kmarc list", "--level" },
        { "verify", "Usage: kmarc verify", "--icon" },
        { "extract", "Usage: kmarc extract", "--add-missing" },
    };
    for (const auto& c : cases) {
        ASSERT_EQ(0, Kmarc(work, std::string(c.command) + " --help")) << c.command;
        std::string help = Out();
        EXPECT_NE(std::string::npos, help.find(c.own)) << c.command << ":\n" << help;
        EXPECT_EQ(std::string::npos, help.find(c.foreign)) << c.command << ":\n" << help;
        EXPECT_NE(help, overview) << c.command;
        ASSERT_EQ(0, Kmarc(work, std::string("help ") + c.command)) << c.command;
        EXPECT_EQ(help, Out()) << c.command;
        ASSERT_EQ(0, Kmarc(work, std::string("-h ") + c.command)) << c.command;
        EXPECT_EQ(help, Out()) << c.command;
    }
    ASSERT_EQ(0, Kmarc(work, "help"));
    EXPECT_EQ(overview, Out());

    EXPECT_EQ(2, Kmarc(work, "help unpack"));
    EXPECT_NE(std::string::npos, Err().find("unknown command 'unpack'"));
    EXPECT_EQ(2, Kmarc(work, "unpack --help"));
    EXPECT_EQ(2, Kmarc(work, "help pack list"));
}

TEST_F(CliTest, EmbedWithoutVersionInfoWarnsOnceUnlessQuiet)
{
    const std::string warning = "warning: no --version-info";
    ASSERT_EQ(0, Kmarc(work, Embed())) << Err();
    EXPECT_EQ(1u, Count(Err(), warning)) << Err();
    EXPECT_TRUE(fs::exists(work / "setup.exe"));

    ASSERT_EQ(0, Kmarc(work, Embed("--version-info ProductName=Photo "))) << Err();
    EXPECT_EQ(0u, Count(Err(), warning)) << Err();

    // A setup made from it keeps that version resource: nothing to warn of.
    fs::rename(work / "setup.exe", work / "launcher.exe");
    ASSERT_EQ(0, Kmarc(work, Embed())) << Err();
    EXPECT_EQ(0u, Count(Err(), warning)) << Err();

    // --quiet silences the warning but not the result, nor an error.
    std::vector<uint8_t> bare = BuildTestImage(LauncherLikeImage(LauncherResources()));
    WriteFile(work / "launcher.exe", std::string(bare.begin(), bare.end()));
    for (const char* quiet : { "--quiet ", "-q " }) {
        ASSERT_EQ(0, Kmarc(work, Embed(quiet))) << Err();
        EXPECT_EQ("", Err()) << quiet;
        EXPECT_NE(std::string::npos, Out().find("archives the launcher carries: BASE SETUPBASE")) << quiet;
    }
    fs::remove(work / "payload" / "SETUPBASE" / "lingerx.exe");
    EXPECT_EQ(4, Kmarc(work, Embed("--quiet ")));
    EXPECT_NE(std::string::npos, Err().find("no lingerx.exe in")) << Err();
    EXPECT_EQ(std::string::npos, Err().find(warning)) << Err();
}

} // namespace
