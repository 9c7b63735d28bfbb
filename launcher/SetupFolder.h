// The setup folder of an elevated run. The setup program is started from it with
// administrator rights and loads its DLLs from it, so no process of the user may write
// there, and it must be a folder that this run made itself: a folder, file or link that
// somebody put under its name is never used.
#ifndef LAUNCHER_SETUPFOLDER_H
#define LAUNCHER_SETUPFOLDER_H

#include "string/WtString.h"

#include <windows.h>

// True when the process holds an elevated token. Where the system knows no elevation,
// true when the token belongs to the Administrators group, whose rights are then always
// in force.
bool RunsElevated();

// The setup folder's descriptor: full control for SYSTEM and Administrators only, read
// and execute for everybody else; nothing inherited from the temporary folder, and
// everything inside inherits the same.
extern const char kSetupFolderSecurity[];

// Security attributes built from kSetupFolderSecurity, owned for their lifetime.
class SetupFolderSecurity {
public:
    SetupFolderSecurity();
    ~SetupFolderSecurity();
    SetupFolderSecurity(const SetupFolderSecurity&) = delete;
    SetupFolderSecurity& operator=(const SetupFolderSecurity&) = delete;

    // Null when the descriptor could not be built.
    SECURITY_ATTRIBUTES* Attributes() { return descriptor ? &attributes : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
};

// The call that creates a folder; CreateDirectoryA, or a test's own.
typedef BOOL(WINAPI* CreateFolderFunction)(LPCSTR, LPSECURITY_ATTRIBUTES);

// The folder of pattern (a full path with one %d, as MakeUniqueName takes it) that
// create makes anew with security, found as ClaimUniqueName finds names. A name whose
// creation fails, because something took it after the probe or it cannot be made, is
// left untouched. Returns the folder without a trailing backslash; the empty string when
// no name could be created, with lastTried the last name whose creation failed (empty
// when every candidate already existed).
WtString CreateSetupFolder(const WtString& pattern, SECURITY_ATTRIBUTES* security,
                           CreateFolderFunction create, WtString& lastTried);

#endif // LAUNCHER_SETUPFOLDER_H
