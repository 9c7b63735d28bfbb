#include "bench/BenchSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ArgumentCase {
    std::vector<std::string> words;
    bool accepted;
    bool parts;
    int runs;
    size_t archives;
};

BenchArguments Parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "kmbench-test");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    return ParseBenchArguments(static_cast<int>(argv.size()), argv.data(), "kmbench-test");
}

TEST(BenchArgumentsTest, AcceptsOnlyWellFormedCommandLines)
{
    const ArgumentCase cases[] = {
        { { "3", "C:\\out", "a.kmarc" }, true, true, 3, 1 },
        { { "--whole-only", "1", "C:\\out", "a.kmarc", "b.kmarc" }, true, false, 1, 2 },
        { { "1000", "C:\\out", "a.kmarc" }, true, true, 1000, 1 },
        { { "0", "C:\\out", "a.kmarc" }, false, true, 0, 0 },
        { { "1001", "C:\\out", "a.kmarc" }, false, true, 0, 0 },
        { { "3x", "C:\\out", "a.kmarc" }, false, true, 0, 0 },
        { { "-2", "C:\\out", "a.kmarc" }, false, true, 0, 0 },
        { { "3", "C:\\out" }, false, true, 0, 0 },
        { { "--whole-only", "3", "C:\\out" }, false, true, 0, 0 },
        { {}, false, true, 0, 0 },
    };
    for (const ArgumentCase& c : cases) {
        SCOPED_TRACE(c.words.empty() ? std::string("(none)") : c.words[0] + " ...");
        if (!c.accepted) {
            EXPECT_THROW(Parse(c.words), BenchError);
            continue;
        }
        BenchArguments arguments = Parse(c.words);
        EXPECT_EQ(arguments.parts, c.parts);
        EXPECT_EQ(arguments.runs, c.runs);
        EXPECT_EQ(arguments.archives.size(), c.archives);
    }
}

TEST(BenchArgumentsTest, OutputFolderBecomesAbsoluteWithoutTrailingBackslash)
{
    EXPECT_EQ(Parse({ "1", "C:\\bench\\out\\", "a" }).outputFolder, "C:\\bench\\out");
    EXPECT_EQ(Parse({ "1", "C:\\", "a" }).outputFolder, "C:\\");

    char current[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
    ASSERT_GT(length, 0u);
    std::string expected(current, length);
    if (expected.back() != '\\')
        expected += '\\';
    EXPECT_EQ(Parse({ "1", "relative", "a" }).outputFolder, expected + "relative");
}

TEST(BenchSupportTest, FolderOfCutsAtTheLastBackslash)
{
    const struct {
        const char* path;
        const char* folder;
    } cases[] = {
        { "C:\\setup\\Docs\\Eng\\License.txt", "C:\\setup\\Docs\\Eng" },
        { "C:\\setup\\Photo.inf", "C:\\setup" },
        { "Photo.inf", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
}

class TreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
        m_root = std::string(temp) + "kmbench-tree-test";
        RemoveTree(m_root);
    }
    void TearDown() override { RemoveTree(m_root); }

    void MakeFile(const std::string& path, DWORD attributes)
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
        DWORD written = 0;
        WriteFile(file, "data", 4, &written, nullptr);
        CloseHandle(file);
    }

    bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::string m_root;
};

TEST_F(TreeTest, RemovesNestedFoldersAndReadOnlyFiles)
{
    RunFolders run = MakeRunFolders(m_root);
    ASSERT_TRUE(CreateDirectoryA(m_root.c_str(), nullptr));
    for (const std::string* folder : { &run.full, &run.folders, &run.files })
        ASSERT_TRUE(CreateDirectoryA(folder->c_str(), nullptr)) << *folder;
    ASSERT_TRUE(CreateDirectoryA((run.full + "Docs").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((run.full + "Docs\\Eng").c_str(), nullptr));
    MakeFile(run.full + "Docs\\Eng\\License.txt", FILE_ATTRIBUTE_READONLY);
    MakeFile(run.full + "Photo.inf", FILE_ATTRIBUTE_NORMAL);
    MakeFile(run.files + "Setup.ini", FILE_ATTRIBUTE_NORMAL);

    RemovePartialFolders(run);
    EXPECT_TRUE(Exists(run.full + "Photo.inf"));
    EXPECT_FALSE(Exists(run.files));
    EXPECT_FALSE(Exists(run.folders));

    RemoveRunFolders(run);
    EXPECT_FALSE(Exists(run.full));
    EXPECT_TRUE(Exists(m_root));
}

TEST_F(TreeTest, MissingTreeIsNoFault)
{
    EXPECT_NO_THROW(RemoveTree(m_root + "\\not-there"));
}

TEST_F(TreeTest, DamagedOrMissingArchivesAreRefusedBeforeAnyRun)
{
    ASSERT_TRUE(CreateDirectoryA(m_root.c_str(), nullptr));
    std::string shortFile = m_root + "\\short.kmarc";
    MakeFile(shortFile, FILE_ATTRIBUTE_NORMAL);  // 4 bytes: a directory offset of "data", far outside
    EXPECT_THROW(LoadArchives({ shortFile }, 0), BenchError);
    EXPECT_THROW(LoadArchives({ m_root + "\\missing.kmarc" }, 0), BenchError);
}

TEST_F(TreeTest, LongestRunFolderCountsTheTrailingBackslash)
{
    RunFolders run = MakeRunFolders("C:\\b");
    EXPECT_EQ(run.folders, "C:\\b\\folders\\");
    EXPECT_EQ(LongestRunFolder(run), std::string("C:\\b\\folders\\").size());
}

} // namespace
