#include "archive/ArchiveWriter.h"

#include "archive/ArchiveReader.h"
#include "archive/ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

const unsigned char* Bytes(const std::string& text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

TEST(ArchiveWriterTest, LaysOutStreamsBackToBackAndTheDirectoryLast)
{
    const std::string contents[] = { "first", std::string(100000, 'x'), "", std::string("\0\1\2", 3) };
    const std::string names[] = { "a.txt", "Data\\big.bin", "Data\\empty", "Docs\\Deutsch\\b.bin" };
    ArchiveWriter writer;
    for (uint32_t i = 0; i < 4; ++i)
        ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add(names[i], Bytes(contents[i]), contents[i].size(), { i, i, i }));
    std::vector<unsigned char> archive;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));

    ArchiveReader reader(archive.data(), static_cast<uint32_t>(archive.size()), 0);
    ASSERT_EQ(4u, reader.GetEntryCount());
    uint32_t offset = 4;
    size_t directorySize = 4;
    ArchiveEntry entry;
    for (int i = 0; reader.Next(entry); ++i) {
        EXPECT_EQ(names[i], entry.name);
        EXPECT_EQ(archive.data() + offset, entry.data);
        EXPECT_EQ(0x9C78, entry.data[0] | entry.data[1] << 8);
        std::string inflated(entry.uncompressedSize, '\0');
        uLongf size = entry.uncompressedSize;
        EXPECT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(&inflated[0]), &size, entry.data, entry.compressedSize));
        EXPECT_EQ(contents[i], inflated);
        offset += entry.compressedSize;
        directorySize += 25 + names[i].size();
    }
    EXPECT_EQ(offset, archive[0] | archive[1] << 8 | archive[2] << 16 | uint32_t(archive[3]) << 24);
    EXPECT_EQ(offset + directorySize, archive.size());
}

// A shared entry's record names the earlier entry's stream and keeps its own name and
// times; nothing is added to the data area. A number past the entries is refused.
TEST(ArchiveWriterTest, SharedEntryNamesTheEarlierStream)
{
    const std::string text(5000, 's');
    ArchiveWriter writer;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add("License.txt", Bytes(text), text.size(), { 1, 1, 1 }));
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add("other.txt", Bytes("other"), 5, { 2, 2, 2 }));
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.AddSharedEntry("Docs\\License.txt", 0, { 3, 4, 5 }));
    EXPECT_EQ(ArchiveWriteResult::WriteFailed, writer.AddSharedEntry("late.txt", 3, { 3, 3, 3 }));
    EXPECT_EQ(ArchiveWriteResult::NameNotAllowed, writer.AddSharedEntry("..\\up.txt", 0, { 3, 3, 3 }));
    std::vector<unsigned char> archive;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));

    ArchiveReader reader(archive.data(), static_cast<uint32_t>(archive.size()), 0);
    ASSERT_EQ(3u, reader.GetEntryCount());
    ArchiveEntry first;
    ASSERT_TRUE(reader.Next(first));
    const unsigned char* data = first.data;
    ArchiveEntry entry;
    ASSERT_TRUE(reader.Next(entry));
    const uint32_t dataEnd = static_cast<uint32_t>(entry.data - archive.data()) + entry.compressedSize;
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_STREQ("Docs\\License.txt", entry.name);
    EXPECT_EQ(data, entry.data);
    EXPECT_EQ(text.size(), entry.uncompressedSize);
    EXPECT_EQ(3u, entry.creationTime);
    EXPECT_EQ(5u, entry.lastAccessTime);
    EXPECT_EQ(dataEnd, archive[0] | archive[1] << 8 | archive[2] << 16 | uint32_t(archive[3]) << 24);
}

TEST(ArchiveWriterTest, ChosenLevelShowsInTheStreamHeader)
{
    const std::string text(1000, 'q');
    for (const auto& c : { std::make_pair(0, 0x01), std::make_pair(9, 0xDA) }) {
        ArchiveWriter writer(c.first);
        std::vector<unsigned char> archive;
        ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add("q.txt", Bytes(text), text.size(), {}));
        ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));
        EXPECT_EQ(c.second, archive[5]) << c.first;
    }
}

TEST(ArchiveWriterTest, RefusedEntryLeavesTheArchiveAsItWas)
{
    ArchiveWriter writer;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add("keep.txt", Bytes("k"), 1, {}));
    for (const std::string& name : { std::string("..\\up.txt"), std::string(256, 'n') })
        EXPECT_EQ(ArchiveWriteResult::NameNotAllowed, writer.Add(name, Bytes("x"), 1, {}));
    std::vector<unsigned char> archive;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));
    EXPECT_EQ(1u, ArchiveReader(archive.data(), static_cast<uint32_t>(archive.size()), 0).GetEntryCount());
}

// Hands out its bytes a few at a time, as a file or pipe may.
class TrickleInput : public ArchiveInput {
public:
    explicit TrickleInput(const std::string& text) : m_text(text) {}
    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        size_t count = std::min<size_t>({ capacity, 7, m_text.size() - m_position });
        std::memcpy(buffer, m_text.data() + m_position, count);
        m_position += count;
        return count;
    }

private:
    std::string m_text;
    size_t m_position = 0;
};

class CollectingOutput : public ArchiveOutput {
public:
    bool Append(const unsigned char* bytes, size_t count) override
    {
        if (bytes_.size() + count > limit)
            return false;
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        return true;
    }
    bool Rewrite(uint64_t offset, const unsigned char* bytes, size_t count) override
    {
        std::memcpy(&bytes_[offset], bytes, count);
        return true;
    }
    std::vector<unsigned char> bytes_;
    size_t limit = SIZE_MAX;
};

// A streamed archive is the archive built in memory, byte for byte, however the input
// hands out its bytes; pieces larger than one buffer are covered by the big entry.
TEST(ArchiveWriterTest, StreamedArchiveEqualsTheOneBuiltInMemory)
{
    std::string big;
    for (uint32_t i = 0, state = 7; i < 300000; ++i, state = state * 1103515245u + 12345u)
        big += char('a' + (state >> 28));
    const std::string contents[] = { "first", big, "" };
    ArchiveWriter memory(9);
    CollectingOutput output;
    ArchiveWriter streamed(output, 9);
    for (uint32_t i = 0; i < 3; ++i) {
        const std::string name = "f" + std::to_string(i);
        ASSERT_EQ(ArchiveWriteResult::Ok, memory.Add(name, Bytes(contents[i]), contents[i].size(), { i, i, i }));
        TrickleInput input(contents[i]);
        ASSERT_EQ(ArchiveWriteResult::Ok, streamed.AddStream(name, input, { i, i, i }));
    }
    std::vector<unsigned char> archive;
    ASSERT_EQ(ArchiveWriteResult::Ok, memory.Finish(archive));
    ASSERT_EQ(ArchiveWriteResult::Ok, streamed.Finish());
    EXPECT_EQ(archive, output.bytes_);
    EXPECT_EQ(3u, ArchiveReader(archive.data(), static_cast<uint32_t>(archive.size()), 0).GetEntryCount());
}

TEST(ArchiveWriterTest, RefusedWritesAreReported)
{
    CollectingOutput output;
    output.limit = 100;
    ArchiveWriter writer(output, -1);
    TrickleInput small("small");
    EXPECT_EQ(ArchiveWriteResult::Ok, writer.AddStream("small.txt", small, {}));
    std::string incompressible;
    for (uint32_t i = 0, state = 1; i < 5000; ++i, state = state * 1103515245u + 12345u)
        incompressible += char(state >> 24);
    TrickleInput large(incompressible);
    EXPECT_EQ(ArchiveWriteResult::WriteFailed, writer.AddStream("large.bin", large, {}));
}

} // namespace
