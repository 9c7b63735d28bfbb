// The setup folder and the cleanup script of an elevated run. The setup program is
// started from the folder with administrator rights and loads its DLLs from it, and it
// runs the script with the same rights, so no process of the user may write either, and
// each must be something this run made itself: a folder, file or link that somebody put
// under its name is never used.
//
// The user has full control over the temporary folder, delete-child included, so a
// process of the user can delete or rename anything directly inside it, whatever that
// thing's own descriptor says, and put its own folder, junction or file under the freed
// name. The setup folder and the script of an elevated run therefore both live in the
// system's temporary folder, where users may create entries of their own but may not
// delete, rename or write what Administrators made there.
#ifndef LAUNCHER_SETUPFOLDER_H
#define LAUNCHER_SETUPFOLDER_H

#include "launcher/OwnedHandle.h"
#include "string/WtString.h"

#include <windows.h>

// True when the process holds an elevated token. Where the system knows no elevation,
// true when the token belongs to the Administrators group, whose rights are then always
// in force.
bool RunsElevated();

// The setup folder's and the script's descriptor: owned by Administrators; full control
// for SYSTEM and Administrators only, read and execute for everybody else and for
// whoever owns something inside (the OWNER RIGHTS entry); nothing inherited from the
// temporary folder, and everything inside inherits the same.
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

// Creates the folder path (full, in the ANSI code page) with security and returns it
// held open: nobody can rename or delete it until the handle is closed, while what is
// inside can still be made, written and removed. The folder is made only where nothing
// of that name exists; a junction or link under the name is never followed, and the
// creation fails. The creation and the hold are one call, so nothing can take the
// folder's place between them. The handle is invalid when the folder was not made.
OwnedHandle CreateHeldFolder(const char* path, SECURITY_ATTRIBUTES* security);

// The call that creates and holds a folder; CreateHeldFolder, or a test's own.
typedef OwnedHandle (*CreateFolderFunction)(const char* path, SECURITY_ATTRIBUTES* security);

// The folder of pattern (a full path with one %d, as MakeUniqueName takes it) that
// create makes anew with security, found as ClaimUniqueName finds names, with hold
// owning what create returned. A name whose creation fails, because something took it
// after the probe or it cannot be made, is left untouched. Returns the folder without a
// trailing backslash; the empty string when no name could be created, with lastTried
// the last name whose creation failed (empty when every candidate already existed).
WtString CreateSetupFolder(const WtString& pattern, SECURITY_ATTRIBUTES* security,
                           CreateFolderFunction create, OwnedHandle& hold, WtString& lastTried);

// What a hold has open, compared with the folder that CreateSetupFolder just made under
// the name folder (a full path without a trailing backslash).
enum class HeldFolder {
    Created,      // a folder, no reparse point, at that very path, with nothing in it
    NotAFolder,   // a file, or information that cannot be read
    ReparsePoint, // a junction, a link or another reparse point
    ElsewhereNow, // the handle's own path is another (a link that the system followed)
    NotEmpty,     // something is already inside: somebody else's folder
};

// The checks above, in that order, on held (a handle open for listing and reading
// attributes). Where the system cannot tell a handle's own path, that check is left out.
HeldFolder CheckHeldFolder(HANDLE held, const char* folder);

// The folder where an elevated run makes its setup folder and writes its cleanup
// script: "Temp" in the system's Windows folder (the one shared by all sessions), with a
// trailing backslash. Empty when the system names none, or none that begins with a
// drive letter, a colon and a backslash.
WtString ProtectedTempFolder();

// The call that creates a file; CreateFileA, or a test's own.
typedef HANDLE(WINAPI* CreateFileFunction)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

// The cleanup script of pattern (as CreateSetupFolder takes it) that create makes anew
// with security (null: the folder's own inheritance), for writing only and not shared,
// found as ClaimUniqueName finds names: a file or link that holds a name is never
// truncated or written through (create is asked not to follow a reparse point). Returns the script's path with script owning the open
// file; the empty string as CreateSetupFolder does.
WtString CreateScriptFile(const WtString& pattern, SECURITY_ATTRIBUTES* security, CreateFileFunction create,
                          OwnedHandle& script, WtString& lastTried);

#endif // LAUNCHER_SETUPFOLDER_H
