#include "launcher/AnsiPath.h"

#include "launcher/LauncherTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const UINT kWesternCodePage = 1252;

struct ExactCase {
    const wchar_t* path;
    const char* ansi; // null: no exact form
};

TEST(ToExactAnsi, TakesOnlyPathsEveryCharacterOfWhichHasItsOwnPlace)
{
    if (GetACP() != kWesternCodePage)
        GTEST_SKIP() << "the cases are written for code page 1252; this system uses " << GetACP();
    const ExactCase cases[] = {
        { L"C:\\TEMP\\", "C:\\TEMP\\" },
        { L"C:\\Users\\J\u00fcrgen\\AppData\\Local\\Temp\\", "C:\\Users\\J\xfcrgen\\AppData\\Local\\Temp\\" },
        { L"C:\\Users\\A\u2013B\u20ac\\", "C:\\Users\\A\x96" "B\x80\\" },
        { L"C:\\Users\\\u0391\u03bb\u03ad\u03be\u03b7\\", nullptr },
        { L"C:\\Users\\\u5f20\u4f1f\\", nullptr },
        // Best fit would quietly turn these into other names: A, a, c.
        { L"C:\\Users\\\u0100\u0101\u010d\\", nullptr },
    };
    for (const ExactCase& c : cases) {
        char buffer[MAX_PATH];
        std::memset(buffer, 'x', sizeof buffer);
        const bool exact = ToExactAnsi(c.path, buffer, MAX_PATH);
        EXPECT_EQ(exact, c.ansi != nullptr) << buffer;
        if (c.ansi) {
            EXPECT_STREQ(buffer, c.ansi);
        }
    }
    char small[8];
    EXPECT_FALSE(ToExactAnsi(L"C:\\TEMP\\longer", small, sizeof small));
}

class UsableAnsiPathTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const std::wstring& folder : made)
            RemoveDirectoryW(folder.c_str());
    }

    // A folder of this name inside the scratch folder, with its full wide path.
    std::wstring MakeFolder(const wchar_t* name)
    {
        std::wstring path(scratch.Path().begin(), scratch.Path().end());
        path += name;
        EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
        made.push_back(path);
        return path + L"\\";
    }

    ScratchFolder scratch{ "ansi-path" };
    std::vector<std::wstring> made;
};

TEST_F(UsableAnsiPathTest, NamesOutsideTheCodePageTakeTheShortFormThatStillNamesTheFolder)
{
    if (GetACP() != kWesternCodePage)
        GTEST_SKIP() << "the names are written for code page 1252";
    const std::wstring greek = MakeFolder(L"Temp \u0391\u03bb\u03ad\u03be\u03b7\u03c2");
    char usable[MAX_PATH];
    ASSERT_TRUE(ToUsableAnsiPath(greek.c_str(), usable, MAX_PATH));
    const std::string path = usable;
    EXPECT_EQ(path.find('?'), std::string::npos) << path;
    EXPECT_EQ(path.back(), '\\');
    EXPECT_TRUE(FolderExists(path)) << path;
    // The same folder: a file made through the short form shows under the long one.
    ASSERT_TRUE(WriteTextFile(path + "probe.txt", "x"));
    EXPECT_NE(GetFileAttributesW((greek + L"probe.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW((greek + L"probe.txt").c_str());
}

TEST_F(UsableAnsiPathTest, AMissingPathOutsideTheCodePageHasNoUsableForm)
{
    std::wstring missing(scratch.Path().begin(), scratch.Path().end());
    missing += L"\u0391\u03bb\u03ad\u03be\u03b7\\";
    char usable[MAX_PATH] = "unchanged";
    EXPECT_FALSE(ToUsableAnsiPath(missing.c_str(), usable, MAX_PATH));
    EXPECT_STREQ(usable, "unchanged");
}

} // namespace
