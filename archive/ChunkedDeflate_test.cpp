#include "archive/ChunkedDeflate.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Text-like runs, incompressible noise and long repeats in turns, as payload files mix
// them, so that chunk boundaries fall into every kind of block.
Bytes MixedContent(size_t size, uint32_t seed)
{
    static const char kWords[] = "setup launcher archive entry folder cleanup script language splash ";
    Bytes bytes;
    bytes.reserve(size);
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    while (bytes.size() < size) {
        size_t run = 200 + next() % 5000;
        switch (next() % 3) {
        case 0:
            for (size_t i = 0; i < run; ++i)
                bytes.push_back(static_cast<unsigned char>(kWords[(next() % 9) * 7 + i % 7]));
            break;
        case 1:
            for (size_t i = 0; i < run; ++i)
                bytes.push_back(static_cast<unsigned char>(next()));
            break;
        default:
            bytes.insert(bytes.end(), run, static_cast<unsigned char>(next()));
            break;
        }
    }
    bytes.resize(size);
    return bytes;
}

// Hands out its bytes in pieces of a fixed size, or throws at a given offset.
class PieceInput : public ArchiveInput {
public:
    PieceInput(const Bytes& bytes, size_t piece, size_t failAt = SIZE_MAX)
        : m_bytes(bytes), m_piece(piece), m_failAt(failAt)
    {
    }
    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        if (m_offset >= m_failAt)
            throw std::runtime_error("read failed");
        size_t count = std::min({ capacity, m_piece, m_bytes.size() - m_offset });
        std::copy(m_bytes.begin() + m_offset, m_bytes.begin() + m_offset + count, buffer);
        m_offset += count;
        return count;
    }

private:
    const Bytes& m_bytes;
    size_t m_piece;
    size_t m_failAt;
    size_t m_offset = 0;
};

class CollectingSink : public DeflateSink {
public:
    explicit CollectingSink(size_t limit = SIZE_MAX) : m_limit(limit) {}
    bool Put(const unsigned char* bytes, size_t count) override
    {
        if (stream.size() + count > m_limit)
            return false;
        stream.insert(stream.end(), bytes, bytes + count);
        return true;
    }
    Bytes stream;

private:
    size_t m_limit;
};

Bytes Encode(const Bytes& data, const ChunkedDeflateOptions& options, size_t piece = 4096)
{
    PieceInput input(data, piece);
    CollectingSink sink;
    uint64_t size = 0;
    EXPECT_EQ(DeflateResult::Ok, DeflateChunked(input, options, UINT32_MAX, sink, size));
    EXPECT_EQ(data.size(), size);
    return sink.stream;
}

// Inflates with zlib, demanding one complete zlib stream with nothing behind it.
bool InflatesTo(const Bytes& stream, const Bytes& expected)
{
    z_stream z = {};
    if (inflateInit(&z) != Z_OK)
        return false;
    Bytes out(expected.size() + 1);
    z.next_in = const_cast<unsigned char*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int result = inflate(&z, Z_FINISH);
    bool whole = result == Z_STREAM_END && z.avail_in == 0 && z.total_out == expected.size();
    inflateEnd(&z);
    return whole && std::equal(expected.begin(), expected.end(), out.begin());
}

ChunkedDeflateOptions Options(size_t chunkSize, unsigned threads = 1, int level = kMaxDeflateLevel)
{
    ChunkedDeflateOptions options;
    options.level = level;
    options.threads = threads;
    options.chunkSize = chunkSize;
    return options;
}

TEST(ChunkedDeflateTest, OneChunkIsExactlyLibdeflatesZlibStream)
{
    for (size_t size : { size_t(0), size_t(1), size_t(70000) }) {
        Bytes data = MixedContent(size, 7);
        for (int level = kMinChunkedLevel; level <= kMaxDeflateLevel; ++level) {
            libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
            ASSERT_NE(nullptr, compressor);
            Bytes expected(libdeflate_zlib_compress_bound(compressor, data.size()));
            expected.resize(libdeflate_zlib_compress(compressor, data.data(), data.size(), expected.data(),
                                                     expected.size()));
            libdeflate_free_compressor(compressor);
            EXPECT_EQ(expected, Encode(data, Options(kDeflateChunkSize, 1, level))) << size << " " << level;
        }
    }
}

// Sizes around the chunk boundaries: a last chunk that is full, one byte, or absent.
TEST(ChunkedDeflateTest, ChunksJoinIntoOneStreamThatZlibInflates)
{
    const size_t chunk = 20000;
    for (size_t size : { chunk - 1, chunk, chunk + 1, 3 * chunk, 3 * chunk + 17, 7 * chunk + 4321 }) {
        Bytes data = MixedContent(size, static_cast<uint32_t>(size));
        Bytes stream = Encode(data, Options(chunk));
        EXPECT_TRUE(InflatesTo(stream, data)) << size;
        EXPECT_EQ(0x78, stream[0]);
        EXPECT_EQ(0xDA, stream[1]);
    }
}

// The end of a chunk's blocks falls on every bit of a byte over these many chunks;
// each way of padding it must keep the stream whole.
TEST(ChunkedDeflateTest, EveryChunkEndPadsToAByteBoundary)
{
    for (uint32_t seed = 0; seed < 48; ++seed) {
        Bytes data = MixedContent(2500 + seed * 37, seed);
        EXPECT_TRUE(InflatesTo(Encode(data, Options(500 + seed * 11)), data)) << seed;
    }
}

TEST(ChunkedDeflateTest, SameBytesWhateverTheThreadsAndTheInputPieces)
{
    Bytes data = MixedContent(300000, 3);
    Bytes one = Encode(data, Options(32768, 1));
    EXPECT_TRUE(InflatesTo(one, data));
    for (unsigned threads : { 2u, 3u, 8u })
        EXPECT_EQ(one, Encode(data, Options(32768, threads))) << threads;
    EXPECT_EQ(one, Encode(data, Options(32768, 2), 1));
    EXPECT_EQ(one, Encode(data, Options(32768, 4), 100000));
}

// Levels 0 to 9 keep zlib's very bytes; the chunked ones write fewer.
TEST(ChunkedDeflateTest, DeflateEntryTakesTheChunkedLevelsAndKeepsZlibsOwn)
{
    Bytes data = MixedContent(50000, 11);
    auto entry = [&data](int level) {
        PieceInput input(data, 65536);
        CollectingSink sink;
        uint64_t size = 0;
        EXPECT_EQ(DeflateResult::Ok, DeflateEntry(input, level, UINT32_MAX, sink, size));
        EXPECT_TRUE(InflatesTo(sink.stream, data)) << level;
        return sink.stream;
    };
    Bytes zlib9;
    for (int level : { 0, 1, 6, 9 }) {
        uLongf size = compressBound(static_cast<uLong>(data.size()));
        Bytes zlibStream(size);
        ASSERT_EQ(Z_OK, compress2(zlibStream.data(), &size, data.data(), static_cast<uLong>(data.size()), level));
        zlibStream.resize(size);
        EXPECT_EQ(zlibStream, entry(level)) << level;
        zlib9 = zlibStream;
    }
    for (int level : { 10, 12 })
        EXPECT_LT(entry(level).size(), zlib9.size()) << level;
}

TEST(ChunkedDeflateTest, StopsOnTooMuchInputARefusingSinkAndAFailingInput)
{
    Bytes data = MixedContent(100000, 5);
    uint64_t size = 0;
    {
        PieceInput input(data, 4096);
        CollectingSink sink;
        EXPECT_EQ(DeflateResult::TooLarge, DeflateChunked(input, Options(30000), 99999, sink, size));
    }
    {
        PieceInput input(data, 4096);
        CollectingSink sink(1000);
        EXPECT_EQ(DeflateResult::SinkRefused, DeflateChunked(input, Options(30000, 2), UINT32_MAX, sink, size));
    }
    {
        PieceInput input(data, 4096, 50000);
        CollectingSink sink;
        EXPECT_THROW(DeflateChunked(input, Options(30000, 2), UINT32_MAX, sink, size), std::runtime_error);
    }
}

} // namespace
