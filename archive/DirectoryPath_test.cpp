#include "archive/DirectoryPath.h"
#include "archive/ExtractTestSupport.h"

#include <cctype>

namespace {

class DirectoryPathTest : public ScratchTest
{
protected:
    // "@" stands for the scratch folder.
    std::string At(std::string path) const
    {
        if (path[0] == '@')
            path.replace(0, 1, scratch);
        return path;
    }
};

TEST_F(DirectoryPathTest, RecordsExactlyTheFoldersItCreates)
{
    CloseHandle(CreateFileA(At("@\\blocker").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string lowerDrive = At("@\\Low");
    lowerDrive[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowerDrive[0])));
    const std::string longParent = "@\\" + std::string(120, 'p');
    // Its full path is 258 characters, more than a 256-byte buffer holds.
    const std::string longFolder = longParent + "\\" + std::string(257 - At(longParent).size(), 'f');

    const struct { Paths paths; int result; Paths created; } cases[] = {
        {{"@\\A\\B", "@\\A\\B", "@\\A\\C"}, 0, {"@\\A\\C", "@\\A\\B", "@\\A"}},
        {{lowerDrive}, 0, {"@\\Low"}},
        {{"@\\Fresh\\..\\blocker\\Never"}, 1, {"@\\Fresh"}},
        {{longFolder}, 0, {longFolder, longParent}},
        {{"ab:\\x", "J:\\x", "1:\\x"}, 1, {}},
    };
    for (const auto& c : cases) {
        CreatedDirectoryList list;
        for (const std::string& path : c.paths)
            EXPECT_EQ(MakeDirectoryPath(At(path).c_str(), &list), c.result) << path;
        Paths created;
        for (const std::string& path : c.created)
            created.push_back(At(path));
        EXPECT_EQ(Listed(list), created) << c.paths[0];
        EXPECT_EQ(CurrentDirectory(), expectedDirectory) << c.paths[0];
    }
}

// Below a folder that exists, odd spellings must come out as a walk from the root gives
// them: the recorded path is what the current-directory query reports.
TEST_F(DirectoryPathTest, FolderBelowAnExistingOneIsRecordedAsTheWalkGivesIt)
{
    ASSERT_TRUE(CreateDirectoryA(At("@\\P").c_str(), nullptr));
    CloseHandle(CreateFileA(At("@\\P\\file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string lowerDrive = At("@\\P\\low");
    lowerDrive[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowerDrive[0])));

    const struct { std::string path; int result; Paths created; } cases[] = {
        {"@\\P\\new", 0, {"@\\P\\new"}},
        {lowerDrive, 0, {"@\\P\\low"}},
        {"@\\P\\.\\dot", 0, {"@\\P\\dot"}},
        {"@\\P\\x\\..\\up", 0, {"@\\P\\up", "@\\P\\x"}},
        {"@\\P\\\\twice", 1, {}},
        {"@\\P\\trail.", 0, {"@\\P\\trail"}},
        {"@\\P\\blank ", 0, {"@\\P\\blank"}},
        {"@\\P/slash", 0, {"@\\P\\slash"}},
        {"@\\P\\file\\below", 1, {}},
        {"@\\P\\" + std::string(300, 'c'), 1, {}},
    };
    for (const auto& c : cases) {
        CreatedDirectoryList list;
        EXPECT_EQ(MakeDirectoryPath(At(c.path).c_str(), &list), c.result) << c.path;
        Paths created;
        for (const std::string& path : c.created)
            created.push_back(At(path));
        EXPECT_EQ(Listed(list), created) << c.path;
        EXPECT_EQ(CurrentDirectory(), expectedDirectory) << c.path;
    }
}

TEST_F(DirectoryPathTest, RelativePathIsMadeHereAndRecordedInFull)
{
    EnterScratch();
    CreatedDirectoryList list;
    EXPECT_EQ(MakeDirectoryPath("Rel\\Sub", &list), 0);
    EXPECT_EQ(Listed(list), (Paths{scratch + "\\Rel\\Sub", scratch + "\\Rel"}));
    EXPECT_EQ(MakeDirectoryPath("Unlisted\\Sub", nullptr), 0);
    EXPECT_TRUE(std::filesystem::is_directory(scratch + "\\Unlisted\\Sub"));
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

    // A drive whose recorded directory is gone cannot be made current: nothing is made.
    SetEnvironmentVariableA("=Q:", "Q:\\gone");
    EXPECT_EQ(MakeDirectoryPath("Q:\\never", &list), 1);
    EXPECT_EQ(GetFileAttributesA("Q:\\never"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(list.GetCount(), 2);
}

TEST_F(DirectoryPathTest, CallerOnANetworkShareIsBroughtBack)
{
    SKIP_UNLESS_DRIVES_MAPPED();
    ASSERT_TRUE(SetCurrentDirectoryA(kTestShare));
    expectedDirectory = kTestShare;
    EXPECT_EQ(MakeDirectoryPath((scratch + "\\FromShare").c_str(), nullptr), 0);
    EXPECT_TRUE(std::filesystem::is_directory(scratch + "\\FromShare"));
}

} // namespace
