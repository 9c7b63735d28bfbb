#include "archive/DirectoryPath.h"
#include "archive/ExtractTestSupport.h"

#include <cctype>

namespace {

class DirectoryPathTest : public ScratchTest
{
};

TEST_F(DirectoryPathTest, RecordsOnlyTheFoldersItCreates)
{
    CreatedDirectoryList list;
    EXPECT_EQ(MakeDirectoryPath((scratch + "\\A\\B").c_str(), &list), 0);
    EXPECT_EQ(MakeDirectoryPath((scratch + "\\A\\B").c_str(), &list), 0);
    EXPECT_EQ(MakeDirectoryPath((scratch + "\\A\\C").c_str(), &list), 0);
    EXPECT_EQ(Listed(list), (Paths{scratch + "\\A\\C", scratch + "\\A\\B", scratch + "\\A"}));
}

TEST_F(DirectoryPathTest, LowerCaseDriveIsRecordedAsTheSystemReportsIt)
{
    std::string path = scratch + "\\Low";
    path[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    CreatedDirectoryList list;
    EXPECT_EQ(MakeDirectoryPath(path.c_str(), &list), 0);
    EXPECT_EQ(Listed(list), Paths{scratch + "\\Low"});
}

TEST_F(DirectoryPathTest, RelativePathIsMadeHereAndRecordedInFull)
{
    ASSERT_TRUE(SetCurrentDirectoryA(scratch.c_str()));
    expectedDirectory = scratch;
    CreatedDirectoryList list;
    EXPECT_EQ(MakeDirectoryPath("Rel\\Sub", &list), 0);
    EXPECT_EQ(Listed(list), (Paths{scratch + "\\Rel\\Sub", scratch + "\\Rel"}));
}

TEST_F(DirectoryPathTest, FoldersAreMadeWithoutAList)
{
    EXPECT_EQ(MakeDirectoryPath((scratch + "\\X\\Y").c_str(), nullptr), 0);
    EXPECT_TRUE(IsFolder(scratch + "\\X\\Y"));
}

TEST_F(DirectoryPathTest, FileInPlaceOfAComponentFailsAndKeepsEarlierFolders)
{
    CloseHandle(CreateFileA((scratch + "\\blocker").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    CreatedDirectoryList list;
    EXPECT_EQ(MakeDirectoryPath((scratch + "\\Fresh\\..\\blocker\\Never").c_str(), &list), 1);
    EXPECT_EQ(Listed(list), Paths{scratch + "\\Fresh"});
}

TEST_F(DirectoryPathTest, UnusableDriveFailsAndCreatesNothing)
{
    for (const char* path : {"ab:\\x", "J:\\x", "1:\\x"}) {
        CreatedDirectoryList list;
        EXPECT_EQ(MakeDirectoryPath(path, &list), 1) << path;
        EXPECT_EQ(list.GetCount(), 0) << path;
    }
}

TEST_F(DirectoryPathTest, FolderPathOver255CharactersIsRecordedWhole)
{
    const std::string parent = scratch + "\\" + std::string(120, 'p');
    ASSERT_LT(parent.size(), 250u);
    const std::string folder = parent + "\\" + std::string(257 - parent.size(), 'f');
    CreatedDirectoryList list;
    EXPECT_EQ(MakeDirectoryPath(folder.c_str(), &list), 0);
    EXPECT_EQ(folder.size(), 258u);
    EXPECT_EQ(Listed(list), (Paths{folder, parent}));
}

TEST_F(DirectoryPathTest, PathOnAnotherDriveLeavesEachDriveInItsDirectory)
{
    SKIP_UNLESS_DRIVES_MAPPED();
    ASSERT_TRUE(CreateDirectoryA("Q:\\keep", nullptr));
    SetEnvironmentVariableA("=Q:", "Q:\\keep");
    CreatedDirectoryList list;
    EXPECT_EQ(MakeDirectoryPath("Q:\\made\\deep", &list), 0);
    EXPECT_EQ(Listed(list), (Paths{"Q:\\made\\deep", "Q:\\made"}));
    char full[MAX_PATH];
    GetFullPathNameA("Q:file", MAX_PATH, full, nullptr);
    EXPECT_STREQ(full, "Q:\\keep\\file");
}

TEST_F(DirectoryPathTest, CallerOnANetworkShareIsBroughtBack)
{
    SKIP_UNLESS_DRIVES_MAPPED();
    ASSERT_TRUE(SetCurrentDirectoryA(kTestShare));
    expectedDirectory = kTestShare;
    EXPECT_EQ(MakeDirectoryPath((scratch + "\\FromShare").c_str(), nullptr), 0);
    EXPECT_TRUE(IsFolder(scratch + "\\FromShare"));
}

} // namespace
