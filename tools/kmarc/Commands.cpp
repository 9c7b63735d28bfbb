#include "tools/kmarc/Commands.h"

#include "archive/ArchiveReader.h"
#include "archive/EntryInflation.h"
#include "archive/EntryName.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/NameRules.h"
#include "tools/kmarc/Progress.h"
#include "tools/kmarc/ToolError.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const char kArchiveSeparator = '\\';
const char kStagingPrefix[] = ".kmarc-extract-";

unsigned long ProcessId()
{
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

std::string EntriesText(uint32_t count)
{
    return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

// An archive file mapped into memory, with its reader; a damaged directory is reported here,
// before any command looks at an entry.
class LoadedArchive {
public:
    LoadedArchive(const fs::path& path, uint32_t folderLength, const CodePage& codePage) : m_file(path)
    {
        if (m_file.Size() > UINT32_MAX)
            throw ToolError{ kExitDamaged, DisplayPath(path) + ": not an archive: larger than 4 GiB" };
        // An empty file maps to no address; the reader needs one all the same.
        static const unsigned char kNothing = 0;
        const unsigned char* bytes = m_file.Size() == 0 ? &kNothing : m_file.Data();
        m_reader.reset(new ArchiveReader(bytes, static_cast<uint32_t>(m_file.Size()), folderLength));
        ArchiveFault fault = m_reader->GetFault();
        if (fault == ArchiveFault::None)
            return;
        // A file whose first four bytes do not lead to a directory inside it was never
        // an archive, or lost its end.
        if (fault == ArchiveFault::HeaderOutside || fault == ArchiveFault::DirectoryOutside)
            throw ToolError{ kExitDamaged, DisplayPath(path) + ": not an archive (or one cut short): " +
                                               DescribeArchiveFault(fault) };
        std::string where = "entry #" + std::to_string(m_reader->GetFaultEntry() + 1);
        std::string why = DescribeArchiveFault(fault);
        if (fault == ArchiveFault::NameNotAllowed) {
            uint32_t position = m_reader->GetFaultPosition();
            const unsigned char* record = m_file.Data() + position;
            std::string name(reinterpret_cast<const char*>(record + 1), record[0]);
            where += " '" + codePage.Display(name) + "'";
            EntryNameFault nameFault = CheckEntryName(name.data(), uint32_t(name.size()), folderLength);
            why = nameFault == EntryNameFault::TooLong ? "its output path would pass the " +
                                                             std::to_string(kMaxOutputPathLength) + " bytes allowed"
                                                       : NameProblem(name, codePage);
        }
        throw ToolError{ kExitDamaged, DisplayPath(path) + ": damaged archive: " + where + ": " + why };
    }

    ArchiveReader& Reader() { return *m_reader; }

private:
    MappedFile m_file;
    std::unique_ptr<ArchiveReader> m_reader;
};

struct CountingSink : WtWriter {
    uint32_t Write(const void*, uint32_t count) override { return count; }
};

class FileSink : public WtWriter {
public:
    explicit FileSink(const fs::path& path) : m_path(path), m_out(path, std::ios::binary | std::ios::trunc)
    {
        if (!m_out)
            throw ToolError{ kExitFileSystem, DisplayPath(path) + ": cannot create" };
    }

    uint32_t Write(const void* bytes, uint32_t count) override
    {
        m_out.write(static_cast<const char*>(bytes), count);
        if (!m_out)
            throw ToolError{ kExitFileSystem, DisplayPath(m_path) + ": cannot write" };
        return count;
    }

    void Close()
    {
        m_out.close();
        if (!m_out)
            throw ToolError{ kExitFileSystem, DisplayPath(m_path) + ": cannot write" };
    }

private:
    fs::path m_path;
    std::ofstream m_out;
};

// The host path of an archive name below folder.
fs::path OutputPathOf(const fs::path& folder, const std::string& name, const CodePage& codePage)
{
    fs::path path = folder;
    size_t start = 0;
    for (;;) {
        size_t end = name.find(kArchiveSeparator, start);
        fs::path component;
        codePage.ToHost(name.substr(start, end - start), component);
        path /= component;
        if (end == std::string::npos)
            return path;
        start = end + 1;
    }
}

// Length of the folder's absolute path with one separator behind it: the prefix that
// every output path starts with.
uint32_t FolderPrefixLength(const fs::path& folder)
{
    fs::path absolute = fs::absolute(folder).lexically_normal();
    if (!absolute.has_filename())
        absolute = absolute.parent_path();
    size_t length = DisplayPath(absolute).size() + 1;
    return length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
}

// Everything one extraction creates, so that a run that fails takes it all away again:
// the entries are inflated into a staging folder first and moved into place only when
// every one of them was sound.
class ExtractionRun {
public:
    explicit ExtractionRun(const fs::path& folder) : m_folder(folder) {}
    ExtractionRun(const ExtractionRun&) = delete;
    ExtractionRun& operator=(const ExtractionRun&) = delete;

    ~ExtractionRun()
    {
        if (m_done)
            return;
        std::error_code ignored;
        for (auto moved = m_moved.rbegin(); moved != m_moved.rend(); ++moved)
            fs::remove(*moved, ignored);
        if (!m_staging.empty())
            fs::remove_all(m_staging, ignored);
        for (auto created = m_createdFolders.rbegin(); created != m_createdFolders.rend(); ++created)
            fs::remove(*created, ignored);  // only when empty: what was there before stays
    }

    // Creates folder and the missing folders above it, remembering each one made.
    void MakeFolders(const fs::path& folder)
    {
        std::error_code error;
        if (fs::is_directory(folder, error))
            return;
        if (folder.has_parent_path() && folder.parent_path() != folder)
            MakeFolders(folder.parent_path());
        if (!fs::create_directory(folder, error) && !fs::is_directory(folder))
            throw ToolError{ kExitFileSystem, DisplayPath(folder) + ": cannot create folder: " + error.message() };
        m_createdFolders.push_back(folder);
    }

    // A fresh folder inside the destination whose name no entry uses at the top level.
    const fs::path& Staging(const std::vector<std::string>& names, const CodePage& codePage)
    {
        std::string stem = kStagingPrefix + std::to_string(ProcessId());
        for (int attempt = 0; m_staging.empty(); ++attempt) {
            std::string candidate = stem + (attempt == 0 ? "" : "-" + std::to_string(attempt));
            bool used = false;
            for (const std::string& name : names)
                used = used || codePage.Fold(name.substr(0, name.find(kArchiveSeparator))) == codePage.Fold(candidate);
            std::error_code error;
            if (!used && fs::create_directory(m_folder / candidate, error))
                m_staging = m_folder / candidate;
            else if (error && !fs::exists(m_folder / candidate))
                throw ToolError{ kExitFileSystem, DisplayPath(m_folder / candidate) + ": cannot create folder: " +
                                                      error.message() };
        }
        return m_staging;
    }

    // Moves a staged file to its place; a file that was not there before goes away
    // again if the run fails.
    void Move(const fs::path& staged, const fs::path& path)
    {
        std::error_code error;
        bool existed = fs::exists(fs::symlink_status(path, error));
        fs::rename(staged, path, error);
        if (error)
            throw ToolError{ kExitFileSystem, DisplayPath(path) + ": cannot write: " + error.message() };
        if (!existed)
            m_moved.push_back(path);
    }

    void Finish()
    {
        std::error_code error;
        fs::remove_all(m_staging, error);
        m_done = true;
    }

private:
    fs::path m_folder;
    fs::path m_staging;
    std::vector<fs::path> m_createdFolders;
    std::vector<fs::path> m_moved;
    bool m_done = false;
};

} // namespace

void ListArchive(const fs::path& archive, unsigned codepage, std::ostream& out)
{
    CodePage codePage(codepage);
    LoadedArchive loaded(archive, 0, codePage);
    ArchiveEntry entry;
    while (loaded.Reader().Next(entry)) {
        char sizes[32];
        std::snprintf(sizes, sizeof sizes, "%10lu %10lu  ", static_cast<unsigned long>(entry.uncompressedSize),
                      static_cast<unsigned long>(entry.compressedSize));
        out << sizes << codePage.Display(entry.name) << '\n';
    }
}

void VerifyArchive(const fs::path& archive, unsigned codepage, std::ostream& out)
{
    CodePage codePage(codepage);
    LoadedArchive loaded(archive, 0, codePage);
    uint32_t total = loaded.Reader().GetEntryCount();
    uint32_t damaged = 0;
    uint32_t misnamed = 0;
    std::vector<std::string> names;
    Progress progress("verifying", total);
    ArchiveEntry entry;
    while (loaded.Reader().Next(entry)) {
        std::string shown = "'" + codePage.Display(entry.name) + "'";
        progress.Step(shown);
        names.push_back(entry.name);
        std::string problem = NameProblem(entry.name, codePage);
        if (!problem.empty()) {
            ++misnamed;
            std::cerr << "kmarc: " << DisplayPath(archive) << ": entry " << shown << ": " << problem << '\n';
        }
        CountingSink sink;
        EntryDamage damage = InflateEntry(entry, sink);
        if (damage != EntryDamage::None) {
            ++damaged;
            std::cerr << "kmarc: " << DisplayPath(archive) << ": entry " << shown << " is damaged: "
                      << DescribeEntryDamage(damage) << '\n';
        }
    }
    std::pair<size_t, size_t> twins = FindCaseTwins(names, codePage);
    if (twins.second != 0) {
        ++misnamed;
        std::cerr << "kmarc: " << DisplayPath(archive) << ": entries '" << codePage.Display(names[twins.first])
                  << "' and '" << codePage.Display(names[twins.second])
                  << "' clash: a name or folder in them differs only in case, and Windows takes them for one\n";
    }
    if (damaged != 0 || misnamed != 0)
        throw ToolError{ kExitDamaged, DisplayPath(archive) + ": " + std::to_string(damaged) + " of " +
                                           EntriesText(total) + " damaged, " + std::to_string(misnamed) +
                                           " name fault" + (misnamed == 1 ? "" : "s") };
    out << DisplayPath(archive) << ": " << EntriesText(total) << ", all sound\n";
}

void ExtractArchive(const fs::path& archive, const fs::path& folder, unsigned codepage)
{
    CodePage codePage(codepage);
    LoadedArchive loaded(archive, FolderPrefixLength(folder), codePage);
    std::vector<ArchiveEntry> entries;
    std::vector<std::string> names;
    ArchiveEntry entry;
    while (loaded.Reader().Next(entry)) {
        names.push_back(entry.name);
        size_t undefined = codePage.FindUndefined(entry.name);
        if (undefined != std::string::npos)
            throw ToolError{ kExitDamaged, DisplayPath(archive) + ": entry '" + codePage.Display(entry.name) +
                                               "': " + NameProblem(entry.name, codePage) };
        entries.push_back(entry);
        entries.back().name = nullptr;  // the reader frees it at the next entry
    }

    ExtractionRun run(folder);
    run.MakeFolders(folder);
    const fs::path& staging = run.Staging(names, codePage);
    Progress progress("extracting", entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        progress.Step(codePage.Display(names[i]));
        FileSink sink(staging / std::to_string(i));
        EntryDamage damage = InflateEntry(entries[i], sink);
        if (damage != EntryDamage::None)
            throw ToolError{ kExitDamaged, DisplayPath(archive) + ": entry '" + codePage.Display(names[i]) +
                                               "' is damaged: " + DescribeEntryDamage(damage) +
                                               "; nothing was extracted" };
        sink.Close();
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        fs::path path = OutputPathOf(folder, names[i], codePage);
        run.MakeFolders(path.parent_path());
        run.Move(staging / std::to_string(i), path);
    }
    run.Finish();
}
