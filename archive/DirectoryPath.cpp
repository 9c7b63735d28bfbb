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

// Runs a system query that fills a buffer of the given size and answers with the size
// it needs when that is too small, until the answer fits.
template <class Query>
WtString QueryText(Query query)
{
    WtString text;
    DWORD size = query(0, nullptr);
    while (size > 0) {
        const DWORD length = query(size, text.GetBuffer(size));
        if (length < size) {
            text.ReleaseBuffer(length);
            break;
        }
        // It grew between the two queries; ask again with the new size.
        text.ReleaseBuffer(0);
        size = length;
    }
    return text;
}

WtString QueryCurrentDirectory()
{
    return QueryText([](DWORD size, char* buffer) { return GetCurrentDirectoryA(size, buffer); });
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
    if (first == last)
        return false;
    if (last[-1] == '.' || last[-1] == ' ')
        return false; // also "." and ".."; the system drops trailing dots and blanks
    return std::find_first_of(first, last, kSpecialCharacters, std::end(kSpecialCharacters) - 1) == last;
}

// Windows creates no folder whose full path has this many characters or more, and a
// longer one could not be entered as the current directory either. Shorter paths hold
// no component long enough for the walk to cut.
const std::size_t kCreatableLength = MAX_PATH - 12;

// A folder path that the walk would take component by component with nothing but plain
// names: on a drive, rooted, short enough to be created and entered.
bool IsPlainFolderPath(const char* path)
{
    const std::size_t length = std::strlen(path);
    const int drive = DriveNumberOf(path); // 1 to 26 for the letters only
    if (drive < kFirstDrive || drive > kLastDrive || path[2] != '\\' || length <= kDriveRootLength ||
        length >= kCreatableLength)
        return false;
    const char* first = path + kDriveRootLength;
    for (;;) {
        const char* last = std::strchr(first, '\\');
        if (last == nullptr)
            return IsPlainComponent(first, path + length);
        if (!IsPlainComponent(first, last))
            return false;
        first = last + 1;
    }
}

// The full path that the current-directory query reports once the folder has been
// entered: the system forms both alike.
WtString FullPathOf(const char* folder)
{
    return QueryText([folder](DWORD size, char* buffer) { return GetFullPathNameA(folder, size, buffer, nullptr); });
}

// Creates the folder and its missing parents by their full paths, parents first, and
// records each as the walk would. A folder made this way is the one that the walk would
// have made, without opening every folder above it as the current directory. Returns
// false when something stood in the way (the folder appeared meanwhile, a file, a denied
// access, a missing drive); the walk then goes over the path and meets it itself.
bool CreateByFullPath(char* folder, std::size_t length, CreatedDirectoryList* list)
{
    if (!CreateDirectoryA(folder, nullptr)) {
        if (GetLastError() != ERROR_PATH_NOT_FOUND)
            return false;
        // A plain path has a backslash behind its drive letter, so this one is found.
        char* separator = folder + length;
        while (*--separator != '\\') {
        }
        if (separator < folder + kDriveRootLength)
            return false;
        *separator = '\0';
        const bool parentMade = CreateByFullPath(folder, static_cast<std::size_t>(separator - folder), list);
        *separator = '\\';
        if (!parentMade || !CreateDirectoryA(folder, nullptr))
            return false;
    }
    if (list != nullptr)
        list->AddHead(FullPathOf(folder));
    return true;
}

// Leaves the drive's record as the walk does when it makes the drive current and comes
// back: the directory that "X:" names (the root when the drive has none recorded), as
// the current-directory query reports it once entered, without the trailing backslash
// that only a root keeps. The walk fails without creating anything when that directory
// is gone; so does this. directory receives what was recorded.
bool RecordDirectoryOfDrive(int drive, WtString& directory)
{
    const char spec[] = {DriveLetter(drive), ':', '\0'};
    directory = FullPathOf(spec);
    const int length = directory.GetLength();
    if (length > static_cast<int>(kDriveRootLength) && directory[length - 1] == '\\')
        directory = directory.Left(length - 1);
    const DWORD attributes = GetFileAttributesA(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return false;
    RecordDriveDirectory(directory);
    return true;
}

// The common case, a folder named by a plain full path, without the walk; false when
// the walk must make it.
bool CreatePlainFolderPath(const char* path, const WtString& callerDirectory, CreatedDirectoryList* list)
{
    if (!IsPlainFolderPath(path))
        return false;
    const int drive = DriveNumberOf(path);
    // The walk climbs from the directory it finds on the drive, and every folder it
    // records begins as that directory does: the caller's own on the caller's drive,
    // otherwise the drive's recorded one, either with the letter in the case it has.
    WtString start = callerDirectory;
    if (drive != DriveNumberOf(callerDirectory) && !RecordDirectoryOfDrive(drive, start))
        return false;
    char folder[kCreatableLength];
    std::strcpy(folder, path);
    folder[0] = start[0];
    return CreateByFullPath(folder, std::strlen(folder), list);
}

} // namespace

namespace {

int MakeDirectoryPathUsing(const char* path, CreatedDirectoryList* list, bool direct)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return 0;

    const WtString callerDirectory = QueryCurrentDirectory();
    const int callerDrive = DriveNumberOf(callerDirectory);
    // Guards the caller's directory: a drive is re-entered through its record, and a
    // directory inherited from the parent process has none yet.
    RecordDriveDirectory(callerDirectory);
    // The caller's drive has its record, as the walk leaves it; the path's drive gets
    // its own, and the current drive and directory stay as they are.
    if (direct && CreatePlainFolderPath(path, callerDirectory, list))
        return 0;

    int result = SelectPathDrive(path);
    const WtString pathDriveDirectory = QueryCurrentDirectory();
    if (result == 0) {
        const char* rest = path;
        if (std::strchr(rest, ':') != nullptr)
            rest += 2;
        result = EnterRootIfRooted(rest);
        if (*rest == '\\')
            ++rest;
        if (result == 0)
            result = MakeDirectoryComponents(rest, list);
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

} // namespace

int MakeDirectoryPath(const char* path, CreatedDirectoryList* list)
{
    return MakeDirectoryPathUsing(path, list, true);
}

int WalkDirectoryPath(const char* path, CreatedDirectoryList* list)
{
    return MakeDirectoryPathUsing(path, list, false);
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
