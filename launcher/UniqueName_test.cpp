#include "launcher/UniqueName.h"

#include "launcher/LauncherTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <windows.h>

namespace {

// The number a result of pattern prefix + "%d" + suffix was filled with, or -1.
int NumberIn(const std::string& result, const std::string& prefix, const std::string& suffix)
{
    if (result.size() <= prefix.size() + suffix.size() || result.compare(0, prefix.size(), prefix) != 0 ||
        result.compare(result.size() - suffix.size(), suffix.size(), suffix) != 0)
        return -1;
    std::string digits = result.substr(prefix.size(), result.size() - prefix.size() - suffix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::atoi(digits.c_str());
}

TEST(MakeUniqueName, ExistingFilesAndFoldersAreSkipped)
{
    ScratchFolder scratch("unique-taken");
    ASSERT_TRUE(WriteTextFile(scratch.Path() + "0.bat", ""));
    ASSERT_TRUE(CreateDirectoryA((scratch.Path() + "KMGSetup0").c_str(), nullptr));

    for (const char* suffix : { ".bat", "" }) {
        std::string prefix = scratch.Path() + (*suffix ? "" : "KMGSetup");
        WtString name = MakeUniqueName((prefix + "%d" + suffix).c_str());
        int number = NumberIn(static_cast<const char*>(name), prefix, suffix);
        EXPECT_GE(number, 1) << static_cast<const char*>(name);
        EXPECT_LE(number, 32767);
        EXPECT_EQ(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES);
    }
}

TEST(MakeUniqueName, GivesUpWhenEveryCandidateExists)
{
    ScratchFolder scratch("unique-none");
    // "<number>\.." names the scratch folder itself, whatever the number.
    EXPECT_TRUE(MakeUniqueName((scratch.Path() + "%d\\..").c_str()).IsEmpty());
}

TEST(MakeUniqueName, PercentSignsOfAnEscapedFolderStayLiteral)
{
    ScratchFolder scratch("unique-percent");
    const std::string folder = scratch.Path() + "50%d off\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_STREQ(MakeUniqueName(EscapeForFormat(folder.c_str()) + "%d.bat"), (folder + "0.bat").c_str());
}

TEST(EscapeForFormat, DoublesEveryPercentSign)
{
    const struct {
        const char* text;
        const char* escaped;
    } cases[] = {
        { "", "" },
        { "C:\\TEMP\\", "C:\\TEMP\\" },
        { "C:\\100%\\", "C:\\100%%\\" },
        { "%d%s%%", "%%d%%s%%%%" },
    };
    for (const auto& c : cases)
        EXPECT_STREQ(EscapeForFormat(c.text), c.escaped) << c.text;
}

} // namespace
