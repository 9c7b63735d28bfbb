#include "archive/ArchiveReader.h"

#include "archive/ArchiveWriter.h"
#include "archive/LittleEndian.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Deflate(const std::string& text)
{
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::vector<unsigned char> out(size);
    compress(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()));
    out.resize(size);
    return out;
}

// Builds directories by hand, so that the reader is tested against the layout itself
// and not against the writer.
struct RawArchive {
    std::vector<unsigned char> bytes;

    void Add32(uint32_t value) { AppendUint32LE(bytes, value); }
    void AddEntry(const std::string& name, uint32_t dataOffset, uint32_t compressedSize, uint32_t uncompressedSize = 0)
    {
        bytes.push_back(static_cast<unsigned char>(name.size()));
        bytes.insert(bytes.end(), name.begin(), name.end());
        for (uint32_t field : { dataOffset, compressedSize, uncompressedSize, 11u, 22u, 33u })
            Add32(field);
    }
    uint32_t Size() const { return static_cast<uint32_t>(bytes.size()); }
};

// The one-entry archive "a.txt" with its fields placed at the offsets the format
// documents, counted from S, the length of the stream.
std::vector<unsigned char> WorkedLayout(const std::vector<unsigned char>& stream)
{
    const uint32_t s = static_cast<uint32_t>(stream.size());
    std::vector<unsigned char> bytes(38 + s);
    StoreUint32LE(bytes, 0, 4 + s);
    std::memcpy(&bytes[4], stream.data(), s);
    StoreUint32LE(bytes, 4 + s, 1);
    bytes[8 + s] = 5;
    std::memcpy(&bytes[9 + s], "a.txt", 5);
    StoreUint32LE(bytes, 14 + s, 4);
    StoreUint32LE(bytes, 18 + s, s);
    StoreUint32LE(bytes, 22 + s, 5);
    StoreUint32LE(bytes, 26 + s, 1000);
    StoreUint32LE(bytes, 30 + s, 2000);
    StoreUint32LE(bytes, 34 + s, 3000);
    return bytes;
}

TEST(ArchiveReaderTest, ReadsTheWorkedLayout)
{
    const std::vector<unsigned char> stream = Deflate("hello");
    const std::vector<unsigned char> bytes = WorkedLayout(stream);
    ArchiveReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()), 0);
    ASSERT_EQ(ArchiveFault::None, reader.GetFault());
    EXPECT_EQ(1u, reader.GetEntryCount());

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
}

TEST(ArchiveReaderTest, WriterProducesTheWorkedLayout)
{
    ArchiveWriter writer;
    ASSERT_EQ(ArchiveWriteResult::Ok,
              writer.Add("a.txt", reinterpret_cast<const unsigned char*>("hello"), 5, { 1000, 2000, 3000 }));
    std::vector<unsigned char> archive;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archive));
    EXPECT_EQ(WorkedLayout(Deflate("hello")), archive);
}

TEST(ArchiveReaderTest, CountOfZeroDeliversNothing)
{
    RawArchive raw;
    raw.Add32(4);
    raw.Add32(0);
    ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
    EXPECT_EQ(ArchiveFault::None, reader.GetFault());
    ArchiveEntry entry;
    EXPECT_FALSE(reader.Next(entry));
}

TEST(ArchiveReaderTest, LongestNameIsReadWholeAndNextEntryFollows280BytesLater)
{
    const std::string longName(255, 'n');
    RawArchive raw;
    raw.Add32(4);
    raw.Add32(2);
    raw.AddEntry(longName, 4, 0);
    ASSERT_EQ(8u + 280u, raw.Size());
    raw.AddEntry("next.txt", 4, 0, 77);

    ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
    ASSERT_EQ(ArchiveFault::None, reader.GetFault());
    ArchiveEntry entry;
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_EQ(longName, entry.name);
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_STREQ("next.txt", entry.name);
    EXPECT_EQ(77u, entry.uncompressedSize);
}

TEST(ArchiveReaderTest, EmptyDataRangesAreSound)
{
    RawArchive raw;
    raw.Add32(4);
    raw.Add32(2);
    raw.AddEntry("empty.txt", 4, 0);
    raw.AddEntry("atend.txt", 8 + 2 * 34, 0);
    ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
    ASSERT_EQ(ArchiveFault::None, reader.GetFault());
    ArchiveEntry entry;
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_EQ(0u, entry.compressedSize);
    EXPECT_EQ(raw.bytes.data() + 4, entry.data);
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_EQ(raw.bytes.data() + raw.Size(), entry.data);
}

TEST(ArchiveReaderTest, LocatesDataByOffsetWhateverTheOrderAndIgnoresTrailingBytes)
{
    RawArchive raw;
    raw.Add32(10);
    raw.bytes.insert(raw.bytes.end(), { 'A', 'A', 'A', 'B', 'B', 'B' });
    raw.Add32(2);
    raw.AddEntry("second", 7, 3);
    raw.AddEntry("first", 4, 3);
    raw.Add32(0xDEADBEEF);
    ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
    ASSERT_EQ(ArchiveFault::None, reader.GetFault());
    ArchiveEntry entry;
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_STREQ("second", entry.name);
    EXPECT_EQ('B', entry.data[0]);
    ASSERT_TRUE(reader.Next(entry));
    EXPECT_STREQ("first", entry.name);
    EXPECT_EQ('A', entry.data[0]);
}

TEST(ArchiveReaderTest, ArchiveCutShortAnywhereIsDamaged)
{
    const std::vector<unsigned char> stream = Deflate("payload");
    RawArchive raw;
    raw.Add32(4 + static_cast<uint32_t>(stream.size()));
    raw.bytes.insert(raw.bytes.end(), stream.begin(), stream.end());
    raw.Add32(2);
    raw.AddEntry("one", 4, static_cast<uint32_t>(stream.size()), 7);
    raw.AddEntry("two", 4, static_cast<uint32_t>(stream.size()), 7);
    const uint32_t directory = 4 + static_cast<uint32_t>(stream.size());

    for (uint32_t size = 0; size < raw.Size(); ++size) {
        ArchiveReader reader(raw.bytes.data(), size, 0);
        ArchiveFault expected = size < 4                 ? ArchiveFault::HeaderOutside
                                : size < directory + 4 ? ArchiveFault::DirectoryOutside
                                                       : ArchiveFault::EntryOutside;
        EXPECT_EQ(expected, reader.GetFault()) << "size " << size;
        EXPECT_EQ(0u, reader.GetEntryCount());
        ArchiveEntry entry;
        EXPECT_FALSE(reader.Next(entry));
    }
}

TEST(ArchiveReaderTest, DirectoryOutsideTheArchiveIsDamaged)
{
    for (uint32_t directory : { 0u, 3u, 9u, 0xFFFFFFFEu, 0xFFFFFFFFu }) {
        RawArchive raw;
        raw.Add32(directory);
        raw.Add32(0);
        ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
        EXPECT_EQ(ArchiveFault::DirectoryOutside, reader.GetFault()) << directory;
    }
}

TEST(ArchiveReaderTest, CountBeyondTheEntriesIsDamaged)
{
    RawArchive raw;
    raw.Add32(4);
    raw.Add32(0xFFFFFFFF);
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
        { 73, 1 },                   // one byte past the end (the archive is 73 bytes)
        { 74, 0 },                   // empty, but starting past the end
        { 4, 0xFFFFFFFF },
        { 0xFFFFFFFF, 1 },           // offset + size wraps around to 0
        { 0x10, 0xFFFFFFF8 },        // offset + size wraps around inside the archive
    };
    for (const auto& c : cases) {
        RawArchive raw;
        raw.Add32(4);
        raw.Add32(2);
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

TEST(ArchiveReaderTest, RejectedNameMakesTheArchiveDamaged)
{
    for (const std::string& name : { std::string(), std::string("..\\evil.dll"), std::string("C:\\evil.dll"),
                                     std::string("a\0b", 3), std::string("Data/a.txt") }) {
        RawArchive raw;
        raw.Add32(4);
        raw.Add32(1);
        raw.AddEntry(name, 4, 0);
        ArchiveReader reader(raw.bytes.data(), raw.Size(), 0);
        EXPECT_EQ(ArchiveFault::NameNotAllowed, reader.GetFault()) << name;
    }
}

TEST(ArchiveReaderTest, NameMustFitBelowTheGivenFolder)
{
    RawArchive raw;
    raw.Add32(4);
    raw.Add32(1);
    raw.AddEntry(std::string(200, 'n'), 4, 0);
    EXPECT_EQ(ArchiveFault::None, ArchiveReader(raw.bytes.data(), raw.Size(), 311).GetFault());
    EXPECT_EQ(ArchiveFault::NameNotAllowed, ArchiveReader(raw.bytes.data(), raw.Size(), 312).GetFault());
}

} // namespace
