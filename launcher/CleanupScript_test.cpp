#include "launcher/CleanupScript.h"

#include "launcher/LauncherTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <windows.h>

namespace {

struct QuoteCase {
    const char* path;
    const char* word;
};

TEST(QuoteBatchPath, QuotesOnlyWhatCmdWouldSplitOrExpand)
{
    const QuoteCase cases[] = {
        { "C:\\TEMP\\KMGSetup0\\Data\\intro.dat", "C:\\TEMP\\KMGSetup0\\Data\\intro.dat" },
        { "C:\\a-b_c~1.{x}[y]+@#$'\\z", "C:\\a-b_c~1.{x}[y]+@#$'\\z" },
        { "C:\\Users\\J\xfcrgen\\Temp\\1.bat", "C:\\Users\\J\xfcrgen\\Temp\\1.bat" },
        { "C:\\Users\\Ann Lee\\Temp\\1.bat", "\"C:\\Users\\Ann Lee\\Temp\\1.bat\"" },
        { "C:\\A&B\\x", "\"C:\\A&B\\x\"" },
        { "C:\\A|B\\x", "\"C:\\A|B\\x\"" },
        { "C:\\A<B\\x", "\"C:\\A<B\\x\"" },
        { "C:\\A>B\\x", "\"C:\\A>B\\x\"" },
        { "C:\\A^B\\x", "\"C:\\A^B\\x\"" },
        { "C:\\A(B)\\x", "\"C:\\A(B)\\x\"" },
        { "C:\\A;B\\x", "\"C:\\A;B\\x\"" },
        { "C:\\A,B\\x", "\"C:\\A,B\\x\"" },
        { "C:\\A=B\\x", "\"C:\\A=B\\x\"" },
        { "C:\\A!B\\x", "\"C:\\A!B\\x\"" },
        { "C:\\100%\\x", "\"C:\\100%%\\x\"" },
        { "C:\\%TEMP%\\%1", "\"C:\\%%TEMP%%\\%%1\"" },
        { "C:\\Temp dir & 50%\\KMGSetup7", "\"C:\\Temp dir & 50%%\\KMGSetup7\"" },
    };
    for (const QuoteCase& c : cases)
        EXPECT_STREQ(QuoteBatchPath(c.path), c.word) << c.path;
}

TEST(ScriptLines, QuoteOnlyThePath)
{
    EXPECT_STREQ(ScriptDeletionLine("C:\\My Temp\\0.bat"), "del \"C:\\My Temp\\0.bat\"\r\n");
    EXPECT_STREQ(ScriptRemovalLine("C:\\My Temp\\KMGSetup0"), "rmdir \"C:\\My Temp\\KMGSetup0\"\r\n");
}

// cmd.exe reads the script in the OEM code page; both Western ones hold u-umlaut at 0x81
// and have no euro sign.
bool WesternOemCodePage()
{
    return GetOEMCP() == 437 || GetOEMCP() == 850;
}

TEST(OemScriptPath, ConvertsExactlyOrFallsBackToTheShortFormOfWhatExists)
{
    if (!WesternOemCodePage())
        GTEST_SKIP() << "the cases are written for OEM code page 437 or 850; this system uses " << GetOEMCP();
    EXPECT_STREQ(OemScriptPath("C:\\TEMP\\KMGSetup0\\Data\\intro.dat"), "C:\\TEMP\\KMGSetup0\\Data\\intro.dat");
    EXPECT_STREQ(OemScriptPath("C:\\Users\\J\xfcrgen\\0.bat"), "C:\\Users\\J\x81rgen\\0.bat");

    ScratchFolder scratch("oem-path");
    const std::string euro = scratch.Path() + "Price \x80";
    ASSERT_TRUE(CreateDirectoryA(euro.c_str(), nullptr));
    const std::string tail = "\\KMGSetup0\\Data\\intro.dat";
    const std::string inside = euro + tail;
    const WtString oem = OemScriptPath(inside.c_str());
    ASSERT_FALSE(oem.IsEmpty());
    const std::string text = static_cast<const char*>(oem);
    EXPECT_EQ(text.find('\x80'), std::string::npos) << text;
    ASSERT_GT(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
    // Read back as cmd.exe reads it, it names the folder that exists.
    WtString folder = WtString(text.substr(0, text.size() - tail.size()).c_str());
    folder.OemToCharA();
    EXPECT_TRUE(FolderExists(static_cast<const char*>(folder))) << text;

    // Nothing of it exists, so there is no short form: no line rather than a misread one.
    EXPECT_TRUE(OemScriptPath("Q:\\Price \x80\\x.dat").IsEmpty());
    EXPECT_STREQ(ScriptDeletionLine("Q:\\Price \x80\\x.dat"), "");
    EXPECT_STREQ(ScriptRemovalLine("Q:\\Price \x80"), "");
}

TEST(ScriptOpening, WaitsForTheSetupProgramUnlessLingerxIsAlreadyThere)
{
    ScratchFolder scratch("opening");
    const std::string fresh = scratch.Path() + "KMGSetup0\\";
    EXPECT_STREQ(ScriptOpening(fresh.c_str()), ("cd \\\r\n" + fresh + "lingerx %1\r\n").c_str());

    ASSERT_TRUE(CreateDirectoryA(fresh.c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(fresh + "lingerx.exe", "MZ"));
    EXPECT_STREQ(ScriptOpening(fresh.c_str()), "cd \\\r\n");
}

TEST(ScriptOpening, QuotesTheWaitingProgramInAFolderWithABlank)
{
    EXPECT_STREQ(ScriptOpening("C:\\No Such Temp\\KMGSetup3\\"),
                 "cd \\\r\n\"C:\\No Such Temp\\KMGSetup3\\lingerx\" %1\r\n");
}

} // namespace
