#include "archive/EntryName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool IsSafe(const std::string& name, uint32_t folderLength = 0)
{
    return IsSafeEntryName(name.data(), static_cast<uint32_t>(name.size()), folderLength);
}

TEST(EntryNameTest, AcceptsRelativeNames)
{
    for (const char* name : { "Zephrun.exe", "Data\\intro.dat", "Docs\\Italiano\\Leggimi.txt", ".hidden", "a b\\c d.txt",
                              "Caf\xE9.txt", "CONFIG.SYS", "COM10", "x..y" })
        EXPECT_TRUE(IsSafe(name)) << name;
}

TEST(EntryNameTest, RejectsNamesThatLeaveTheFolderOrCannotBeFiles)
{
    const std::string cases[] = {
        "", "\\Windows\\evil.dll", "\\\\server\\share\\x", "C:\\evil.dll", "C:evil.dll", "file.txt:stream",
        "Data\\", "Data/a.txt", "Data\\\\a.txt", "Data\\.\\a.txt", "..\\evil.dll", "Data\\..\\..\\evil.dll",
        "Data\\..", "Data\\a.", "...\\a.txt", "Data \\a.txt", "a\tb.txt", std::string("a\0b", 3), "a\x7F",
        "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "CON", "Data\\nul.txt", "lpt1", "Docs\\COM9.log",
    };
    for (const std::string& name : cases)
        EXPECT_FALSE(IsSafe(name)) << name;
}

TEST(EntryNameTest, OutputPathMustFitTheExtractorBuffer)
{
    EXPECT_TRUE(IsSafe(std::string(255, 'n'), kMaxOutputPathLength - 255));
    EXPECT_FALSE(IsSafe(std::string(255, 'n'), kMaxOutputPathLength - 254));
    EXPECT_FALSE(IsSafe("a", 0xFFFFFFFFu));  // the sum must not wrap around
}

} // namespace
