#include "archive/DirectoryPath.h"
#include "archive/ExtractTestSupport.h"

#include <cctype>
#include <sstream>

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

namespace {

// Everything a call leaves that a later step of the run may see.
struct Outcome {
    int result = -1;
    Paths created;
    std::string current;
    std::string recordC, recordQ;

    bool operator==(const Outcome& other) const
    {
        return result == other.result && created == other.created && current == other.current &&
               recordC == other.recordC && recordQ == other.recordQ;
    }
};

std::string Record(char drive)
{
    const std::string name = std::string("=") + drive + ":";
    char value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(name.c_str(), value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(value, length) : std::string("(none)");
}

std::ostream& operator<<(std::ostream& out, const Outcome& outcome)
{
    out << "result " << outcome.result << ", created {";
    for (const std::string& path : outcome.created)
        out << " " << path;
    return out << " }, current " << outcome.current << ", =C: " << outcome.recordC << ", =Q: " << outcome.recordQ;
}

std::string LowerDrive(std::string path)
{
    path[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    return path;
}

// Where the caller stands and what the drives record when a call starts.
struct CallerState {
    const char* name;
    std::string current;
    std::string recordC, recordQ; // empty: no record
};

} // namespace

// The direct creation of a plain full path must leave exactly what the walk leaves:
// the same folders in the list, spelt the same, the same current directory and the
// same drive records, whatever the caller's directory, the drives' records and the
// spelling of the path. Each shape runs once walked and once as MakeDirectoryPath
// takes it, from the same state.
TEST_F(DirectoryPathTest, DirectCreationLeavesWhatTheWalkLeaves)
{
    const bool drives = std::getenv("KM_TEST_DRIVES_MAPPED") != nullptr;
    const std::string exist = scratch + "\\Exist";
    const std::string keep = "Q:\\keep-" + std::to_string(GetCurrentProcessId());
    const std::string recorded = scratch + "\\Recorded";
    std::vector<CallerState> states = {
        { "in scratch", scratch, "", "" },
        { "in scratch, lower-case letter", LowerDrive(scratch), "", "" },
        { "in a folder below", exist, "", "" },
    };
    if (drives) {
        states.push_back({ "on Q:", keep, "", "" });
        states.push_back({ "on Q:, C: recorded lower-case", keep, LowerDrive(recorded), "" });
        states.push_back({ "on Q:, C: recorded with a trailing backslash", keep, recorded + "\\", "" });
        states.push_back({ "in scratch, Q: recorded lower-case", scratch, "", LowerDrive(keep) });
        states.push_back({ "in scratch, Q: recorded with a trailing backslash", scratch, "", keep + "\\" });
        states.push_back({ "on the share", kTestShare, "", "" });
    }
    std::vector<std::string> shapes = {
        "@\\One",
        "@\\One\\Two\\Three",
        "@\\Exist\\New",
        "@\\EXIST\\New",
        "@\\Exist\\New\\Deeper",
        "@\\File\\Below",
        "@\\trail.\\x",
        "@\\a b\\c",
        // The longest path that is created directly, and one character more.
        "@\\" + std::string(246 - scratch.size(), 'n'),
        "@\\" + std::string(247 - scratch.size(), 'n'),
        LowerDrive(scratch) + "\\Lower",
        LowerDrive(scratch) + "\\Lower\\Two",
    };
    if (drives) {
        for (const std::string& shape : { std::string("Q:\\QNew"), std::string("q:\\QLower\\Two"), keep + "\\Inside",
                                          LowerDrive(keep) + "\\LowerInside" })
            shapes.push_back(shape);
    }

    int compared = 0;
    std::vector<std::string> differences;
    for (const CallerState& state : states) {
        for (const std::string& shape : shapes) {
            const std::string path = At(shape);
            Outcome outcomes[2];
            for (int direct = 0; direct < 2; ++direct) {
                // The same state for both: fixtures made afresh, the records as given.
                ASSERT_TRUE(CreateDirectoryA(exist.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
                ASSERT_TRUE(CreateDirectoryA(recorded.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
                CloseHandle(CreateFileA(At("@\\File").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
                if (drives) {
                    ASSERT_TRUE(CreateDirectoryA(keep.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
                }
                ASSERT_TRUE(SetCurrentDirectoryA(state.current.c_str())) << state.current;
                for (char drive = 'A'; drive <= 'Z'; ++drive)
                    SetEnvironmentVariableA((std::string("=") + drive + ":").c_str(), nullptr);
                if (!state.recordC.empty())
                    SetEnvironmentVariableA("=C:", state.recordC.c_str());
                if (!state.recordQ.empty())
                    SetEnvironmentVariableA("=Q:", state.recordQ.c_str());

                CreatedDirectoryList list;
                Outcome& outcome = outcomes[direct];
                outcome.result = direct ? MakeDirectoryPath(path.c_str(), &list) : WalkDirectoryPath(path.c_str(), &list);
                outcome.created = Listed(list);
                outcome.current = CurrentDirectory();
                outcome.recordC = Record('C');
                outcome.recordQ = Record('Q');
                SetCurrentDirectoryA(scratch.c_str());
                for (const std::string& folder : outcome.created)
                    RemoveDirectoryA(folder.c_str());
            }
            ++compared;
            if (!(outcomes[0] == outcomes[1])) {
                std::ostringstream difference;
                difference << state.name << ", " << path << ":\n  walk:   " << outcomes[0] << "\n  direct: "
                           << outcomes[1];
                differences.push_back(difference.str());
            }
        }
    }
    SetCurrentDirectoryA(expectedDirectory.c_str());
    for (char drive = 'A'; drive <= 'Z'; ++drive)
        SetEnvironmentVariableA((std::string("=") + drive + ":").c_str(), nullptr);
    if (drives)
        RemoveDirectoryA(keep.c_str());

    std::cout << compared << " path shapes and caller states compared, " << differences.size() << " differ"
              << std::endl;
    for (const std::string& difference : differences)
        ADD_FAILURE() << difference;
    EXPECT_GT(compared, 40);
}
