// kmbench-limit: the least work that unpacking the archives can cost on this system.
//
// It inflates the same zlib streams from memory with zlib directly and writes each file
// with 64 KiB writes, creating each folder once; no string class, no stream objects,
// no per-entry folder walk. Each run then repeats the work split into its parts, as
// kmbench-extract does, so the two breakdowns can be set side by side.
//
// Usage: kmbench-limit [--whole-only] RUNS OUTDIR ARCHIVE...
// The whole extraction of the last run stays in OUTDIR\full for checking.
#include "bench/BenchSupport.h"

#include <algorithm>
#include <set>
#include <zlib.h>

namespace {

const DWORD kWriteSize = 64 * 1024;
// "C:\" and shorter: a drive root, which always exists.
const size_t kDriveRootLength = 3;

FileHandle CreateOutputFile(const std::string& path)
{
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE)
        throw BenchError{ "cannot create " + path };
    return file;
}

void WriteAll(HANDLE file, const unsigned char* bytes, DWORD count)
{
    DWORD written = 0;
    if (!WriteFile(file, bytes, count, &written, nullptr) || written != count)
        throw BenchError{ "write failed" };
}

// The folders one run has created or found; each is asked for once.
struct FolderCache {
    std::set<std::string> known;
    uint32_t created = 0;
};

// Creates folder and its missing parents.
void MakeFolder(const std::string& folder, FolderCache& cache)
{
    if (folder.size() <= kDriveRootLength || cache.known.count(folder))
        return;
    MakeFolder(FolderOf(folder), cache);
    if (CreateDirectoryA(folder.c_str(), nullptr))
        cache.created += 1;
    else if (GetLastError() != ERROR_ALREADY_EXISTS)
        throw BenchError{ "cannot create folder " + folder };
    cache.known.insert(folder);
}

// A zlib inflation from memory with one 64 KiB output buffer. sink receives every
// filled buffer and the last partial one.
template <class Sink>
uint32_t Inflate(const ArchiveEntry& entry, std::vector<unsigned char>& buffer, Sink sink)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        throw BenchError{ "zlib cannot start" };
    stream.next_in = const_cast<Bytef*>(entry.data);
    stream.avail_in = entry.compressedSize;
    uint32_t total = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = buffer.data();
        stream.avail_out = kWriteSize;
        status = inflate(&stream, Z_NO_FLUSH);
        DWORD produced = kWriteSize - stream.avail_out;
        if (produced > 0)
            sink(buffer.data(), produced);
        total += produced;
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw BenchError{ std::string("damaged entry ") + entry.name };
    return total;
}

double TimeExtraction(const std::vector<LoadedArchive>& archives, uint32_t folderLength, const std::string& setupFolder,
                      RunReport& report)
{
    std::vector<unsigned char> buffer(kWriteSize);
    FolderCache made;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        std::string outputPath = setupFolder + entry.name;
        MakeFolder(FolderOf(outputPath), made);
        FileHandle file = CreateOutputFile(outputPath);
        report.bytes += Inflate(entry, buffer, [&](const unsigned char* bytes, DWORD count) {
            WriteAll(file.Get(), bytes, count);
        });
        report.files += 1;
    });
    double elapsed = watch.ElapsedMs();
    report.folders = made.created;
    return elapsed;
}

double TimeInflation(const std::vector<LoadedArchive>& archives, uint32_t folderLength)
{
    std::vector<unsigned char> buffer(kWriteSize);
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        Inflate(entry, buffer, [](const unsigned char*, DWORD) {});
    });
    return watch.ElapsedMs();
}

double TimeFolderCreation(const std::vector<LoadedArchive>& archives, uint32_t folderLength,
                          const std::string& setupFolder)
{
    FolderCache made;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        MakeFolder(FolderOf(setupFolder + entry.name), made);
    });
    return watch.ElapsedMs();
}

double TimeFileWrites(const std::vector<LoadedArchive>& archives, uint32_t folderLength, const std::string& setupFolder,
                      const EntryContents& contents)
{
    FolderCache made;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        MakeFolder(FolderOf(setupFolder + entry.name), made);
    });
    size_t index = 0;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        const std::vector<unsigned char>& bytes = contents[index++];
        FileHandle file = CreateOutputFile(setupFolder + entry.name);
        for (size_t offset = 0; offset < bytes.size(); offset += kWriteSize)
            WriteAll(file.Get(), bytes.data() + offset, static_cast<DWORD>(std::min<size_t>(kWriteSize, bytes.size() - offset)));
    });
    return watch.ElapsedMs();
}

EntryContents InflateAll(const std::vector<LoadedArchive>& archives, uint32_t folderLength)
{
    std::vector<unsigned char> buffer(kWriteSize);
    EntryContents contents;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        contents.emplace_back();
        std::vector<unsigned char>& out = contents.back();
        Inflate(entry, buffer, [&](const unsigned char* bytes, DWORD count) { out.insert(out.end(), bytes, bytes + count); });
    });
    return contents;
}

} // namespace

int main(int argc, char** argv)
{
    const Contestant contestant = { InflateAll, TimeExtraction, TimeInflation, TimeFolderCreation, TimeFileWrites };
    return RunBenchProgram(argc, argv, "kmbench-limit", contestant);
}
