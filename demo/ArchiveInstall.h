// Installs the files of one archive resource of a loaded module into a folder.
#ifndef DEMO_ARCHIVE_INSTALL_H
#define DEMO_ARCHIVE_INSTALL_H

#include <string>
#include <vector>
#include <windows.h>

enum class InstallOutcome {
    Installed,    // every entry written with its recorded size and times
    Missing,      // the module has no such resource
    Damaged,      // the directory is out of bounds or names a path outside the folder,
                  // or an entry does not inflate to its recorded size
    WriteFailed,  // a folder or file could not be created or written
};

struct ArchiveInstallResult {
    InstallOutcome outcome = InstallOutcome::Missing;
    std::vector<std::string> files; // full paths of the files written, in directory order
    std::string detail;             // what went wrong, in English; empty when installed
};

const char* DescribeInstallOutcome(InstallOutcome outcome);

// Writes every entry of resource `name` (type kArchiveResourceType) of module below folder, which
// must end with a backslash; missing folders, the folder itself included, are created.
// A damaged directory is refused before anything is written. The run stops at the
// first entry that fails, whose file is removed again; files written before it stay
// and are listed. Throws nothing but std::bad_alloc.
ArchiveInstallResult InstallArchive(HMODULE module, const char* name, const std::string& folder);

// Creates every missing folder of path; a trailing backslash is allowed. Returns true
// when the whole path exists as a folder afterwards.
bool MakeFolders(const std::string& path);

#endif
