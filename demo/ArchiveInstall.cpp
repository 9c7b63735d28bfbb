#include "demo/ArchiveInstall.h"

#include "archive/ArchiveReader.h"
#include "archive/EntryInflation.h"
#include "archive/SetupLayout.h"
#include "stream/WtFileStream.h"

#include <cstdint>
#include <string>

namespace {

const uint32_t kOpenForInstall = WtFileStream::OpenCreate | WtFileStream::AccessWrite;
// FILETIME counts 100 ns steps from 1601; the archive counts seconds from 1970.
const uint64_t kFileTimeAt1970 = 116444736000000000ull;
const uint64_t kFileTimeStepsPerSecond = 10000000ull;

FILETIME FileTimeFromUnix(uint32_t seconds)
{
    uint64_t steps = kFileTimeAt1970 + seconds * kFileTimeStepsPerSecond;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(steps);
    time.dwHighDateTime = static_cast<DWORD>(steps >> 32);
    return time;
}

// The file stream keeps its handle to itself; the installed files should carry the
// times the packager's files had, as a real setup's do.
class InstalledFile : public WtFileStream {
public:
    explicit InstalledFile(const std::string& path) : WtFileStream(path.c_str(), kOpenForInstall) {}

    void SetTimes(const ArchiveEntry& entry)
    {
        FILETIME creation = FileTimeFromUnix(entry.creationTime);
        FILETIME lastAccess = FileTimeFromUnix(entry.lastAccessTime);
        FILETIME lastWrite = FileTimeFromUnix(entry.lastWriteTime);
        SetFileTime(handle, &creation, &lastAccess, &lastWrite);
    }
};

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Returns the entry's damage, or throws what the stream and the inflater throw.
EntryDamage WriteEntry(const ArchiveEntry& entry, const std::string& path)
{
    InstalledFile file(path);
    EntryDamage damage = InflateEntry(entry, file);
    file.SetTimes(entry);
    return damage;
}

} // namespace

const char* DescribeInstallOutcome(InstallOutcome outcome)
{
    switch (outcome) {
    case InstallOutcome::Installed: return "installed";
    case InstallOutcome::Missing: return "missing";
    case InstallOutcome::Damaged: return "damaged";
    case InstallOutcome::WriteFailed: return "write failed";
    }
    return "unknown";
}

bool MakeFolders(const std::string& path)
{
    std::string folder = path;
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    if (folder.empty() || IsFolder(folder))
        return !folder.empty();
    // A drive ("C:") or the start of a UNC name has no parent to create it in.
    std::string parent = FolderOf(folder);
    if (!parent.empty() && parent.back() != ':' && parent.find_first_not_of('\\') != std::string::npos)
        MakeFolders(parent);
    CreateDirectoryA(folder.c_str(), nullptr);
    return IsFolder(folder);
}

ArchiveInstallResult InstallArchive(HMODULE module, const char* name, const std::string& folder)
{
    ArchiveInstallResult result;
    HRSRC found = FindResourceA(module, name, kArchiveResourceType);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const unsigned char* base = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    if (!base) {
        result.outcome = InstallOutcome::Missing;
        result.detail = std::string("no ") + kArchiveResourceType + " resource of that name";
        return result;
    }

    ArchiveReader reader(base, SizeofResource(module, found), static_cast<uint32_t>(folder.size()));
    if (reader.GetFault() != ArchiveFault::None) {
        result.outcome = InstallOutcome::Damaged;
        result.detail = std::string("entry ") + std::to_string(reader.GetFaultEntry()) + ": " +
                        DescribeArchiveFault(reader.GetFault());
        return result;
    }

    ArchiveEntry entry;
    while (reader.Next(entry)) {
        std::string path = folder + entry.name;
        if (!MakeFolders(FolderOf(path))) {
            result.outcome = InstallOutcome::WriteFailed;
            result.detail = "cannot create the folder of " + path;
            return result;
        }
        InstallOutcome outcome = InstallOutcome::Installed;
        std::string problem;
        try {
            EntryDamage damage = WriteEntry(entry, path);
            if (damage != EntryDamage::None) {
                outcome = InstallOutcome::Damaged;
                problem = DescribeEntryDamage(damage);
            }
        } catch (WtStreamException* failure) {
            outcome = InstallOutcome::WriteFailed;
            problem = "file stream error " + std::to_string(failure->code);
            delete failure;
        } catch (const WtStreamException& failure) {
            outcome = InstallOutcome::Damaged;
            problem = "inflater error " + std::to_string(failure.code);
        }
        if (outcome != InstallOutcome::Installed) {
            // Half a file must not pass for an installed one.
            DeleteFileA(path.c_str());
            result.outcome = outcome;
            result.detail = path + ": " + problem;
            return result;
        }
        result.files.push_back(path);
    }
    result.outcome = InstallOutcome::Installed;
    return result;
}
