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
