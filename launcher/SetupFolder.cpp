#include "launcher/SetupFolder.h"

#include "launcher/UniqueName.h"

#include <sddl.h>
#include <winternl.h>

// O:BA: without an owner of its own the descriptor would take the token's default owner,
// which a policy may make the user's own account, and an owner may always rewrite the
// entries. OW: whoever owns something in here (under that policy, the user owns what
// the elevated run makes inside) gets read and execute, instead of the implicit right
// to rewrite the entries. P: the temporary folder's entries, which let the user's
// processes write, stop here. OICI: files and folders made inside get the same entries.
// 0x1200a9 is read and execute.
const char kSetupFolderSecurity[] =
    "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)(A;OICI;0x1200a9;;;OW)";

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

namespace {

typedef NTSTATUS(NTAPI* NtCreateFileFunction)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                               PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
// A DOS path in the system's own name space.
const wchar_t kDosDevicesPrefix[] = L"\\??\\";
const int kDosDevicesPrefixLength = 4;

} // namespace

OwnedHandle CreateHeldFolder(const char* path, SECURITY_ATTRIBUTES* security)
{
    // CreateDirectoryA follows a junction or link that holds the name and creates its
    // target, and hands out no handle, so another process could take the folder's
    // place before it is opened. The system's own call does neither.
    const NtCreateFileFunction ntCreateFile = reinterpret_cast<NtCreateFileFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateFile")));
    wchar_t name[kDosDevicesPrefixLength + MAX_PATH];
    lstrcpyW(name, kDosDevicesPrefix);
    if (!ntCreateFile ||
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, name + kDosDevicesPrefixLength, MAX_PATH) == 0)
        return OwnedHandle();
    UNICODE_STRING objectName;
    objectName.Buffer = name;
    objectName.Length = static_cast<USHORT>(lstrlenW(name) * sizeof(wchar_t));
    objectName.MaximumLength = static_cast<USHORT>(objectName.Length + sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, nullptr,
                               security ? security->lpSecurityDescriptor : nullptr);
    IO_STATUS_BLOCK status;
    HANDLE folder = nullptr;
    // Without delete sharing no one may open the folder to rename or delete it. A real
    // data access is asked for, since the system records the sharing only with one.
    const NTSTATUS created =
        ntCreateFile(&folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status,
                     nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                     FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
    if (created < 0)
        return OwnedHandle();
    return OwnedHandle(folder);
}

WtString CreateSetupFolder(const WtString& pattern, SECURITY_ATTRIBUTES* security,
                           CreateFolderFunction create, OwnedHandle& hold, WtString& lastTried)
{
    // The creation itself is the test: it fails for any name that exists, whatever it is.
    return ClaimUniqueName(
        pattern,
        [&](const WtString& name) {
            hold = create(name, security);
            return hold.IsValid();
        },
        lastTried);
}

namespace {

// The kernel's query of a handle's own path (since Vista), as it is looked up at run time.
typedef DWORD(WINAPI* FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);
const DWORD kNormalizedDosName = 0; // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS
const char kLocalPathPrefix[] = "\\\\?\\";

// The path that held is open at, in the same long form as expected; false when the
// system cannot say, so that the caller leaves this check out.
bool HeldPathMatches(HANDLE held, const char* folder, bool& matches)
{
    const FinalPathFunction finalPath = reinterpret_cast<FinalPathFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    if (!finalPath)
        return false;
    char path[MAX_PATH];
    const DWORD length = finalPath(held, path, MAX_PATH, kNormalizedDosName);
    // A path too long for the buffer is not the one that was created, which fits.
    matches = false;
    if (length == 0 || length >= MAX_PATH)
        return true;
    const char* own = path;
    const int prefixLength = lstrlenA(kLocalPathPrefix);
    if (CompareStringA(LOCALE_INVARIANT, 0, own, prefixLength, kLocalPathPrefix, prefixLength) == CSTR_EQUAL)
        own += prefixLength;
    char expected[MAX_PATH];
    const DWORD expectedLength = GetLongPathNameA(folder, expected, MAX_PATH);
    const char* compared = expectedLength > 0 && expectedLength < MAX_PATH ? expected : folder;
    matches = CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, own, -1, compared, -1) == CSTR_EQUAL;
    return true;
}

// False when the folder lists anything but itself and its parent, or cannot be listed.
bool FolderIsEmpty(const char* folder)
{
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(WtString(folder) + "\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool empty = true;
    do {
        empty = lstrcmpA(found.cFileName, ".") == 0 || lstrcmpA(found.cFileName, "..") == 0;
    } while (empty && FindNextFileA(search, &found));
    FindClose(search);
    return empty;
}

} // namespace

HeldFolder CheckHeldFolder(HANDLE held, const char* folder)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(held, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return HeldFolder::NotAFolder;
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return HeldFolder::ReparsePoint;
    bool samePath = true;
    if (HeldPathMatches(held, folder, samePath) && !samePath)
        return HeldFolder::ElsewhereNow;
    // The hold pins the name to the folder just checked, so it can be listed by name.
    if (!FolderIsEmpty(folder))
        return HeldFolder::NotEmpty;
    return HeldFolder::Created;
}

WtString ProtectedTempFolder()
{
    char windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    if (length < 3 || length >= MAX_PATH || windows[1] != ':' || windows[2] != '\\')
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
            // A link that points nowhere would otherwise be followed, and its target created.
            script = OwnedHandle(create(name, GENERIC_WRITE, 0, security, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            return script.IsValid();
        },
        lastTried);
}
