// Creation of the folders that archive entries lie in, and the list of those created.
//
// A folder named by a plain full path (drive, root, names without dots or blanks at
// their end or characters the system reads specially) is created directly by that path,
// with its missing parents. Every other path is walked one component at a time, with the
// process's current drive and current directory as the cursor; the walk restores both
// before it returns, on failure as well, so nothing else may rely on them while a call
// runs (the launcher has a single thread). Either way a folder is recorded exactly as
// the walk records it, the current-directory query's report once entered (the drive
// letter in the case of the directory the walk starts from), and the current directory
// and every drive's record end exactly alike (see WalkDirectoryPath).
// Paths are zero-terminated, in the ANSI code page, with a backslash as separator.
#ifndef ARCHIVE_DIRECTORY_PATH_H
#define ARCHIVE_DIRECTORY_PATH_H

#include "string/WtString.h"

#include <list>

// Full paths of the folders this run created, newest first: every folder comes before
// its parent, and the first folder created (the setup folder) comes last. A folder is
// added once, at the moment it is created; nothing is ever removed or reordered.
class CreatedDirectoryList
{
public:
    typedef std::list<WtString>::const_iterator const_iterator;

    CreatedDirectoryList() = default;
    CreatedDirectoryList(const CreatedDirectoryList&) = delete;
    CreatedDirectoryList& operator=(const CreatedDirectoryList&) = delete;

    void AddHead(const WtString& path) { paths.push_front(path); }
    int GetCount() const { return static_cast<int>(paths.size()); }
    const_iterator begin() const { return paths.begin(); }
    const_iterator end() const { return paths.end(); }

private:
    std::list<WtString> paths;
};

// Creates every missing folder of path (no trailing backslash; with or without a drive,
// absolute or relative to the current directory) and records each one it creates in
// list, which may be null. Returns 0 when the path exists (as a folder or as a file,
// and then nothing is touched) or every missing folder was created and entered; 1 when
// the drive is not usable or a component can be neither entered nor created. Folders
// created before a failure stay on disk and in the list.
int MakeDirectoryPath(const char* path, CreatedDirectoryList* list);

// MakeDirectoryPath with every path walked, the direct creation left out: what the
// direct creation must match, folder records and drive records alike.
int WalkDirectoryPath(const char* path, CreatedDirectoryList* list);

// Makes the path's drive current. Returns 0 when the path names no drive or its drive is
// now current; 1 when the colon is not the second character or the drive cannot be made
// current.
int SelectPathDrive(const char* path);

// For a path that begins with a backslash, enters the root of the current drive.
// Returns 1 only when that fails; 0 otherwise.
int EnterRootIfRooted(const char* path);

// Enters the components of rest one by one below the current directory, creating those
// that are missing and recording each created folder's full path at the front of list
// (may be null). A component is cut to its first 256 characters. Returns 0 when every
// component was entered, 1 when one could be neither entered nor created. Leaves the
// current directory inside the last component entered; MakeDirectoryPath restores it.
int MakeDirectoryComponents(const char* rest, CreatedDirectoryList* list);

#endif
