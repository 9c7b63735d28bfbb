#include "archive/DirectoryPath.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <windows.h>

// The runtime's drive and directory services, over the system calls they stand for.
// They are written out here because the runtime Wine supplies does not record a
// drive's directory on a change, and coming back to a drive depends on that record.
namespace {

const int kComponentLength = 256; // a longer component is cut to this many characters
const int kFirstDrive = 1;        // A:
const int kLastDrive = 26;        // Z:
const std::size_t kDriveRootLength = 3; // drive letter, colon, backslash
// Characters that the system reads as separators, wildcards or stream names in a path.
const char kSpecialCharacters[] = "/:*?\"<>|";

WtString QueryCurrentDirectory()
{
    WtString directory;
    DWORD size = GetCurrentDirectoryA(0, nullptr);
    while (size > 0) {
        const DWORD length = GetCurrentDirectoryA(size, directory.GetBuffer(size));
        if (length < size) {
            directory.ReleaseBuffer(length);
            break;
        }
        // It grew between the two queries; ask again with the new size.
        directory.ReleaseBuffer(0);
        size = length;
    }
    return directory;
}

bool HasDriveLetter(const char* path)
{
    return path[0] != '\0' && path[1] == ':';
}

// 1 for A, 2 for B, ...; 0 for a directory without a drive letter (a network share).
int DriveNumberOf(const char* directory)
{
    if (!HasDriveLetter(directory))
        return 0;
    return (static_cast<unsigned char>(directory[0]) - 64) & ~32;
}

char DriveLetter(int drive)
{
    return static_cast<char>('A' + drive - kFirstDrive);
}

// The record "=X:" is where the system looks when drive X becomes current again.
void RecordDriveDirectory(const WtString& directory)
{
    const int drive = DriveNumberOf(directory);
    if (drive < kFirstDrive || drive > kLastDrive)
        return;
    const char name[] = {'=', DriveLetter(drive), ':', '\0'};
    SetEnvironmentVariableA(name, directory);
}

bool ChangeDirectory(const char* path)
{
    if (!SetCurrentDirectoryA(path))
        return false;
    RecordDriveDirectory(QueryCurrentDirectory());
    return true;
}

bool MakeDriveCurrent(int drive)
{
    if (drive < kFirstDrive || drive > kLastDrive)
        return false;
    // "X:" names the current directory itself when X is the current drive, so changing
    // to it would only open that directory again.
    if (DriveNumberOf(QueryCurrentDirectory()) == drive)
        return true;
    const char spec[] = {DriveLetter(drive), ':', '\0'};
    return SetCurrentDirectoryA(spec) != FALSE;
}

// A component that the system takes as it stands: entered by a full path, it gives the
// same current directory as entered on its own below its parent.
bool IsPlainComponent(const char* first, const char* last)
{
    const std::size_t length = static_cast<std::size_t>(last - first);
    if (length == 0 || length > static_cast<std::size_t>(kComponentLength))
        return false;
    if (last[-1] == '.' || last[-1] == ' ')
        return false; // also "." and ".."; the system drops trailing dots and blanks
    return std::find_first_of(first, last, kSpecialCharacters, std::end(kSpecialCharacters) - 1) == last;
}

// Enters the parent folder of a drive-rooted path at once when it exists and every
// component before the last is plain, instead of entering each of them from the root:
// a folder found that way gives the same current directory, so the new folder is
// recorded exactly as by the walk. Returns the last component, or null when the walk
// from the root is needed.
const char* EnterExistingParent(const char* path)
{
    if (!HasDriveLetter(path) || path[2] != '\\')
        return nullptr;
    const char* lastComponent = std::strrchr(path, '\\') + 1;
    const std::size_t parentLength = static_cast<std::size_t>(lastComponent - 1 - path);
    if (parentLength <= kDriveRootLength || parentLength >= MAX_PATH)
        return nullptr; // the root is entered by the walk as cheaply
    for (const char* first = path + kDriveRootLength; first < lastComponent;) {
        const char* last = std::strchr(first, '\\');
        if (!IsPlainComponent(first, last))
            return nullptr;
        first = last + 1;
    }
    char parent[MAX_PATH];
    std::memcpy(parent, path, parentLength);
    parent[parentLength] = '\0';
    // The walk reaches the drive through its number, which gives the capital letter.
    parent[0] = DriveLetter(DriveNumberOf(path));
    return SetCurrentDirectoryA(parent) ? lastComponent : nullptr;
}

} // namespace

int MakeDirectoryPath(const char* path, CreatedDirectoryList* list)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return 0;

    const WtString callerDirectory = QueryCurrentDirectory();
    const int callerDrive = DriveNumberOf(callerDirectory);
    // Guards the caller's directory: a drive is re-entered through its record, and a
    // directory inherited from the parent process has none yet.
    RecordDriveDirectory(callerDirectory);

    int result = SelectPathDrive(path);
    const WtString pathDriveDirectory = QueryCurrentDirectory();
    if (result == 0) {
        if (const char* lastComponent = EnterExistingParent(path)) {
            result = MakeDirectoryComponents(lastComponent, list);
        } else {
            const char* rest = path;
            if (std::strchr(rest, ':') != nullptr)
                rest += 2;
            result = EnterRootIfRooted(rest);
            if (*rest == '\\')
                ++rest;
            if (result == 0)
                result = MakeDirectoryComponents(rest, list);
        }
    }

    ChangeDirectory(pathDriveDirectory);
    if (callerDrive != 0) {
        MakeDriveCurrent(callerDrive);
    } else {
        // Guards a caller on a network share, which has no drive to come back to.
        SetCurrentDirectoryA(callerDirectory);
    }
    return result;
}

int SelectPathDrive(const char* path)
{
    if (std::strchr(path, ':') == nullptr)
        return 0;
    if (path[1] != ':')
        return 1;
    return MakeDriveCurrent(DriveNumberOf(path)) ? 0 : 1;
}

int EnterRootIfRooted(const char* path)
{
    if (path[0] == '\\' && !ChangeDirectory("\\"))
        return 1;
    return 0;
}

int MakeDirectoryComponents(const char* rest, CreatedDirectoryList* list)
{
    // One pass per component rather than one nested call: a path that climbs back
    // with ".." can have any number of components, and the stack must not run out.
    for (;;) {
        char component[kComponentLength + 1];
        std::strncpy(component, rest, kComponentLength);
        component[kComponentLength] = '\0';
        if (char* separator = std::strchr(component, '\\'))
            *separator = '\0';

        if (!ChangeDirectory(component)) {
            // Whether the creation worked shows when the folder is entered.
            CreateDirectoryA(component, nullptr);
            if (!ChangeDirectory(component))
                return 1;
            // The full query rather than a 256-byte buffer: a folder whose path is
            // longer must still be recorded whole, or the cleanup would leave it.
            if (list != nullptr)
                list->AddHead(QueryCurrentDirectory());
        }

        const char* separator = std::strchr(rest, '\\');
        if (separator == nullptr)
            return 0;
        rest = separator + 1;
    }
}
