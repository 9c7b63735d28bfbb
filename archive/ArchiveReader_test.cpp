#include "archive/ArchiveReader.h"

#include "archive/ArchiveTestSupport.h"
#include "archive/ArchiveWriter.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The one-entry archive "a.txt" with every field at the offset the format gives it,
// counted from S, the length of the stream.
std::vector<unsigned char> WorkedLayout(const std::vector<unsigned char>& stream)
{
    const uint32_t s = static_cast<uint32_t>(stream.size());
    std::vector<unsigned char> bytes(38 + s);
    StoreUint32LE(bytes, 0, 4 + s);
    std::memcpy(&bytes[4], stream.data(), s);
    StoreUint32LE(bytes, 4 + s, 1);
    bytes[8 + s] = 5;
    std::memcpy(&bytes[9 + s], "a.txt", 5);
    const uint32_t fields[] = { 4, s, 5, 1000, 2000, 3000 };
    for (uint32_t i = 0; i < 6; ++i)
        StoreUint32LE(bytes, 14 + s + 4 * i, fields[i]);
    return bytes;
}

TEST(ArchiveReaderTest, ReadsTheWorkedLayoutThatTheWriterProduces)
{
    const std::vector<unsigned char> stream = Deflate("hello");
    const std::vector<unsigned char> bytes = WorkedLayout(stream);
    ArchiveReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()), 0);
    ASSERT_EQ(ArchiveFault::None, reader.GetFault());
    ArchiveEntry entry;
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_STREQ("a.txt", entry.name);
    EXPECT_EQ(bytes.data() + 4, entry.data);
    EXPECT_EQ(stream.size(), entry.compressedSize);
    EXPECT_EQ(5u, entry.uncompressedSize);
    EXPECT_EQ(1000u, entry.creationTime);
    EXPECT_EQ(2000u, entry.lastWriteTime);
    EXPECT_EQ(3000u, entry.lastAccessTime);
    EXPECT_FALSE(reader.Next(entry));

    ArchiveWriter writer;
    const unsigned char* hello = reinterpret_cast<const unsigned char*>("hello");
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add("a.txt", hello, 5, { 1000, 2000, 3000 }));
    std::vector<unsigned char> written;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(written));
    EXPECT_EQ(bytes, written);
}

TEST(ArchiveReaderTest, CountOfZeroDeliversNothing)
{
    RawArchive raw(4, 0);
    ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
    EXPECT_EQ(ArchiveFault::None, reader.GetFault());
    ArchiveEntry entry;
    EXPECT_FALSE(reader.Next(entry));
}

TEST(ArchiveReaderTest, LongestNameIsReadWholeAndNextEntryFollows280BytesLater)
{
    const std::string longName(255, 'n');
    RawArchive raw(4, 2);
    raw.AddEntry(longName, 4, 0);
    ASSERT_EQ(8u + 280u, raw.Size());
    raw.AddEntry("next.txt", 4, 0, 77);
    ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
    ArchiveEntry entry;
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_EQ(longName, entry.name);
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_STREQ("next.txt", entry.name);
    EXPECT_EQ(77u, entry.uncompressedSize);
}

TEST(ArchiveReaderTest, EmptyDataRangesAreSoundUpToTheEnd)
{
    RawArchive raw(4, 2);
    raw.AddEntry("empty.txt", 4, 0);
    raw.AddEntry("atend.txt", 8 + 2 * 34, 0);
    ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
    ArchiveEntry entry;
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_EQ(0u, entry.compressedSize);
    EXPECT_EQ(raw.bytes.data() + 4, entry.data);
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_EQ(raw.bytes.data() + raw.Size(), entry.data);
}

TEST(ArchiveReaderTest, ArchiveCutShortAnywhereIsDamaged)
{
    const std::vector<unsigned char> stream = Deflate("payload");
    const uint32_t directory = 4 + static_cast<uint32_t>(stream.size());
    RawArchive raw(directory, 2);
    raw.bytes.insert(raw.bytes.begin() + 4, stream.begin(), stream.end());
    raw.AddEntry("one", 4, static_cast<uint32_t>(stream.size()), 7);
    raw.AddEntry("two", 4, static_cast<uint32_t>(stream.size()), 7);
    for (uint32_t size = 0; size < raw.Size(); ++size) {
        ArchiveReader reader(raw.bytes.data(), size, 0);
        ArchiveFault expected = size < 4 ? ArchiveFault::HeaderOutside
                                : size < directory + 4 ? ArchiveFault::DirectoryOutside
                                                       : ArchiveFault::EntryOutside;
        EXPECT_EQ(expected, reader.GetFault()) << "size " << size;
        ArchiveEntry entry;
        EXPECT_FALSE(reader.Next(entry));
    }
}

TEST(ArchiveReaderTest, DirectoryOrCountOutsideTheArchiveIsDamaged)
{
    for (uint32_t directory : { 0u, 3u, 9u, 0xFFFFFFFFu }) {
        RawArchive raw(directory, 0);
        EXPECT_EQ(ArchiveFault::DirectoryOutside, ArchiveReader(raw.bytes.data(), raw.Size(), 0).GetFault()) << directory;
    }
    RawArchive raw(4, 0xFFFFFFFF);
    raw.AddEntry("only", 4, 0);
    ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
    EXPECT_EQ(ArchiveFault::EntryOutside, reader.GetFault());
    EXPECT_EQ(1u, reader.GetFaultEntry());
}

TEST(ArchiveReaderTest, DataRangePastTheEndIsDamagedAndNothingIsDelivered)
{
    const struct {
        uint32_t dataOffset;
        uint32_t compressedSize;
    } cases[] = {
        { 73, 1 }, { 74, 0 }, { 4, 0xFFFFFFFF },
        { 0xFFFFFFFF, 1 },     // offset + size wraps around to 0
        { 0x10, 0xFFFFFFF8 },  // offset + size wraps around into the archive
    };
    for (const auto& c : cases) {
        RawArchive raw(4, 2);
        raw.AddEntry("good.txt", 4, 0);
        raw.AddEntry("bad.txt", c.dataOffset, c.compressedSize);
        ASSERT_EQ(73u, raw.Size());
        ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
        EXPECT_EQ(ArchiveFault::DataOutside, reader.GetFault()) << c.dataOffset << "+" << c.compressedSize;
        EXPECT_EQ(1u, reader.GetFaultEntry());
        ArchiveEntry entry;
        EXPECT_FALSE(reader.Next(entry));
    }
}

TEST(ArchiveReaderTest, NameRefusedByTheCheckOrTooLongForTheFolderIsDamaged)
{
    const struct {
        std::string name;
        uint32_t folderLength;
        ArchiveFault expected;
    } cases[] = {
        { "", 0, ArchiveFault::NameNotAllowed },
        { "..\\evil.dll", 0, ArchiveFault::NameNotAllowed },
        { std::string("a\0b", 3), 0, ArchiveFault::NameNotAllowed },
        { std::string(200, 'n'), 311, ArchiveFault::None },
        { std::string(200, 'n'), 312, ArchiveFault::NameNotAllowed },
    };
    for (const auto& c : cases) {
        RawArchive raw(4, 1);
        raw.AddEntry(c.name, 4, 0);
        EXPECT_EQ(c.expected, ArchiveReader(raw.bytes.data(), raw.Size(), c.folderLength).GetFault()) << c.name;
    }
}

} // namespace
