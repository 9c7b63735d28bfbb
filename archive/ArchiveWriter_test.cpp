#include "archive/ArchiveWriter.h"

#include "archive/ArchiveReader.h"
#include "archive/ArchiveTestSupport.h"

#include <gtest/gtest.h>

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

} // namespace
