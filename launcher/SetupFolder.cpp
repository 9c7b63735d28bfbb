#include "launcher/SetupFolder.h"

#include "launcher/UniqueName.h"

#include <sddl.h>

// P: the temporary folder's entries, which let the user's processes write, stop here.
// OICI: files and folders made inside get the same entries. 0x1200a9 is read and execute.
const char kSetupFolderSecurity[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)";

bool RunsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    OwnedHandle ownedToken(token);

    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
        return elevation.TokenIsElevated != 0;

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                  0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

SetupFolderSecurity::SetupFolderSecurity()
    : descriptor(nullptr)
{
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = FALSE;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kSetupFolderSecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        descriptor = nullptr;
    attributes.lpSecurityDescriptor = descriptor;
}

SetupFolderSecurity::~SetupFolderSecurity()
{
    if (descriptor)
        LocalFree(descriptor);
}

WtString CreateSetupFolder(const WtString& pattern, SECURITY_ATTRIBUTES* security,
                           CreateFolderFunction create, WtString& lastTried)
{
    // The creation itself is the test: it fails for any name that exists, whatever it is.
    return ClaimUniqueName(
        pattern, [&](const WtString& name) { return create(name, security) != FALSE; }, lastTried);
}

OwnedHandle HoldFolder(const char* folder)
{
    // Without delete sharing no one may open the folder to rename or delete it. A real
    // data access is asked for, since the system records the sharing only with one.
    return OwnedHandle(CreateFileA(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

WtString ProtectedScriptFolder()
{
    char windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return WtString();
    WtString folder(windows);
    if (windows[length - 1] != '\\')
        folder += '\\';
    folder += "Temp\\";
    return folder;
}

WtString CreateScriptFile(const WtString& pattern, SECURITY_ATTRIBUTES* security, CreateFileFunction create,
                          OwnedHandle& script, WtString& lastTried)
{
    return ClaimUniqueName(
        pattern,
        [&](const WtString& name) {
            script = OwnedHandle(create(name, GENERIC_WRITE, 0, security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            return script.IsValid();
        },
        lastTried);
}
