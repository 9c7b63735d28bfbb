#include "launcher/UniqueName.h"

#include "launcher/LauncherTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>
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

// 0 first, then the runtime generator's numbers in the order it draws them, from the
// one sequence of the process: the call does not seed again.
TEST(MakeUniqueName, TriesZeroThenTheGeneratorsSequence)
{
    ScratchFolder scratch("unique-sequence");
    const std::string pattern = scratch.Path() + "%d.bat";
    EXPECT_STREQ(MakeUniqueName(pattern.c_str()), (scratch.Path() + "0.bat").c_str());

    const unsigned kSeed = 20061;
    const int kTaken = 4;
    srand(kSeed);
    std::vector<int> drawn;
    for (int draw = 0; draw <= kTaken; ++draw)
        drawn.push_back(rand());
    ASSERT_EQ(std::set<int>(drawn.begin(), drawn.end()).size(), drawn.size()) << "pick a seed without repeats";
    ASSERT_EQ(std::count(drawn.begin(), drawn.end(), 0), 0);
    ASSERT_TRUE(WriteTextFile(scratch.Path() + "0.bat", ""));
    for (int draw = 0; draw < kTaken; ++draw)
        ASSERT_TRUE(WriteTextFile(scratch.Path() + std::to_string(drawn[draw]) + ".bat", ""));

    srand(kSeed);
    EXPECT_STREQ(MakeUniqueName(pattern.c_str()), (scratch.Path() + std::to_string(drawn[kTaken]) + ".bat").c_str());
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
