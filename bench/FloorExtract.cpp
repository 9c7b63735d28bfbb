// kmbench-floor: the least work that unpacking the archives can cost under the launcher's
// own rules for its input and output.
//
// The launcher must read the compressed bytes in requests of 113 bytes, let zlib produce
// at most 100 bytes per call and hand each piece to the system in a write call of its
// own, probe for every entry's folder and create each missing folder once. This program
// does exactly that and nothing more, with zlib and the system calls directly: no
// stream objects, no string class, no walk through the current directory. What the
// launcher's extraction costs beyond this program is its own overhead.
//
// Per entry: one existence probe of the folder; CreateDirectoryA once per folder that
// this run has not made yet; CreateFileA; inflate with a 113-byte input buffer refilled
// from memory when zlib has used it up and a 100-byte output buffer; WriteFile per
// piece; CloseHandle. Like kmbench-extract it then repeats the work split into parts.
//
// Usage: kmbench-floor [--whole-only] RUNS OUTDIR ARCHIVE...
// The whole extraction of the last run stays in OUTDIR\full for checking.
#include "bench/BenchSupport.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <zlib.h>

namespace {

const uInt kRequestSize = 113; // compressed bytes per request to the source
const uInt kPieceSize = 100;   // inflated bytes per zlib call and per write
// "C:\" and shorter: a drive root, which always exists.
const size_t kDriveRootLength = 3;

HANDLE CreateOutputFile(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw BenchError{ std::string("cannot create ") + path };
    return file;
}

void WritePiece(HANDLE file, const unsigned char* bytes, DWORD count)
{
    DWORD written = 0;
    if (!WriteFile(file, bytes, count, &written, nullptr) || written != count)
        throw BenchError{ "write failed" };
}

// Creates folder and those of its parents that this run has not made or met yet:
// one CreateDirectoryA per new folder. A parent that existed before the run (the
// output folder's own parents) costs one failed call in the whole run.
void MakeFolders(const std::string& folder, std::set<std::string>& made)
{
    if (folder.size() <= kDriveRootLength || made.count(folder))
        return;
    MakeFolders(FolderOf(folder), made);
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw BenchError{ "cannot create folder " + folder };
    made.insert(folder);
}

// The entry's folder: probed once, made when missing.
void EnsureFolder(const std::string& outputPath, std::set<std::string>& made)
{
    const std::string folder = FolderOf(outputPath);
    if (folder.empty() || GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    MakeFolders(folder, made);
}

// Inflates the entry as the launcher must: the source is asked for 113 bytes whenever
// zlib has used up the previous ones, and every call of zlib has room for at most 100
// bytes. sink(bytes, count) receives each piece; returns the inflated size.
template <class Sink>
uint32_t InflatePieces(const ArchiveEntry& entry, Sink sink)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        throw BenchError{ "zlib cannot start" };
    unsigned char input[kRequestSize];
    unsigned char piece[kPieceSize];
    const unsigned char* source = entry.data;
    uint32_t left = entry.compressedSize;
    uint32_t total = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = piece;
        stream.avail_out = kPieceSize;
        do {
            if (stream.avail_in == 0) {
                const uInt request = std::min<uint32_t>(kRequestSize, left);
                if (request > 0)
                    std::memcpy(input, source, request);
                source += request;
                left -= request;
                stream.next_in = input;
                stream.avail_in = request;
            }
            status = inflate(&stream, Z_NO_FLUSH);
        } while (stream.avail_out > 0 && status == Z_OK);
        const uint32_t produced = kPieceSize - stream.avail_out;
        if (produced > 0)
            sink(piece, produced);
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
    std::set<std::string> made;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        const std::string outputPath = setupFolder + entry.name;
        EnsureFolder(outputPath, made);
        FileHandle file(CreateOutputFile(outputPath.c_str()));
        report.bytes += InflatePieces(entry, [&](const unsigned char* bytes, DWORD count) {
            WritePiece(file.Get(), bytes, count);
        });
        report.files += 1;
    });
    const double elapsed = watch.ElapsedMs();
    // The folders this run created: the setup folder and those inside it.
    const std::string root = setupFolder.substr(0, setupFolder.size() - 1);
    report.folders = static_cast<uint32_t>(std::count_if(made.begin(), made.end(), [&](const std::string& folder) {
        return folder == root || folder.compare(0, setupFolder.size(), setupFolder) == 0;
    }));
    return elapsed;
}

double TimeInflation(const std::vector<LoadedArchive>& archives, uint32_t folderLength)
{
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        InflatePieces(entry, [](const unsigned char*, DWORD) {});
    });
    return watch.ElapsedMs();
}

double TimeFolderCreation(const std::vector<LoadedArchive>& archives, uint32_t folderLength,
                          const std::string& setupFolder)
{
    std::set<std::string> made;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        EnsureFolder(setupFolder + entry.name, made);
    });
    return watch.ElapsedMs();
}

double TimeFileWrites(const std::vector<LoadedArchive>& archives, uint32_t folderLength, const std::string& setupFolder,
                      const EntryContents& contents)
{
    std::set<std::string> made;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        EnsureFolder(setupFolder + entry.name, made);
    });
    size_t index = 0;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        const std::vector<unsigned char>& bytes = contents[index++];
        FileHandle file(CreateOutputFile((setupFolder + entry.name).c_str()));
        for (size_t offset = 0; offset < bytes.size(); offset += kPieceSize)
            WritePiece(file.Get(), bytes.data() + offset,
                       static_cast<DWORD>(std::min<size_t>(kPieceSize, bytes.size() - offset)));
    });
    return watch.ElapsedMs();
}

EntryContents InflateAll(const std::vector<LoadedArchive>& archives, uint32_t folderLength)
{
    EntryContents contents;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        contents.emplace_back();
        std::vector<unsigned char>& out = contents.back();
        out.reserve(entry.uncompressedSize);
        InflatePieces(entry, [&](const unsigned char* bytes, DWORD count) { out.insert(out.end(), bytes, bytes + count); });
    });
    return contents;
}

} // namespace

int main(int argc, char** argv)
{
    const Contestant contestant = { InflateAll, TimeExtraction, TimeInflation, TimeFolderCreation, TimeFileWrites };
    return RunBenchProgram(argc, argv, "kmbench-floor", contestant);
}
