#include "tools/kmarc/Pack.h"

#include "archive/ArchiveWriter.h"
#include "tools/kmarc/CodePage.h"
#include "tools/kmarc/Depfile.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/NameRules.h"
#include "tools/kmarc/OutputFile.h"
#include "tools/kmarc/Progress.h"
#include "tools/kmarc/ToolError.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kArchiveSeparator = '\\';
const uint64_t kMaxEntrySize = UINT32_MAX;
// Written into a depfile in place of a name Ninja cannot read and no link can stand in
// for; kmarc makes sure it does not exist, so Ninja repacks the archive on every build
// rather than miss a change.
const char kUnlistedSuffix[] = ".unlisted";

struct SourceFile {
    std::string name;  // archive name
    fs::path path;     // where it is read from
};

// What a pack reads: the files that become entries, and the folders whose listings
// decide which files those are.
struct Payload {
    std::vector<SourceFile> files;
    std::vector<fs::path> folders;
};

[[noreturn]] void Refuse(const fs::path& path, const std::string& why)
{
    throw ToolError{ kExitNotPackable, DisplayPath(path) + ": " + why };
}

// One component of an archive name, for the file or folder at path.
std::string ComponentOf(const fs::path& path, const CodePage& codePage)
{
    std::string part = codePage.FromHost(path.filename(), path);
    // A backslash inside one component would read back as a folder boundary.
    if (part.find(kArchiveSeparator) != std::string::npos)
        Refuse(path, "name holds a backslash, which the archive uses between folders");
    return part;
}

bool IsWithin(const fs::path& path, const fs::path& folder)
{
    fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

// A symbolic link is packed as the file it names when that file lies inside the payload
// folder; any other link is refused, so that nothing outside the folder is shipped and
// nothing inside it is left out without a word.
void CheckLink(const fs::path& link, const fs::path& canonicalRoot)
{
    std::error_code error;
    fs::path target = fs::canonical(link, error);
    if (error == std::errc::too_many_symbolic_link_levels)
        Refuse(link, "symbolic link loop");
    if (error)
        Refuse(link, "symbolic link to nothing (" + DisplayPath(fs::read_symlink(link, error)) + ")");
    if (fs::is_directory(target, error))
        Refuse(link, "symbolic link to a folder; only links to files inside the folder being packed are packed");
    if (!IsWithin(target, canonicalRoot))
        Refuse(link, "symbolic link to " + DisplayPath(target) + ", outside the folder being packed");
    if (!fs::is_regular_file(target, error))
        Refuse(link, "symbolic link to something that is not a regular file");
}

void Walk(const fs::path& folder, const std::string& prefix, const fs::path& canonicalRoot, const CodePage& codePage,
          Payload& payload)
{
    payload.folders.push_back(folder);
    std::vector<fs::path> children;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        children.push_back(entry.path());
    std::sort(children.begin(), children.end());
    for (const fs::path& child : children) {
        fs::file_status status = fs::symlink_status(child);
        std::string name = prefix + ComponentOf(child, codePage);
        if (fs::is_symlink(status)) {
            CheckLink(child, canonicalRoot);
            payload.files.push_back({ name, child });
        } else if (fs::is_directory(status)) {
            Walk(child, name + kArchiveSeparator, canonicalRoot, codePage, payload);
        } else if (fs::is_regular_file(status)) {
            payload.files.push_back({ name, child });
        } else {
            Refuse(child, "not a regular file, folder or symbolic link");
        }
    }
}

// Adds each file under its own name unless the folder's top level already has that name.
void AddMissing(const std::vector<fs::path>& extras, const fs::path& folder, const CodePage& codePage,
                Payload& payload)
{
    if (extras.empty())
        return;
    std::set<std::string> present;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        present.insert(codePage.Fold(ComponentOf(entry.path(), codePage)));
    for (const fs::path& extra : extras) {
        std::error_code error;
        if (!fs::is_regular_file(extra, error))
            throw ToolError{ kExitFileSystem, DisplayPath(extra) + ": not a file (given to --add-missing)" };
        std::string name = ComponentOf(extra, codePage);
        if (present.insert(codePage.Fold(name)).second)
            payload.files.push_back({ name, extra });
    }
}

Payload CollectPayload(const fs::path& folder, const PackOptions& options, const CodePage& codePage)
{
    std::error_code error;
    if (!fs::is_directory(folder, error))
        throw ToolError{ kExitFileSystem, DisplayPath(folder) + ": not a folder" };
    Payload payload;
    Walk(folder, std::string(), fs::canonical(folder), codePage, payload);
    AddMissing(options.addMissing, folder, codePage, payload);
    std::sort(payload.files.begin(), payload.files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });

    std::vector<std::string> names;
    for (const SourceFile& file : payload.files) {
        std::string problem = NameProblem(file.name, codePage);
        if (!problem.empty())
            Refuse(file.path, problem);
        names.push_back(file.name);
    }
    // Windows names ignore case: the second of two such files would overwrite the first.
    std::pair<size_t, size_t> twins = FindCaseTwins(names, codePage);
    if (twins.second != 0)
        Refuse(payload.files[twins.second].path, "name clashes with " + DisplayPath(payload.files[twins.first].path) +
                                                     ": they differ only in case, and Windows takes them for one");
    return payload;
}

// SOURCE_DATE_EPOCH, when set to a number: no time stamp is later than it.
uint32_t LatestTime()
{
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0')
        return UINT32_MAX;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || *text == '-')
        throw ToolError{ kExitUsage, std::string("SOURCE_DATE_EPOCH is not a number of seconds: '") + text + "'" };
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

// Spells the prerequisites of one depfile. A path Ninja cannot read (a name with ';',
// '&' and the like) is named through a symbolic link of a plain name in FILE.links,
// which Ninja follows to the file or folder's own time; where no link can be made, it
// is named as FILE.unlisted, which never exists, so the archive is repacked every time.
class DepfileSpeller {
public:
    explicit DepfileSpeller(const fs::path& depfile) : m_depfile(depfile), m_links(depfile)
    {
        m_links += kLinksSuffix;
        std::error_code ignored;
        fs::remove_all(m_links, ignored);  // the links of an earlier run
    }

    std::string Spell(const fs::path& path)
    {
        std::string escaped;
        if (EscapeForDepfile(DepfileName(path), escaped))
            return escaped;
        std::error_code error;
#ifndef _WIN32
        fs::path link = m_links / std::to_string(m_linkCount++);
        fs::create_directories(m_links, error);
        if (!error)
            fs::create_symlink(fs::absolute(path), link, error);
        if (!error && EscapeForDepfile(DepfileName(link), escaped))
            return escaped;
#endif
        std::cerr << "kmarc: " << DisplayPath(path)
                  << ": a depfile cannot name this path; the archive will be repacked on every build\n";
        fs::path unlisted = m_depfile;
        unlisted += kUnlistedSuffix;
        fs::remove(unlisted, error);
        if (!EscapeForDepfile(DepfileName(unlisted), escaped))
            throw ToolError{ kExitFileSystem, DisplayPath(m_depfile) + ": a depfile cannot name this path" };
        return escaped;
    }

private:
    static constexpr const char* kLinksSuffix = ".links";
    fs::path m_depfile;
    fs::path m_links;
    unsigned m_linkCount = 0;
};

void WriteDepfile(const fs::path& depfile, const fs::path& archive, const Payload& payload)
{
    std::string target;
    if (!EscapeForDepfile(DepfileName(archive), target))
        throw ToolError{ kExitUsage, DisplayPath(archive) + ": a depfile cannot name this archive path" };
    DepfileSpeller speller(depfile);
    std::vector<std::string> prerequisites;
    for (const fs::path& folder : payload.folders)
        prerequisites.push_back(speller.Spell(folder));
    for (const SourceFile& file : payload.files)
        prerequisites.push_back(speller.Spell(file.path));
    std::string text = FormatDepfile(target, prerequisites);
    WriteWholeFile(depfile, std::vector<unsigned char>(text.begin(), text.end()));
}

// The archive while it is written: an OutputFile, renamed over the archive only when
// everything went well. A failed write throws out of the writer with the reason.
class PartialArchive : public ArchiveOutput {
public:
    explicit PartialArchive(const fs::path& archive) : m_file(archive) {}

    bool Append(const unsigned char* bytes, size_t count) override
    {
        m_file.Append(bytes, count);
        return true;
    }

    bool Rewrite(uint64_t offset, const unsigned char* bytes, size_t count) override
    {
        m_file.WriteAt(offset, bytes, count);
        return true;
    }

    void Commit() { m_file.Commit(); }

private:
    OutputFile m_file;
};

// A payload file read in pieces.
class SourceInput : public ArchiveInput {
public:
    explicit SourceInput(const fs::path& path) : m_path(path), m_file(OpenFile(path, "rb"))
    {
        if (m_file == nullptr)
            throw ToolError{ kExitFileSystem, DisplayPath(path) + ": cannot open for reading" };
    }
    ~SourceInput() { std::fclose(m_file); }
    SourceInput(const SourceInput&) = delete;
    SourceInput& operator=(const SourceInput&) = delete;

    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        size_t count = std::fread(buffer, 1, capacity, m_file);
        if (count < capacity && std::ferror(m_file))
            throw ToolError{ kExitFileSystem, DisplayPath(m_path) + ": cannot read" };
        return count;
    }

private:
    fs::path m_path;
    FILE* m_file;
};

// The archive in memory, for commands that put it somewhere other than a file.
class MemoryArchive : public ArchiveOutput {
public:
    bool Append(const unsigned char* bytes, size_t count) override
    {
        m_bytes.insert(m_bytes.end(), bytes, bytes + count);
        return true;
    }

    bool Rewrite(uint64_t offset, const unsigned char* bytes, size_t count) override
    {
        if (offset > m_bytes.size() || count > m_bytes.size() - offset)
            return false;
        std::copy(bytes, bytes + count, m_bytes.begin() + static_cast<std::ptrdiff_t>(offset));
        return true;
    }

    std::vector<unsigned char>& Bytes() { return m_bytes; }

private:
    std::vector<unsigned char> m_bytes;
};

// Packs the payload into output; label names the archive in messages.
void PackPayload(const Payload& payload, const PackOptions& options, ArchiveOutput& output, const fs::path& label)
{
    uint32_t latest = LatestTime();
    // Sizes first, so that a file too large for the format is refused before any reading.
    for (const SourceFile& file : payload.files) {
        if (GetFileSize(file.path) > kMaxEntrySize)
            Refuse(file.path, "larger than the 4 GiB an archive can hold");
    }

    ArchiveWriter writer(output, options.level);
    Progress progress("packing", payload.files.size(), options.quiet);
    for (const SourceFile& file : payload.files) {
        progress.Step(file.name);
        uint32_t time = std::min(GetLastWriteTime(file.path), latest);
        SourceInput input(file.path);
        ArchiveWriteResult result = writer.AddStream(file.name, input, { time, time, time });
        if (result == ArchiveWriteResult::WriteFailed)
            throw ToolError{ kExitFileSystem, DisplayPath(label) + ": cannot write" };
        if (result == ArchiveWriteResult::TooLarge)
            Refuse(file.path, "the archive would pass the 4 GiB it can hold with this file");
        if (result != ArchiveWriteResult::Ok)
            Refuse(file.path, DescribeArchiveWriteResult(result));
    }
    ArchiveWriteResult result = writer.Finish();
    if (result == ArchiveWriteResult::WriteFailed)
        throw ToolError{ kExitFileSystem, DisplayPath(label) + ": cannot write" };
    if (result != ArchiveWriteResult::Ok)
        Refuse(label, "the directory would pass the 4 GiB an archive can hold");
}

} // namespace

void PackArchive(const fs::path& archive, const fs::path& folder, const PackOptions& options)
{
    LatestTime();  // a malformed SOURCE_DATE_EPOCH is refused before anything is read
    CodePage codePage(options.codepage);
    Payload payload = CollectPayload(folder, options, codePage);
    PartialArchive output(archive);
    PackPayload(payload, options, output, archive);
    output.Commit();
    if (!options.depfile.empty())
        WriteDepfile(options.depfile, archive, payload);
}

std::vector<unsigned char> PackFolder(const fs::path& folder, const PackOptions& options)
{
    LatestTime();
    CodePage codePage(options.codepage);
    Payload payload = CollectPayload(folder, options, codePage);
    MemoryArchive output;
    PackPayload(payload, options, output, folder);
    return std::move(output.Bytes());
}
