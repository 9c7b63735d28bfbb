// kmbench-extract: times the launcher's own extraction in process, without the
// launcher's start, splash and shell launch around it.
//
// Each run unpacks every entry of the given archives through ExtractEntry exactly as
// the launch sequence does (same output paths, same created-folder list), then repeats
// the work split into its three parts, each into a fresh folder: inflation alone into a
// writer that keeps nothing, folder creation alone, and file creation and writing alone
// of contents inflated beforehand. The parts add up to about the whole; what is left
// over is the per-entry overhead that none of them carries.
//
// Usage: kmbench-extract [--whole-only] RUNS OUTDIR ARCHIVE...
// The whole extraction of the last run stays in OUTDIR\full for checking.
#include "archive/ExtractEntry.h"
#include "bench/BenchSupport.h"
#include "stream/WtFileStream.h"
#include "stream/WtInflate.h"
#include "stream/WtMemoryReader.h"

#include <algorithm>

namespace {

const char kProgramName[] = "kmbench-extract";

// The inflater hands the extractor its output in pieces of this size.
const std::uint32_t kPieceSize = 100;
const std::uint32_t kOutputMode = WtFileStream::OpenCreate | WtFileStream::AccessWrite;

class DiscardingWriter final : public WtWriter {
public:
    std::uint32_t Write(const void*, std::uint32_t count) override { return count; }
};

class AppendingWriter final : public WtWriter {
public:
    explicit AppendingWriter(std::vector<unsigned char>& out) : m_out(out) {}
    std::uint32_t Write(const void* bytes, std::uint32_t count) override
    {
        const unsigned char* first = static_cast<const unsigned char*>(bytes);
        m_out.insert(m_out.end(), first, first + count);
        return count;
    }

private:
    std::vector<unsigned char>& m_out;
};

EntryContents InflateAll(const std::vector<LoadedArchive>& archives, uint32_t folderLength)
{
    EntryContents contents;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        contents.emplace_back();
        contents.back().reserve(entry.uncompressedSize);
        AppendingWriter sink(contents.back());
        WtMemoryReader source(entry.data, entry.compressedSize);
        WtInflateCodec codec;
        codec.Decode(sink, source, 0);
        if (!codec.EndedCleanly() || contents.back().size() != entry.uncompressedSize)
            throw BenchError{ std::string("damaged entry ") + entry.name };
    });
    return contents;
}

double TimeExtraction(const std::vector<LoadedArchive>& archives, uint32_t folderLength, const std::string& setupFolder,
                      RunReport& report)
{
    CreatedDirectoryList createdFolders;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        std::string outputPath = setupFolder + entry.name;
        ExtractionResult result = ExtractEntry(entry.data, entry.compressedSize, outputPath.c_str(), &createdFolders);
        if (!result.complete || result.bytesWritten != entry.uncompressedSize)
            throw BenchError{ "incomplete extraction of " + outputPath };
        report.files += 1;
        report.bytes += result.bytesWritten;
    });
    double elapsed = watch.ElapsedMs();
    report.folders = static_cast<uint32_t>(createdFolders.GetCount());
    return elapsed;
}

double TimeInflation(const std::vector<LoadedArchive>& archives, uint32_t folderLength)
{
    DiscardingWriter sink;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        WtMemoryReader source(entry.data, entry.compressedSize);
        WtInflateCodec codec;
        codec.Decode(sink, source, 0);
    });
    return watch.ElapsedMs();
}

// ExtractEntry asks for the folder of every entry, so this asks as often.
double TimeFolderCreation(const std::vector<LoadedArchive>& archives, uint32_t folderLength,
                          const std::string& setupFolder)
{
    CreatedDirectoryList createdFolders;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        MakeDirectoryPath(FolderOf(setupFolder + entry.name).c_str(), &createdFolders);
    });
    return watch.ElapsedMs();
}

double TimeFileWrites(const std::vector<LoadedArchive>& archives, uint32_t folderLength, const std::string& setupFolder,
                      const EntryContents& contents)
{
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        MakeDirectoryPath(FolderOf(setupFolder + entry.name).c_str(), nullptr);
    });
    size_t index = 0;
    Stopwatch watch;
    ForEachEntry(archives, folderLength, [&](const ArchiveEntry& entry) {
        const std::vector<unsigned char>& bytes = contents[index++];
        WtFileStream file((setupFolder + entry.name).c_str(), kOutputMode);
        for (size_t offset = 0; offset < bytes.size(); offset += kPieceSize) {
            std::uint32_t piece = static_cast<std::uint32_t>(std::min<size_t>(kPieceSize, bytes.size() - offset));
            file.Write(bytes.data() + offset, piece);
        }
    });
    return watch.ElapsedMs();
}

} // namespace

int main(int argc, char** argv)
{
    const Contestant contestant = { InflateAll, TimeExtraction, TimeInflation, TimeFolderCreation, TimeFileWrites };
    try {
        return RunBenchProgram(argc, argv, kProgramName, contestant);
    } catch (WtStreamException* error) {
        std::string text = error->text ? error->text : "";
        int code = error->code;
        delete error;
        return ReportFailure(kProgramName, "file stream failed with code " + std::to_string(code) + " " + text);
    } catch (const WtStreamException& error) {
        return ReportFailure(kProgramName, "inflater failed with code " + std::to_string(error.code));
    }
}
