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

[[noreturn]] void Refuse(const fs::path& path, const std::string& why)
{
    throw ToolError{ kExitNotPackable, DisplayPath(path) + ": " + why };
}

std::string Fault(const fs::path& path, const std::string& why)
{
    return DisplayPath(path) + ": " + why;
}

bool IsWithin(const fs::path& path, const fs::path& folder)
{
    fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

// A symbolic link is packed as the file it names when that file lies inside the payload
// folder; any other link is refused, so that nothing outside the folder is shipped and
// nothing inside it is left out without a word. Returns the fault, or "".
std::string LinkFault(const fs::path& link, const fs::path& canonicalRoot)
{
    std::error_code error;
    fs::path target = fs::canonical(link, error);
    if (error == std::errc::too_many_symbolic_link_levels)
        return "symbolic link loop";
    if (error)
        return "symbolic link to nothing (" + DisplayPath(fs::read_symlink(link, error)) + ")";
    if (fs::is_directory(target, error))
        return "symbolic link to a folder; only links to files inside the folder being packed are packed";
    if (!IsWithin(target, canonicalRoot))
        return "symbolic link to " + DisplayPath(target) + ", outside the folder being packed";
    if (!fs::is_regular_file(target, error))
        return "symbolic link to something that is not a regular file";
    return std::string();
}

// Walks a payload folder and records every fault instead of stopping at the first, so
// that one run lists them all before anything is compressed.
class Planner {
public:
    Planner(const CodePage& codePage, std::vector<std::string>& faults, PackPlan& plan)
        : m_codePage(codePage), m_faults(faults), m_plan(plan)
    {
    }

    // One component of an archive name, for the file or folder at path; false (and the
    // fault recorded) when it has none.
    bool Component(const fs::path& path, std::string& part)
    {
        try {
            part = m_codePage.FromHost(path.filename(), path);
        } catch (const ToolError& error) {
            m_faults.push_back(error.message);
            return false;
        }
        // A backslash inside one component would read back as a folder boundary.
        if (part.find(kArchiveSeparator) != std::string::npos) {
            m_faults.push_back(Fault(path, "name holds a backslash, which the archive uses between folders"));
            return false;
        }
        return true;
    }

    // Returns whether anything below folder becomes an entry.
    bool Walk(const fs::path& folder, const std::string& prefix, const fs::path& canonicalRoot)
    {
        m_plan.folders.push_back(folder);
        std::vector<fs::path> children;
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            children.push_back(it->path());
        if (error) {
            m_faults.push_back(Fault(folder, "cannot read the folder: " + error.message()));
            return true;  // not empty as far as anyone can tell
        }
        std::sort(children.begin(), children.end());
        bool holdsFiles = false;
        for (const fs::path& child : children) {
            fs::file_status status = fs::symlink_status(child, error);
            std::string part;
            if (!Component(child, part))
                continue;
            std::string name = prefix + part;
            if (fs::is_symlink(status)) {
                std::string fault = LinkFault(child, canonicalRoot);
                if (!fault.empty())
                    m_faults.push_back(Fault(child, fault));
                else
                    AddFile(name, child);
                holdsFiles = true;
            } else if (fs::is_directory(status)) {
                if (Walk(child, name + kArchiveSeparator, canonicalRoot))
                    holdsFiles = true;
                else
                    m_plan.emptyFolders.push_back(child);
            } else if (fs::is_regular_file(status)) {
                AddFile(name, child);
                holdsFiles = true;
            } else {
                m_faults.push_back(Fault(child, "not a regular file, folder or symbolic link"));
                holdsFiles = true;
            }
        }
        return holdsFiles;
    }

    void AddFile(const std::string& name, const fs::path& path)
    {
        PackItem item;
        item.name = name;
        item.path = path;
        m_plan.files.push_back(item);
    }

    // Adds each file under its own name unless the folder's top level already has that name.
    void AddMissing(const std::vector<fs::path>& extras, const fs::path& folder)
    {
        if (extras.empty())
            return;
        std::set<std::string> present;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            std::string part;
            if (Component(entry.path(), part))
                present.insert(m_codePage.Fold(part));
        }
        for (const fs::path& extra : extras) {
            std::error_code error;
            if (!fs::is_regular_file(extra, error))
                throw ToolError{ kExitFileSystem, DisplayPath(extra) + ": not a file (given to --add-missing)" };
            std::string name;
            if (Component(extra, name) && present.insert(m_codePage.Fold(name)).second)
                AddFile(name, extra);
        }
    }

    // The names' own rules, the sizes and the time stamps, and the clashes between names.
    void CheckFiles(uint32_t latest)
    {
        std::vector<std::string> names;
        for (PackItem& file : m_plan.files) {
            std::string problem = NameProblem(file.name, m_codePage);
            if (!problem.empty())
                m_faults.push_back(Fault(file.path, problem));
            names.push_back(file.name);
            std::error_code error;
            uint64_t size = 0;
            uint32_t time = 0;
            try {
                size = GetFileSize(file.path);
                time = std::min(GetLastWriteTime(file.path), latest);
            } catch (const ToolError& failure) {
                m_faults.push_back(failure.message);
                continue;
            }
            if (size > kMaxEntrySize)
                m_faults.push_back(Fault(file.path, "larger than the 4 GiB an archive can hold"));
            file.times = { time, time, time };
            m_plan.bytes += size;
        }
        // Windows names ignore case: the second of two such files would overwrite the first.
        for (const std::pair<size_t, size_t>& twins : FindAllCaseTwins(names, m_codePage))
            m_faults.push_back(Fault(m_plan.files[twins.second].path,
                                     "name clashes with " + DisplayPath(m_plan.files[twins.first].path) +
                                         ": they differ only in case, and Windows takes them for one"));
    }

private:
    const CodePage& m_codePage;
    std::vector<std::string>& m_faults;
    PackPlan& m_plan;
};

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

// Turns what the writer refused into the message for the packager.
void RefuseWriteResult(const fs::path& label, const PackItem& item, ArchiveWriteResult result)
{
    if (result == ArchiveWriteResult::WriteFailed)
        throw ToolError{ kExitFileSystem, DisplayPath(label) + ": cannot write" };
    if (result == ArchiveWriteResult::TooLarge)
        Refuse(item.path, "the archive would pass the 4 GiB it can hold with this file");
    Refuse(item.path, DescribeArchiveWriteResult(result));
}

// Progress of a pack, counted as the files are read and written.
class ProgressObserver : public PackObserver {
public:
    explicit ProgressObserver(Progress& progress) : m_progress(progress) {}
    void BytesRead(uint64_t count) override { m_progress.AddBytes(count); }
    void EntryWritten(const PackItem& item) override { m_progress.Step(DisplayPath(item.path)); }

private:
    Progress& m_progress;
};

} // namespace

PackPlan PlanFolder(const fs::path& folder, const PackOptions& options, std::vector<std::string>& faults)
{
    uint32_t latest = LatestTime();  // a malformed SOURCE_DATE_EPOCH is refused before anything is read
    CodePage codePage(options.codepage);
    std::error_code error;
    if (!fs::is_directory(folder, error))
        throw ToolError{ kExitFileSystem, DisplayPath(folder) + ": not a folder" };
    PackPlan plan;
    plan.folder = folder;
    Planner planner(codePage, faults, plan);
    planner.Walk(folder, std::string(), fs::canonical(folder));
    planner.AddMissing(options.addMissing, folder);
    std::sort(plan.files.begin(), plan.files.end(),
              [](const PackItem& a, const PackItem& b) { return a.name < b.name; });
    planner.CheckFiles(latest);
    return plan;
}

void RefuseFaults(const std::vector<std::string>& faults)
{
    if (faults.empty())
        return;
    std::string message;
    for (const std::string& fault : faults)
        message += (message.empty() ? "" : "\nkmarc: ") + fault;
    if (faults.size() > 1)
        message += "\nkmarc: " + std::to_string(faults.size()) + " problems; nothing was packed";
    throw ToolError{ kExitNotPackable, message };
}

void WarnEmptyFolders(const PackPlan& plan)
{
    for (const fs::path& folder : plan.emptyFolders)
        std::cerr << "kmarc: warning: " << DisplayPath(folder)
                  << ": empty folder, left out: an archive holds files only, so the setup will not create it\n";
}

void PackPlanned(const PackPlan& plan, const PackOptions& options, ArchiveOutput& output, const fs::path& label,
                 Progress& progress)
{
    ArchiveWriter writer(output, options.level);
    ProgressObserver observer(progress);
    PackInParallel(writer, plan.files, options.level, options.jobs,
                   [&](const PackItem& item, ArchiveWriteResult result) { RefuseWriteResult(label, item, result); },
                   observer);
    ArchiveWriteResult result = writer.Finish();
    if (result == ArchiveWriteResult::WriteFailed)
        throw ToolError{ kExitFileSystem, DisplayPath(label) + ": cannot write" };
    if (result != ArchiveWriteResult::Ok)
        Refuse(label, "the directory would pass the 4 GiB an archive can hold");
}

void PackArchive(const fs::path& archive, const fs::path& folder, const PackOptions& options)
{
    std::vector<std::string> faults;
    PackPlan plan = PlanFolder(folder, options, faults);
    RefuseFaults(faults);
    if (!options.quiet)
        WarnEmptyFolders(plan);
    PartialArchive output(archive);
    {
        Progress progress("packing", plan.files.size(), options.quiet, plan.bytes);
        PackPlanned(plan, options, output, archive, progress);
    }
    output.Commit();
    if (!options.depfile.empty()) {
        std::vector<fs::path> inputs;
        AddPlanInputs(plan, inputs);
        WriteDepfile(options.depfile, archive, inputs);
    }
}

void AddPlanInputs(const PackPlan& plan, std::vector<fs::path>& inputs)
{
    inputs.insert(inputs.end(), plan.folders.begin(), plan.folders.end());
    for (const PackItem& file : plan.files)
        inputs.push_back(file.path);
}

void WriteDepfile(const fs::path& depfile, const fs::path& target, const std::vector<fs::path>& inputs)
{
    std::string spelledTarget;
    if (!EscapeForDepfile(DepfileName(target), spelledTarget))
        throw ToolError{ kExitUsage, DisplayPath(target) + ": a depfile cannot name this path" };
    DepfileSpeller speller(depfile);
    std::vector<std::string> prerequisites;
    for (const fs::path& input : inputs)
        prerequisites.push_back(speller.Spell(input));
    std::string text = FormatDepfile(spelledTarget, prerequisites);
    WriteWholeFile(depfile, std::vector<unsigned char>(text.begin(), text.end()));
}
