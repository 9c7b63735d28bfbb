#include "archive/EntryName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool IsSafe(const std::string& name, uint32_t folderLength = 0)
{
    return IsSafeEntryName(name.data(), static_cast<uint32_t>(name.size()), folderLength);
}

TEST(EntryNameTest, AcceptsRelativeNamesOfTheShippedKinds)
{
    for (const char* name : { "Zephrun.exe", "Data\\intro.dat", "Docs\\Italiano\\Leggimi.txt", ".hidden",
                              "a b\\c d.txt", "Caf\xE9.txt", "CONFIG.SYS", "COM10", "x..y" })
        EXPECT_TRUE(IsSafe(name)) << name;
}

TEST(EntryNameTest, RejectsNamesThatLeaveTheFolderOrCannotBeFiles)
{
    const struct {
        const char* what;
        std::string name;
    } cases[] = {
        { "empty", "" },
        { "absolute", "\\Windows\\evil.dll" },
        { "UNC", "\\\\server\\share\\x" },
        { "drive", "C:\\evil.dll" },
        { "drive-relative", "C:evil.dll" },
        { "stream colon", "file.txt:hidden" },
        { "leading backslash", "\\a.txt" },
        { "trailing backslash", "Data\\" },
        { "forward slash", "Data/a.txt" },
        { "empty component", "Data\\\\a.txt" },
        { "dot component", "Data\\.\\a.txt" },
        { "dot dot component", "..\\evil.dll" },
        { "dot dot in the middle", "Data\\..\\..\\evil.dll" },
        { "dot dot last", "Data\\.." },
        { "trailing dot", "Data\\a." },
        { "three dots", "...\\a.txt" },
        { "trailing blank", "Data \\a.txt" },
        { "control character", "a\tb.txt" },
        { "zero byte", std::string("a\0b.txt", 7) },
        { "delete character", "a\x7F.txt" },
        { "less than", "a<b" },
        { "greater than", "a>b" },
        { "quote", "a\"b" },
        { "pipe", "a|b" },
        { "question mark", "a?b" },
        { "asterisk", "a*b" },
        { "device", "CON" },
        { "device with extension", "Data\\nul.txt" },
        { "numbered device", "lpt1" },
        { "numbered device with extension", "Docs\\COM9.log" },
    };
    for (const auto& c : cases)
        EXPECT_FALSE(IsSafe(c.name)) << c.what;
}

TEST(EntryNameTest, OutputPathMustFitTheExtractorBuffer)
{
    const std::string name(255, 'n');
    EXPECT_TRUE(IsSafe(name, kMaxOutputPathLength - 255));
    EXPECT_FALSE(IsSafe(name, kMaxOutputPathLength - 254));
    EXPECT_TRUE(IsSafe("a", kMaxOutputPathLength - 1));
    EXPECT_FALSE(IsSafe("a", kMaxOutputPathLength));
    // A folder length near the top of the range must not wrap the sum around.
    EXPECT_FALSE(IsSafe("a", 0xFFFFFFFFu));
}

} // namespace
