#include "tools/kmarc/Commands.h"

#include "archive/ArchiveReader.h"
#include "archive/EntryInflation.h"
#include "archive/EntryName.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/JsonText.h"
#include "tools/kmarc/NameRules.h"
#include "tools/kmarc/Progress.h"
#include "tools/kmarc/SetupArchives.h"
#include "tools/kmarc/ToolError.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>
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

// An archive in memory with its reader: a file mapped, or an archive resource of a
// setup executable. A damaged directory is reported here, before any command looks at
// an entry; label names the archive in messages.
class LoadedArchive {
public:
    LoadedArchive(const fs::path& path, uint32_t folderLength, const CodePage& codePage)
        : m_file(new MappedFile(path))
    {
        Check(DisplayPath(path), m_file->Data(), m_file->Size(), folderLength, codePage);
    }

    LoadedArchive(const std::string& label, const std::vector<unsigned char>& bytes, uint32_t folderLength,
                  const CodePage& codePage)
    {
        Check(label, bytes.data(), bytes.size(), folderLength, codePage);
    }

    ArchiveReader& Reader() { return *m_reader; }
    // Where an entry's stream begins, counted from the start of the archive.
    uint64_t Offset(const ArchiveEntry& entry) const { return static_cast<uint64_t>(entry.data - m_base); }

private:
    void Check(const std::string& label, const unsigned char* data, uint64_t size, uint32_t folderLength,
               const CodePage& codePage)
    {
        if (size > UINT32_MAX)
            throw ToolError{ kExitDamaged, label + ": not an archive: larger than 4 GiB" };
        // An empty file maps to no address; the reader needs one all the same.
        static const unsigned char kNothing = 0;
        const unsigned char* bytes = size == 0 ? &kNothing : data;
        m_base = bytes;
        m_reader.reset(new ArchiveReader(bytes, static_cast<uint32_t>(size), folderLength));
        ArchiveFault fault = m_reader->GetFault();
        if (fault == ArchiveFault::None)
            return;
        // A file whose first four bytes do not lead to a directory inside it was never
        // an archive, or lost its end.
        if (fault == ArchiveFault::HeaderOutside || fault == ArchiveFault::DirectoryOutside)
            throw ToolError{ kExitDamaged, label + ": not an archive (or one cut short): " + DescribeArchiveFault(fault) };
        std::string where = "entry #" + std::to_string(m_reader->GetFaultEntry() + 1);
        std::string why = DescribeArchiveFault(fault);
        if (fault == ArchiveFault::NameNotAllowed) {
            uint32_t position = m_reader->GetFaultPosition();
            const unsigned char* record = bytes + position;
            std::string name(reinterpret_cast<const char*>(record + 1), record[0]);
            where += " '" + codePage.Display(name) + "'";
            EntryNameFault nameFault = CheckEntryName(name.data(), uint32_t(name.size()), folderLength);
            why = nameFault == EntryNameFault::TooLong ? "its output path would pass the " +
                                                             std::to_string(kMaxOutputPathLength) + " bytes allowed"
                                                       : NameProblem(name, codePage);
        }
        throw ToolError{ kExitDamaged, label + ": damaged archive: " + where + ": " + why };
    }

    std::unique_ptr<MappedFile> m_file;
    const unsigned char* m_base = nullptr;
    std::unique_ptr<ArchiveReader> m_reader;
};

// The archive resources of a setup executable, or nothing when path is an archive.
bool ReadIfSetup(const fs::path& path, std::vector<SetupArchive>& archives)
{
    std::vector<unsigned char> bytes;
    {
        MappedFile file(path);
        if (!LooksLikeExecutable(file.Data(), file.Size()))
            return false;
        bytes.assign(file.Data(), file.Data() + file.Size());
    }
    archives = ReadSetupArchives(path, std::move(bytes));
    return true;
}

// "SETUP.exe:BASE": an archive resource in messages.
std::string ResourceLabel(const fs::path& setup, const SetupArchive& archive)
{
    return DisplayPath(setup) + ":" + archive.name;
}

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

namespace {

void ListEntries(LoadedArchive& loaded, const CodePage& codePage, std::ostream& out)
{
    ArchiveEntry entry;
    while (loaded.Reader().Next(entry)) {
        char sizes[32];
        std::snprintf(sizes, sizeof sizes, "%10lu %10lu  ", static_cast<unsigned long>(entry.uncompressedSize),
                      static_cast<unsigned long>(entry.compressedSize));
        out << sizes << codePage.Display(entry.name) << '\n';
    }
}

} // namespace

// One archive of list --json; name is null for an archive file.
void ListArchiveJson(LoadedArchive& loaded, const std::string& name, const std::string& language, uint64_t size,
                     const CodePage& codePage, std::ostream& out)
{
    out << "    {\"archive\": " << name << ", \"language\": " << language << ", \"size\": " << size
        << ", \"entries\": [";
    ArchiveEntry entry;
    const char* separator = "\n";
    while (loaded.Reader().Next(entry)) {
        out << separator << "      {\"entry\": " << JsonString(codePage.Utf8(entry.name))
            << ", \"size\": " << entry.uncompressedSize << ", \"compressedSize\": " << entry.compressedSize
            << ", \"offset\": " << loaded.Offset(entry) << ", \"time\": \"" << IsoUtcTime(entry.lastWriteTime) << "\"}";
        separator = ",\n";
    }
    out << (*separator == ',' ? "\n    ]}" : "]}");
}

void ListJson(const fs::path& archive, const CodePage& codePage, std::ostream& out)
{
    out << "{\"file\": " << JsonString(archive.u8string()) << ",\n  \"archives\": [\n";
    std::vector<SetupArchive> archives;
    if (!ReadIfSetup(archive, archives)) {
        LoadedArchive loaded(archive, 0, codePage);
        ListArchiveJson(loaded, "null", "null", GetFileSize(archive), codePage, out);
    }
    for (size_t i = 0; i < archives.size(); ++i) {
        LoadedArchive loaded(ResourceLabel(archive, archives[i]), archives[i].bytes, 0, codePage);
        ListArchiveJson(loaded, JsonString(archives[i].name), std::to_string(archives[i].language),
                        archives[i].bytes.size(), codePage, out);
        out << (i + 1 < archives.size() ? ",\n" : "");
    }
    out << "\n  ]}\n";
}

void ListArchive(const fs::path& archive, const ReadOptions& options, std::ostream& out)
{
    CodePage codePage(options.codepage);
    if (options.json) {
        // Built whole first, so that a damaged archive leaves no half document on out.
        std::ostringstream document;
        ListJson(archive, codePage, document);
        out << document.str();
        return;
    }
    std::vector<SetupArchive> archives;
    if (!ReadIfSetup(archive, archives)) {
        LoadedArchive loaded(archive, 0, codePage);
        ListEntries(loaded, codePage, out);
        return;
    }
    if (archives.empty())
        out << DisplayPath(archive) << ": no archives\n";
    for (const SetupArchive& found : archives) {
        LoadedArchive loaded(ResourceLabel(archive, found), found.bytes, 0, codePage);
        out << "archive " << found.name << ", language " << found.language << ", " << found.bytes.size()
            << " bytes, " << EntriesText(loaded.Reader().GetEntryCount()) << '\n';
        ListEntries(loaded, codePage, out);
    }
}

namespace {

// Checks every entry of one archive; each fault goes to stderr. Returns the summary of
// the faults, or an empty text after writing the "all sound" line to out.
std::string VerifyLoaded(LoadedArchive& loaded, const std::string& label, const CodePage& codePage, bool quiet,
                         std::ostream& out)
{
    uint32_t total = loaded.Reader().GetEntryCount();
    uint32_t damaged = 0;
    uint32_t misnamed = 0;
    std::vector<std::string> names;
    std::map<std::tuple<const unsigned char*, uint32_t, uint32_t>, EntryDamage> inflated;
    Progress progress("verifying", total, quiet);
    ArchiveEntry entry;
    while (loaded.Reader().Next(entry)) {
        std::string shown = "'" + codePage.Display(entry.name) + "'";
        progress.Step(shown);
        names.push_back(entry.name);
        std::string problem = NameProblem(entry.name, codePage);
        if (!problem.empty()) {
            ++misnamed;
            std::cerr << "kmarc: " << label << ": entry " << shown << ": " << problem << '\n';
        }
        // Entries of identical files name one stream, which is inflated once.
        auto stream = std::make_tuple(entry.data, entry.compressedSize, entry.uncompressedSize);
        auto known = inflated.find(stream);
        if (known == inflated.end()) {
            CountingSink sink;
            known = inflated.emplace(stream, InflateEntry(entry, sink)).first;
        }
        EntryDamage damage = known->second;
        if (damage != EntryDamage::None) {
            ++damaged;
            std::cerr << "kmarc: " << label << ": entry " << shown << " is damaged: "
                      << DescribeEntryDamage(damage) << '\n';
        }
    }
    std::pair<size_t, size_t> twins = FindCaseTwins(names, codePage);
    if (twins.second != 0) {
        ++misnamed;
        std::cerr << "kmarc: " << label << ": entries '" << codePage.Display(names[twins.first])
                  << "' and '" << codePage.Display(names[twins.second])
                  << "' clash: a name or folder in them differs only in case, and Windows takes them for one\n";
    }
    if (damaged != 0 || misnamed != 0)
        return label + ": " + std::to_string(damaged) + " of " + EntriesText(total) + " damaged, " +
               std::to_string(misnamed) + " name fault" + (misnamed == 1 ? "" : "s");
    out << label << ": " << EntriesText(total) << ", all sound\n";
    return std::string();
}

} // namespace

void VerifyArchive(const fs::path& archive, const ReadOptions& options, std::ostream& out)
{
    CodePage codePage(options.codepage);
    std::vector<SetupArchive> archives;
    if (!ReadIfSetup(archive, archives)) {
        LoadedArchive loaded(archive, 0, codePage);
        std::string faults = VerifyLoaded(loaded, DisplayPath(archive), codePage, options.quiet, out);
        if (!faults.empty())
            throw ToolError{ kExitDamaged, faults };
        return;
    }
    if (archives.empty())
        throw ToolError{ kExitDamaged, DisplayPath(archive) + ": carries no archives" };
    bool present[kSetupArchiveCount] = {};
    size_t faulty = 0;
    for (const SetupArchive& found : archives) {
        std::string label = ResourceLabel(archive, found);
        int index = SetupArchiveIndex(found.name);
        if (index >= 0)
            present[index] = true;
        else
            out << label << ": not an archive the launcher or the setup program reads\n";
        if (found.language != kArchiveLanguage)
            out << label << ": stored under language " << found.language << ", not " << kArchiveLanguage << '\n';
        try {
            LoadedArchive loaded(label, found.bytes, 0, codePage);
            std::string faults = VerifyLoaded(loaded, label, codePage, options.quiet, out);
            if (!faults.empty()) {
                ++faulty;
                std::cerr << "kmarc: " << faults << '\n';
            }
        } catch (const ToolError& error) {
            ++faulty;
            std::cerr << "kmarc: " << error.message << '\n';
        }
    }
    for (int i = 0; i < kSetupArchiveCount; ++i) {
        if (!present[i])
            out << DisplayPath(archive) << ": no " << kSetupArchiveNames[i] << " archive\n";
    }
    if (faulty != 0)
        throw ToolError{ kExitDamaged, DisplayPath(archive) + ": " + std::to_string(faulty) + " of " +
                                           std::to_string(archives.size()) + " archives have faults" };
}

namespace {

// One entry on its way out: where its archive wants it and what to call it in messages.
struct PendingEntry {
    ArchiveEntry entry;
    std::string name;
    fs::path folder;
    std::string label;
};

void CollectEntries(LoadedArchive& loaded, const std::string& label, const fs::path& folder, const CodePage& codePage,
                    std::vector<PendingEntry>& pending)
{
    ArchiveEntry entry;
    while (loaded.Reader().Next(entry)) {
        size_t undefined = codePage.FindUndefined(entry.name);
        if (undefined != std::string::npos)
            throw ToolError{ kExitDamaged, label + ": entry '" + codePage.Display(entry.name) +
                                               "': " + NameProblem(entry.name, codePage) };
        pending.push_back({ entry, entry.name, folder, label });
        pending.back().entry.name = nullptr;  // the reader frees it at the next entry
    }
}

// Inflates every entry into a staging folder below folder, then moves them to their
// places; topNames are the names the run creates directly in folder.
void ExtractEntries(const std::vector<PendingEntry>& pending, const fs::path& folder,
                    const std::vector<std::string>& topNames, const CodePage& codePage, bool quiet)
{
    ExtractionRun run(folder);
    run.MakeFolders(folder);
    const fs::path& staging = run.Staging(topNames, codePage);
    Progress progress("extracting", pending.size(), quiet);
    for (size_t i = 0; i < pending.size(); ++i) {
        progress.Step(codePage.Display(pending[i].name));
        FileSink sink(staging / std::to_string(i));
        EntryDamage damage = InflateEntry(pending[i].entry, sink);
        if (damage != EntryDamage::None)
            throw ToolError{ kExitDamaged, pending[i].label + ": entry '" + codePage.Display(pending[i].name) +
                                               "' is damaged: " + DescribeEntryDamage(damage) +
                                               "; nothing was extracted" };
        sink.Close();
    }
    for (size_t i = 0; i < pending.size(); ++i) {
        fs::path path = OutputPathOf(pending[i].folder, pending[i].name, codePage);
        run.MakeFolders(path.parent_path());
        run.Move(staging / std::to_string(i), path);
    }
    run.Finish();
}

} // namespace

void ExtractArchive(const fs::path& archive, const fs::path& folder, const ReadOptions& options)
{
    CodePage codePage(options.codepage);
    std::vector<SetupArchive> archives;
    std::vector<PendingEntry> pending;
    std::vector<std::string> topNames;
    if (!ReadIfSetup(archive, archives)) {
        LoadedArchive loaded(archive, FolderPrefixLength(folder), codePage);
        CollectEntries(loaded, DisplayPath(archive), folder, codePage, pending);
        for (const PendingEntry& entry : pending)
            topNames.push_back(entry.name);
        ExtractEntries(pending, folder, topNames, codePage, options.quiet);
        return;
    }
    // Each archive goes into a folder of its name; every one is judged before the first
    // file is written.
    if (archives.empty())
        throw ToolError{ kExitDamaged, DisplayPath(archive) + ": carries no archives" };
    std::vector<std::unique_ptr<LoadedArchive>> loaded;
    for (const SetupArchive& found : archives) {
        fs::path target = folder / fs::path(found.name);
        loaded.emplace_back(
            new LoadedArchive(ResourceLabel(archive, found), found.bytes, FolderPrefixLength(target), codePage));
        CollectEntries(*loaded.back(), ResourceLabel(archive, found), target, codePage, pending);
        topNames.push_back(found.name);
    }
    ExtractEntries(pending, folder, topNames, codePage, options.quiet);
}
