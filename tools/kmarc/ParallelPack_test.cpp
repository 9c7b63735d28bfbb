// Packing on several threads: the same archive bytes as one thread writing each entry
// in turn, whatever the number of threads and however little may wait in memory, and
// the failure a single thread would meet first.
#include "tools/kmarc/ParallelPack.h"

#include "archive/ArchiveReader.h"
#include "archive/ChunkedDeflate.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/IdenticalFiles.h"
#include "tools/kmarc/KmarcTestSupport.h"
#include "tools/kmarc/ToolError.h"

#include <gtest/gtest.h>
#include <zlib.h>


namespace fs = std::filesystem;

namespace {

std::string Noise(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

class Recorder : public PackObserver {
public:
    void BytesRead(uint64_t count) override { bytes += count; }
    void EntryWritten(const PackItem& item) override { names.push_back(item.name); }
    uint64_t bytes = 0;
    std::vector<std::string> names;
};

class ParallelPackTest : public KmarcWorkTest {
protected:
    PackItem Add(const std::string& name, const std::string& contents)
    {
        fs::path path = work / ("file" + std::to_string(items.size()));
        WriteFile(path, contents);
        PackItem item{ name, path, { 1, 2, 3 } };
        items.push_back(item);
        return item;
    }

    // The archive as one thread writes it, entry after entry.
    std::vector<unsigned char> Sequential(int level)
    {
        ArchiveWriter writer(level);
        for (const PackItem& item : items) {
            FileInput input(item.path);
            EXPECT_EQ(ArchiveWriteResult::Ok, writer.AddStream(item.name, input, item.times));
        }
        std::vector<unsigned char> archive;
        EXPECT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));
        return archive;
    }

    std::vector<unsigned char> Parallel(int level, unsigned threads, size_t budget, Recorder& recorder)
    {
        ArchiveWriter writer(level);
        PackInParallel(writer, items, level, threads,
                       [](const PackItem& item, ArchiveWriteResult result) {
                           throw ToolError{ kExitNotPackable, item.name + ": " + DescribeArchiveWriteResult(result) };
                       },
                       recorder, budget);
        std::vector<unsigned char> archive;
        EXPECT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));
        return archive;
    }

    std::string FailureOf(unsigned threads)
    {
        Recorder recorder;
        try {
            Parallel(-1, threads, 4096, recorder);
        } catch (const ToolError& error) {
            return error.message;
        }
        return "no failure";
    }

    std::vector<PackItem> items;
};

TEST_F(ParallelPackTest, TheArchiveIsTheSameWhateverTheThreadsAndTheBudget)
{
    // A large first entry keeps its thread busy while the others finish theirs and wait
    // for their turn, in memory while the budget lasts and then blocked.
    Add("a\\first.bin", Noise(3 << 20, 1));
    for (int i = 0; i < 40; ++i)
        Add("b\\file" + std::to_string(100 + i) + ".dat",
            i % 3 == 0 ? Noise(20000 + 1000 * i, i) : std::string(30000 + i, char('a' + i % 26)));
    Add("c\\empty.txt", "");
    Add("d\\last.bin", Noise(1 << 20, 7));
    uint64_t total = 0;
    std::vector<std::string> names;
    for (const PackItem& item : items) {
        total += fs::file_size(item.path);
        names.push_back(item.name);
    }

    for (int level : { -1, 1 }) {
        std::vector<unsigned char> expected = Sequential(level);
        for (unsigned threads : { 1u, 2u, 3u, 8u }) {
            for (size_t budget : { size_t(0), size_t(65536), kDefaultWaitingBudget }) {
                Recorder recorder;
                EXPECT_EQ(expected, Parallel(level, threads, budget, recorder))
                    << "level " << level << ", " << threads << " threads, budget " << budget;
                EXPECT_EQ(names, recorder.names);
                EXPECT_EQ(total, recorder.bytes);
            }
        }
    }
}

TEST_F(ParallelPackTest, TheFirstFailureInTheOrderOfTheFilesIsReported)
{
    for (int i = 0; i < 12; ++i)
        Add("file" + std::to_string(10 + i), Noise(50000, i));
    // A folder where a file was planned cannot be read; a name the writer refuses.
    items[7].path = work;
    items[9].name = "..\\escape";
    items[4].name = "bad\\..\\name";
    for (unsigned threads : { 1u, 2u, 5u })
        EXPECT_EQ("bad\\..\\name: name is not allowed in an archive", FailureOf(threads)) << threads << " threads";

    items[4].name = "file14";
    for (unsigned threads : { 1u, 2u, 5u }) {
        std::string failure = FailureOf(threads);
        EXPECT_NE(std::string::npos, failure.find("cannot")) << failure;
        EXPECT_NE(std::string::npos, failure.find(work.filename().string())) << failure;
    }
}

// Only equal bytes count: files of one size with other contents, an empty file beside
// other empty ones, and a file that cannot be read are told apart.
TEST_F(ParallelPackTest, IdenticalFilesAreFoundByTheirBytes)
{
    Add("a", "contents one");
    Add("b", "contents two");   // same size, other bytes
    Add("c", "contents one");
    Add("d", "");
    Add("e", "contents two");
    Add("f", "");
    Add("g", "contents one");
    Add("h", "contents one");
    items[7].path = work / "missing";
    std::vector<size_t> expected = { kNoEarlierCopy, kNoEarlierCopy, 0, kNoEarlierCopy, 1, 3, 0, kNoEarlierCopy };
    EXPECT_EQ(expected, FindIdenticalFiles(items));
}

// Identical files are compressed once and every entry of them names that stream; each
// entry inflates to its file, and the bytes do not depend on the threads.
TEST_F(ParallelPackTest, IdenticalFilesShareOneStream)
{
    const std::string license = Noise(40000, 9);
    Add("License.txt", license);
    Add("Data\\a.bin", Noise(30000, 1));
    Add("Docs\\Eng\\License.txt", license);
    Add("Docs\\Ger\\Lizenz.txt", license);
    Add("Data\\b.bin", Noise(30000, 2));
    Add("Data\\c.bin", Noise(30000, 1));
    for (int level : { 6, 10 }) {
        Recorder recorder;
        std::vector<unsigned char> archive = Parallel(level, 1, kDefaultWaitingBudget, recorder);
        EXPECT_EQ(6u, recorder.names.size());
        EXPECT_EQ(3 * 40000u + 3 * 30000u, recorder.bytes);
        ArchiveReader reader(archive.data(), static_cast<uint32_t>(archive.size()), 0);
        ASSERT_EQ(6u, reader.GetEntryCount());
        std::vector<const unsigned char*> streams;
        ArchiveEntry entry;
        for (size_t i = 0; reader.Next(entry); ++i) {
            streams.push_back(entry.data);
            std::string inflated(entry.uncompressedSize, '\0');
            uLongf size = entry.uncompressedSize;
            EXPECT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(&inflated[0]), &size, entry.data, entry.compressedSize));
            EXPECT_EQ(ReadFile(items[i].path), inflated) << entry.name;
        }
        EXPECT_EQ(streams[0], streams[2]);
        EXPECT_EQ(streams[0], streams[3]);
        EXPECT_EQ(streams[1], streams[5]);
        EXPECT_NE(streams[1], streams[4]);
        for (unsigned threads : { 2u, 5u }) {
            Recorder other;
            EXPECT_EQ(archive, Parallel(level, threads, 0, other)) << level << ", " << threads << " threads";
        }
    }
}

// At the chunked levels the threads with no file left help with the chunks of a large
// file; the bytes stay those of one thread, and those of the encoder alone.
TEST_F(ParallelPackTest, ThreadsWithNoFileLeftCompressChunksOfTheLargeOnes)
{
    std::string text;
    for (uint32_t line = 0; text.size() < 2 * kDeflateChunkSize + 12345; ++line)
        text += "entry " + std::to_string(line * 2654435761u % 100003) + " = " + Noise(24, line) + "\n";
    Add("small.txt", "small");
    Add("Data\\large.txt", text);
    Add("Data\\tail.txt", Noise(1000, 3));
    std::vector<unsigned char> expected = Sequential(10);
    for (unsigned threads : { 1u, 3u, 4u }) {
        Recorder recorder;
        EXPECT_EQ(expected, Parallel(10, threads, 0, recorder)) << threads << " threads";
    }
    items.erase(items.begin());
    items.pop_back();
    Recorder recorder;
    EXPECT_EQ(Sequential(10), Parallel(10, 3, kDefaultWaitingBudget, recorder));
}

} // namespace
