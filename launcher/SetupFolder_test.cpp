#include "launcher/SetupFolder.h"

#include "launcher/LauncherTestSupport.h"
#include "launcher/UniqueName.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <string>
#include <vector>

namespace {

const DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                           FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
const DWORD kReadAndExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
const BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

struct AllowedEntry {
    WELL_KNOWN_SID_TYPE who; // WinNullSid for a SID that is none of the three below
    DWORD rights;
    BYTE flags;
};

WELL_KNOWN_SID_TYPE WhoIs(PSID sid)
{
    for (WELL_KNOWN_SID_TYPE known :
         { WinLocalSystemSid, WinBuiltinAdministratorsSid, WinWorldSid, WinCreatorOwnerRightsSid }) {
        if (IsWellKnownSid(sid, known))
            return known;
    }
    return WinNullSid;
}

// What a creation call received: the path, the descriptor in SDDL and its DACL entries.
struct CreationSeen {
    std::string path;
    bool hasDescriptor = false;
    bool protectedDacl = false;
    bool onlyAllowEntries = true;
    WELL_KNOWN_SID_TYPE owner = WinNullSid; // WinNullSid also when none is named
    std::vector<AllowedEntry> entries;
    std::string sddl;
};

std::vector<CreationSeen> g_seen;

std::string ReadFileBytesOf(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}
// What the first creation call finds at its path, put there after the name was probed.
enum class Planted { Nothing, FolderWithFile, File };
Planted g_plantOnFirstCall = Planted::Nothing;
const char kPlantedText[] = "somebody else's";

CreationSeen Describe(LPCSTR path, LPSECURITY_ATTRIBUTES security)
{
    CreationSeen seen;
    seen.path = path;
    if (!security || !security->lpSecurityDescriptor)
        return seen;
    PSECURITY_DESCRIPTOR descriptor = security->lpSecurityDescriptor;
    seen.hasDescriptor = true;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    seen.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) && owner)
        seen.owner = WhoIs(owner);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    for (DWORD index = 0; present && dacl && index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        GetAce(dacl, index, &entry);
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            seen.onlyAllowEntries = false;
            continue;
        }
        const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        seen.entries.push_back({ WhoIs(const_cast<DWORD*>(&allowed->SidStart)), allowed->Mask, header->AceFlags });
    }
    char* text = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        seen.sddl = text;
        LocalFree(text);
    }
    return seen;
}

void Plant(const std::string& path, Planted what)
{
    switch (what) {
    case Planted::Nothing:
        break;
    case Planted::FolderWithFile:
        CreateDirectoryA(path.c_str(), nullptr);
        WriteTextFile(path + "\\inside.txt", kPlantedText);
        break;
    case Planted::File:
        WriteTextFile(path, kPlantedText);
        break;
    }
}

OwnedHandle RecordingCreate(const char* path, SECURITY_ATTRIBUTES* security)
{
    g_seen.push_back(Describe(path, security));
    if (g_seen.size() == 1)
        Plant(path, g_plantOnFirstCall);
    return CreateHeldFolder(path, security);
}

struct FileCreationArguments {
    DWORD access, share, disposition, flags;
};
FileCreationArguments g_fileArguments;

HANDLE WINAPI RecordingCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile)
{
    g_seen.push_back(Describe(path, security));
    g_fileArguments = { access, share, disposition, flags };
    return CreateFileA(path, access, share, security, disposition, flags, templateFile);
}

OwnedHandle RefusingCreate(const char* path, SECURITY_ATTRIBUTES*)
{
    g_seen.push_back(CreationSeen());
    g_seen.back().path = path;
    return OwnedHandle();
}

// The DACL of an existing file or folder in SDDL, as the system reads it back.
std::string ReadBackDacl(const char* path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return "(unreadable)";
    char* text = nullptr;
    std::string sddl = "(unconvertible)";
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &text, nullptr)) {
        sddl = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return sddl;
}

bool RunsUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

class CreateSetupFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen.clear();
        g_plantOnFirstCall = Planted::Nothing;
    }

    WtString Create(CreateFolderFunction create, WtString& lastTried)
    {
        hold.Close();
        return CreateSetupFolder((scratch.Path() + "KMGSetup%d").c_str(), security.Attributes(), create, hold,
                                 lastTried);
    }

    OwnedHandle hold;

    ScratchFolder scratch{ "setup-folder" };
    SetupFolderSecurity security;
};

// Administrators own it, SYSTEM and Administrators have full control, everybody else
// and any owner of what is made inside may read and execute, the temporary folder's
// entries stop here, and everything made inside inherits the same.
void ExpectOnlyAdministratorsWrite(const CreationSeen& seen)
{
    std::cout << "descriptor passed to the creation of " << seen.path << ": " << seen.sddl << std::endl;
    ASSERT_TRUE(seen.hasDescriptor);
    EXPECT_EQ(seen.owner, WinBuiltinAdministratorsSid) << "a default owner may be the user's own account";
    EXPECT_TRUE(seen.protectedDacl) << "the temporary folder's entries would be inherited";
    EXPECT_TRUE(seen.onlyAllowEntries);
    bool systemFull = false, administratorsFull = false, everybodyReads = false, ownerRightsLimited = false;
    for (const AllowedEntry& entry : seen.entries) {
        EXPECT_EQ(entry.flags & kInheritedByAll, kInheritedByAll) << entry.who;
        const bool full = (entry.rights & FILE_ALL_ACCESS) == FILE_ALL_ACCESS;
        systemFull |= entry.who == WinLocalSystemSid && full;
        administratorsFull |= entry.who == WinBuiltinAdministratorsSid && full;
        everybodyReads |= entry.who == WinWorldSid && (entry.rights & kReadAndExecute) == kReadAndExecute;
        ownerRightsLimited |= entry.who == WinCreatorOwnerRightsSid;
        if (entry.who != WinLocalSystemSid && entry.who != WinBuiltinAdministratorsSid) {
            EXPECT_EQ(entry.rights & kWriteRights, 0u) << "entry " << entry.who << " lets others write";
        }
    }
    EXPECT_TRUE(systemFull);
    EXPECT_TRUE(administratorsFull);
    EXPECT_TRUE(everybodyReads);
    // Without it the owner of a file inside (under the "object creator" policy, the user)
    // could rewrite that file's entries.
    EXPECT_TRUE(ownerRightsLimited);
}

TEST_F(CreateSetupFolderTest, CreationCallsReceiveTheProtectedDescriptor)
{
    WtString lastTried;
    const WtString folder = Create(RecordingCreate, lastTried);

    EXPECT_STREQ(folder, (scratch.Path() + "KMGSetup0").c_str());
    EXPECT_TRUE(FolderExists(static_cast<const char*>(folder)));
    ASSERT_EQ(g_seen.size(), 1u);
    ExpectOnlyAdministratorsWrite(g_seen[0]);
    // Held from its creation on.
    EXPECT_TRUE(hold.IsValid());
    EXPECT_EQ(CheckHeldFolder(hold.Get(), folder), HeldFolder::Created);
    EXPECT_FALSE(MoveFileA(folder, (scratch.Path() + "Moved").c_str()));
    hold.Close();

    // Wine makes a file's descriptor up from its Unix mode and cannot return the one that
    // was set; Windows returns it as it is.
    const std::string readBack = ReadBackDacl(folder);
    std::cout << "descriptor read back from the folder: " << readBack << std::endl;
    if (RunsUnderWine())
        std::cout << "(Wine derives it from the folder's Unix mode; the creation call above is what counts)" << std::endl;
    else
        EXPECT_EQ(readBack, g_seen[0].sddl);

    // The script of an elevated run: the same descriptor, and only ever a new file.
    g_seen.clear();
    OwnedHandle script;
    const WtString scriptPath =
        CreateScriptFile((scratch.Path() + "%d.bat").c_str(), security.Attributes(), RecordingCreateFile, script,
                         lastTried);
    EXPECT_STREQ(scriptPath, (scratch.Path() + "0.bat").c_str());
    EXPECT_TRUE(script.IsValid());
    ASSERT_EQ(g_seen.size(), 1u);
    ExpectOnlyAdministratorsWrite(g_seen[0]);
    EXPECT_EQ(g_fileArguments.disposition, static_cast<DWORD>(CREATE_NEW));
    EXPECT_EQ(g_fileArguments.share, 0u);
    EXPECT_EQ(g_fileArguments.access, static_cast<DWORD>(GENERIC_WRITE));
    EXPECT_NE(g_fileArguments.flags & FILE_FLAG_OPEN_REPARSE_POINT, 0u) << "a dangling link would be followed";
}

TEST_F(CreateSetupFolderTest, WhatTookTheNameAfterTheProbeIsNeitherUsedNorTouched)
{
    for (Planted planted : { Planted::FolderWithFile, Planted::File }) {
        SetUp();
        g_plantOnFirstCall = planted;
        const std::string taken = scratch.Path() + "KMGSetup0";
        WtString lastTried;
        const WtString folder = Create(RecordingCreate, lastTried);

        ASSERT_EQ(g_seen.size(), 2u) << static_cast<int>(planted);
        EXPECT_EQ(g_seen[0].path, taken);
        EXPECT_STRNE(folder, taken.c_str());
        EXPECT_STREQ(folder, g_seen[1].path.c_str());
        EXPECT_TRUE(FolderExists(static_cast<const char*>(folder)));
        EXPECT_TRUE(hold.IsValid());
        hold.Close();
        const std::string plantedFile = planted == Planted::File ? taken : taken + "\\inside.txt";
        EXPECT_TRUE(FileExists(plantedFile));
        RemoveTree(taken);
        RemoveTree(static_cast<const char*>(folder));
    }
}

TEST_F(CreateSetupFolderTest, GivesUpAfterAsManyFailedCreationsAsProbes)
{
    WtString lastTried;
    EXPECT_TRUE(Create(RefusingCreate, lastTried).IsEmpty());
    EXPECT_FALSE(hold.IsValid());
    EXPECT_EQ(g_seen.size(), static_cast<size_t>(kUniqueNameAttempts));
    EXPECT_STREQ(lastTried, g_seen.back().path.c_str());
}

// Opens path as a hold does, without following a junction or link.
OwnedHandle OpenLikeAHold(const std::string& path)
{
    return OwnedHandle(CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The folder is made only under a free name, held at once, and can be filled and
// emptied but neither renamed nor removed until the hold goes.
TEST(CreateHeldFolder, MakesOnlyNewFoldersAndHoldsThem)
{
    ScratchFolder scratch("held-creation");
    const std::string folder = scratch.Path() + "KMGSetup0";
    const std::string file = scratch.Path() + "File";
    ASSERT_TRUE(WriteTextFile(file, kPlantedText));
    EXPECT_FALSE(CreateHeldFolder(file.c_str(), nullptr).IsValid());
    EXPECT_EQ(ReadFileBytesOf(file), kPlantedText);
    EXPECT_FALSE(CreateHeldFolder((scratch.Path() + "Missing\\Below").c_str(), nullptr).IsValid());

    OwnedHandle held = CreateHeldFolder(folder.c_str(), nullptr);
    ASSERT_TRUE(held.IsValid());
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_FALSE(CreateHeldFolder(folder.c_str(), nullptr).IsValid()) << "an existing folder is no new one";
    EXPECT_FALSE(MoveFileA(folder.c_str(), (scratch.Path() + "Moved").c_str()));
    EXPECT_FALSE(RemoveDirectoryA(folder.c_str()));
    EXPECT_TRUE(WriteTextFile(folder + "\\inside.txt", "ours"));
    EXPECT_TRUE(DeleteFileA((folder + "\\inside.txt").c_str()));
    held.Close();
    EXPECT_TRUE(MoveFileA(folder.c_str(), (scratch.Path() + "Moved").c_str()));
}

// The check of what a hold has open, on what Wine can make: folders, files and paths
// that name a folder in another form. Wine can make neither a junction
// (FSCTL_SET_REPARSE_POINT fails) nor a link (CreateSymbolicLinkA reports success and
// makes nothing), so the reparse-point answer is left to Windows.
TEST(HeldFolderCheck, TellsTheCreatedFolderFromWhatMayStandInItsPlace)
{
    ScratchFolder scratch("held-folder");
    const std::string created = scratch.Path() + "KMGSetup0";
    const std::string other = scratch.Path() + "Other";
    const std::string occupied = scratch.Path() + "Occupied";
    const std::string file = scratch.Path() + "File";
    ASSERT_TRUE(CreateDirectoryA(created.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(occupied.c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(occupied + "\\planted.dll", kPlantedText));
    ASSERT_TRUE(WriteTextFile(file, kPlantedText));
    char shortForm[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(created.c_str(), shortForm, MAX_PATH), 0u);
    std::string upperCase = created;
    CharUpperA(&upperCase[0]);

    const struct {
        std::string opened, named;
        HeldFolder expected;
    } cases[] = {
        { created, created, HeldFolder::Created },
        // The same folder named in another form is no alarm.
        { created, upperCase, HeldFolder::Created },
        { created, shortForm, HeldFolder::Created },
        // A handle that the system took somewhere else than the name says.
        { other, created, HeldFolder::ElsewhereNow },
        { occupied, occupied, HeldFolder::NotEmpty },
        { file, file, HeldFolder::NotAFolder },
    };
    for (const auto& c : cases) {
        OwnedHandle held = OpenLikeAHold(c.opened);
        ASSERT_TRUE(held.IsValid()) << c.opened;
        EXPECT_EQ(CheckHeldFolder(held.Get(), c.named.c_str()), c.expected) << c.opened << " as " << c.named;
    }
}

TEST(ProtectedTempFolder, IsTempInTheSystemsWindowsFolder)
{
    char windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_STREQ(ProtectedTempFolder(), (std::string(windows, length) + "\\Temp\\").c_str());
    EXPECT_TRUE(FolderExists(static_cast<const char*>(ProtectedTempFolder())));
}

} // namespace
