#include "archive/EntryName.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Windows' own rule: the part before the first dot, trailing blanks removed, names the
// device, and COM and LPT take 0 and the superscript digits of code page 1252 too.
TEST(EntryNameTest, DeviceNamesAreFoundAsWindowsFindsThem)
{
    const std::string devices[] = { "NUL .dat", "CON .txt", "aux  .x.y", "Docs\\PRN", "CONIN$", "conout$.log",
                                    "COM0", "LPT0.txt", "COM\xB9", "lpt\xB2.txt", "Com\xB3", "Data\\NUL" };
    for (const std::string& name : devices) {
        uint32_t where = 99;
        EXPECT_EQ(EntryNameFault::DeviceName, CheckEntryName(name.data(), uint32_t(name.size()), 0,
                                                             kMaxOutputPathLength, &where)) << name;
        EXPECT_EQ(name.find('\\') == std::string::npos ? 0u : name.find('\\') + 1, where) << name;
    }
    for (const char* name : { "NULL", "CON_.txt", "CONIN", "CONOUT$x", "COM", "COM10", "LPT\xB4", "COM\xB9\xB9",
                                     "x.NUL", "NUL-.dat" })
        EXPECT_TRUE(IsSafe(name)) << name;
}

TEST(EntryNameTest, EachFaultIsNamed)
{
    const struct {
        std::string name;
        EntryNameFault fault;
    } cases[] = {
        { "", EntryNameFault::Empty },
        { "a\\\\b", EntryNameFault::EmptyComponent },
        { "say \"hi\"", EntryNameFault::ForbiddenCharacter },
        { "Data.\\a", EntryNameFault::TrailingDotOrBlank },
        { "..", EntryNameFault::TrailingDotOrBlank },
        { "Data\\CON .txt", EntryNameFault::DeviceName },
        { "Notes; draft.txt", EntryNameFault::None },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.fault, CheckEntryName(c.name.data(), uint32_t(c.name.size()), 0)) << c.name;
    EXPECT_NE(nullptr, std::strstr(DescribeEntryNameFault(EntryNameFault::DeviceName), "device"));
}

TEST(EntryNameTest, OutputPathMustFitTheExtractorBuffer)
{
    EXPECT_TRUE(IsSafe(std::string(255, 'n'), kMaxOutputPathLength - 255));
    EXPECT_FALSE(IsSafe(std::string(255, 'n'), kMaxOutputPathLength - 254));
    EXPECT_FALSE(IsSafe("a", 0xFFFFFFFFu));  // the sum must not wrap around
    // A packer's stricter limit: what Windows' ANSI file calls take, below a typical
    // setup folder.
    const uint32_t fits = kMaxAnsiPathLength - kTypicalSetupFolderLength;
    EXPECT_EQ(145u, fits);
    EXPECT_EQ(EntryNameFault::None, CheckEntryName(std::string(fits, 'n').data(), fits, kTypicalSetupFolderLength,
                                                   kMaxAnsiPathLength));
    EXPECT_EQ(EntryNameFault::TooLong, CheckEntryName(std::string(fits + 1, 'n').data(), fits + 1,
                                                      kTypicalSetupFolderLength, kMaxAnsiPathLength));
}

} // namespace
