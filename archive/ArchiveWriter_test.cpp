#include "archive/ArchiveWriter.h"

#include "archive/ArchiveReader.h"
#include "archive/LittleEndian.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

const unsigned char* Bytes(const std::string& text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

std::string Inflate(const ArchiveEntry& entry)
{
    std::string out(entry.uncompressedSize, '\0');
    uLongf size = entry.uncompressedSize;
    EXPECT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(&out[0]), &size, entry.data, entry.compressedSize));
    out.resize(size);
    return out;
}

TEST(ArchiveWriterTest, LaysOutStreamsBackToBackAndTheDirectoryLast)
{
    const std::string contents[] = { "first file", std::string(100000, 'x'), "", std::string("\0\1\2\3", 4) };
    const std::string names[] = { "a.txt", "Data\\big.bin", "Data\\empty", "Docs\\Deutsch\\b.bin" };
    ArchiveWriter writer;
    for (int i = 0; i < 4; ++i) {
        uint32_t t = 100 * i;
        ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add(names[i], Bytes(contents[i]), contents[i].size(), { t, t + 1, t + 2 }));
    }
    std::vector<unsigned char> archive;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));

    ArchiveReader reader(archive.data(), static_cast<uint32_t>(archive.size()), 0);
    ASSERT_EQ(ArchiveFault::None, reader.GetFault());
    ASSERT_EQ(4u, reader.GetEntryCount());
    uint32_t expectedOffset = 4;
    ArchiveEntry entry;
    for (int i = 0; reader.Next(entry); ++i) {
        EXPECT_EQ(names[i], entry.name);
        EXPECT_EQ(archive.data() + expectedOffset, entry.data);
        ASSERT_GE(entry.compressedSize, 2u);
        EXPECT_EQ(0x78, entry.data[0]);
        EXPECT_EQ(0x9C, entry.data[1]);
        EXPECT_EQ(contents[i].size(), entry.uncompressedSize);
        EXPECT_EQ(contents[i], Inflate(entry));
        EXPECT_EQ(100u * i + 2, entry.lastAccessTime);
        expectedOffset += entry.compressedSize;
    }
    uint32_t directory = 0;
    ASSERT_TRUE(ReadUint32LE(archive.data(), static_cast<uint32_t>(archive.size()), 0, directory));
    EXPECT_EQ(expectedOffset, directory);
    size_t directorySize = 4;
    for (const std::string& name : names)
        directorySize += 25 + name.size();
    EXPECT_EQ(directory + directorySize, archive.size());
}

TEST(ArchiveWriterTest, ChosenLevelShowsInTheStreamHeader)
{
    const struct {
        int level;
        unsigned char secondHeaderByte;
    } cases[] = { { 0, 0x01 }, { 1, 0x01 }, { 6, 0x9C }, { 9, 0xDA } };
    const std::string text(1000, 'q');
    for (const auto& c : cases) {
        ArchiveWriter writer(c.level);
        ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add("q.txt", Bytes(text), text.size(), {}));
        std::vector<unsigned char> archive;
        ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));
        EXPECT_EQ(0x78, archive[4]) << c.level;
        EXPECT_EQ(c.secondHeaderByte, archive[5]) << c.level;
    }
    ArchiveWriter invalid(10);
    EXPECT_EQ(ArchiveWriteResult::CompressionFailed, invalid.Add("q.txt", Bytes(text), text.size(), {}));
}

TEST(ArchiveWriterTest, RefusedEntryLeavesTheArchiveAsItWas)
{
    ArchiveWriter writer;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add("keep.txt", Bytes("k"), 1, {}));
    for (const std::string& name : { std::string("..\\up.txt"), std::string(256, 'n'), std::string("a/b") })
        EXPECT_EQ(ArchiveWriteResult::NameNotAllowed, writer.Add(name, Bytes("x"), 1, {})) << name;
    std::vector<unsigned char> archive;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));
    ArchiveReader reader(archive.data(), static_cast<uint32_t>(archive.size()), 0);
    EXPECT_EQ(1u, reader.GetEntryCount());

    // Finish hands the archive over and leaves an empty writer behind.
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));
    EXPECT_EQ((std::vector<unsigned char>{ 4, 0, 0, 0, 0, 0, 0, 0 }), archive);
}

} // namespace
