#include "tools/kmarc/Commands.h"

#include "archive/ArchiveReader.h"
#include "archive/EntryInflation.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/Progress.h"
#include "tools/kmarc/ToolError.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kArchiveSeparator = '\\';

std::string EntriesText(uint32_t count)
{
    return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

std::string Quoted(const std::string& name)
{
    return "'" + name + "'";
}

// An archive file loaded whole, with its reader; a damaged directory is reported here,
// before any command looks at an entry.
class LoadedArchive {
public:
    LoadedArchive(const fs::path& path, uint32_t folderLength) : m_bytes(ReadWholeFile(path))
    {
        if (m_bytes.size() > UINT32_MAX)
            throw ToolError{ kExitDamaged, DisplayPath(path) + ": too large to be an archive" };
        m_reader.reset(new ArchiveReader(m_bytes.data(), static_cast<uint32_t>(m_bytes.size()), folderLength));
        ArchiveFault fault = m_reader->GetFault();
        if (fault == ArchiveFault::None)
            return;
        std::string where;
        if (fault != ArchiveFault::HeaderOutside && fault != ArchiveFault::DirectoryOutside)
            where = "entry #" + std::to_string(m_reader->GetFaultEntry() + 1) + ": ";
        throw ToolError{ kExitDamaged, DisplayPath(path) + ": damaged archive: " + where + DescribeArchiveFault(fault) };
    }

    ArchiveReader& Reader() { return *m_reader; }

private:
    std::vector<unsigned char> m_bytes;
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

    // Removes what was written, so that a failed entry leaves no file that looks whole.
    void Discard()
    {
        m_out.close();
        std::error_code ignored;
        fs::remove(m_path, ignored);
    }

private:
    fs::path m_path;
    std::ofstream m_out;
};

fs::path OutputPathOf(const fs::path& folder, const std::string& name)
{
    fs::path path = folder;
    size_t start = 0;
    for (;;) {
        size_t end = name.find(kArchiveSeparator, start);
        path /= FromArchiveComponent(name.substr(start, end - start));
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

} // namespace

void ListArchive(const fs::path& archive, std::ostream& out)
{
    LoadedArchive loaded(archive, 0);
    ArchiveEntry entry;
    while (loaded.Reader().Next(entry)) {
        char sizes[32];
        std::snprintf(sizes, sizeof sizes, "%10lu %10lu  ", static_cast<unsigned long>(entry.uncompressedSize),
                      static_cast<unsigned long>(entry.compressedSize));
        out << sizes << entry.name << '\n';
    }
}

void VerifyArchive(const fs::path& archive, std::ostream& out)
{
    LoadedArchive loaded(archive, 0);
    uint32_t total = loaded.Reader().GetEntryCount();
    uint32_t damaged = 0;
    Progress progress("verifying", total);
    ArchiveEntry entry;
    while (loaded.Reader().Next(entry)) {
        progress.Step(entry.name);
        CountingSink sink;
        EntryDamage damage = InflateEntry(entry, sink);
        if (damage != EntryDamage::None) {
            ++damaged;
            std::cerr << "kmarc: " << DisplayPath(archive) << ": entry " << Quoted(entry.name)
                      << " is damaged: " << DescribeEntryDamage(damage) << '\n';
        }
    }
    if (damaged != 0)
        throw ToolError{ kExitDamaged, DisplayPath(archive) + ": " + std::to_string(damaged) + " of " +
                                           EntriesText(total) + " damaged" };
    out << DisplayPath(archive) << ": " << EntriesText(total) << ", all sound\n";
}

void ExtractArchive(const fs::path& archive, const fs::path& folder)
{
    LoadedArchive loaded(archive, FolderPrefixLength(folder));
    fs::create_directories(folder);
    Progress progress("extracting", loaded.Reader().GetEntryCount());
    ArchiveEntry entry;
    while (loaded.Reader().Next(entry)) {
        progress.Step(entry.name);
        fs::path path = OutputPathOf(folder, entry.name);
        fs::create_directories(path.parent_path());
        FileSink sink(path);
        EntryDamage damage;
        try {
            damage = InflateEntry(entry, sink);
        } catch (...) {
            sink.Discard();
            throw;
        }
        if (damage != EntryDamage::None) {
            sink.Discard();
            throw ToolError{ kExitDamaged, DisplayPath(archive) + ": entry " + Quoted(entry.name) + " is damaged: " +
                                               DescribeEntryDamage(damage) + "; extraction stopped" };
        }
        sink.Close();
    }
}
