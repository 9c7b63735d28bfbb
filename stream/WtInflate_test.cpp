#include "stream/WtInflate.h"
#include "stream/WtMemoryReader.h"

#include "StreamTestData.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

// A sink that records every Write separately; it can be told to fail.
class RecordingSink : public WtWriter
{
public:
    std::uint32_t Write(const void* bytes, std::uint32_t count) override
    {
        if (failAfter >= 0 && static_cast<int>(writes.size()) == failAfter)
            throw std::string("sink failed");
        const unsigned char* p = static_cast<const unsigned char*>(bytes);
        writes.push_back(count);
        data.insert(data.end(), p, p + count);
        return count;
    }
    std::vector<std::uint32_t> writes;
    Bytes data;
    int failAfter = -1;
};

// Records the size of every request the inflater makes of its source.
class CountingSource : public WtReader
{
public:
    explicit CountingSource(const Bytes& bytes) : inner(bytes.data(), bytes.size()) {}
    std::uint32_t Read(void* buffer, std::uint32_t count) override
    {
        requests.push_back(count);
        return inner.Read(buffer, count);
    }
    WtMemoryReader inner;
    std::vector<std::uint32_t> requests;
};

Bytes Pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + i / 13);
    return bytes;
}

Bytes Compress(const Bytes& plain)
{
    uLongf size = compressBound(plain.size());
    Bytes packed(size);
    EXPECT_EQ(Z_OK, compress2(packed.data(), &size, plain.data(), plain.size(), 6));
    packed.resize(size);
    return packed;
}

Bytes FileBytes(const char* name)
{
    const StreamTestFile* file = FindStreamTestFile(name);
    EXPECT_NE(nullptr, file) << name;
    return file ? Bytes(file->bytes, file->bytes + file->size) : Bytes();
}

template <class Action>
void ExpectZlibError(std::int32_t code, Action action)
{
    try {
        action();
        ADD_FAILURE() << "no exception, expected " << code;
    } catch (const WtStreamException& e) {
        EXPECT_EQ(code, e.code);
        EXPECT_STREQ("Zlib-Fehler", e.text);
    }
}

} // namespace

TEST(WtMemoryReader, DeliversWhatItHoldsThenNothing)
{
    const char block[] = "abcde";
    WtMemoryReader reader(block, 5);
    char out[8] = {};
    EXPECT_EQ(3u, reader.Read(out, 3));
    EXPECT_EQ(2u, reader.Read(out + 3, 8));
    EXPECT_STREQ("abcde", out);
    EXPECT_EQ(0u, reader.Read(out, 8));

    WtMemoryReader empty(nullptr, 0);
    EXPECT_EQ(0u, empty.Read(out, 8));
}

TEST(WtInflateCodec, WritesPiecesOfAtMostOneHundredUpToTheLimit)
{
    struct Case { std::size_t plain; std::uint32_t limit; std::vector<std::uint32_t> writes; bool clean; };
    const Case cases[] = {
        {250, 0, {100, 100, 50}, true},
        {100, 0, {100}, true},
        {0, 0, {}, true},
        {250, 150, {100, 50}, false},
        {250, 1, {1}, false},
        {250, 99, {99}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.plain << " bytes, limit " << c.limit);
        const Bytes plain = Pattern(c.plain);
        const Bytes packed = Compress(plain);
        WtMemoryReader source(packed.data(), packed.size());
        RecordingSink sink;
        WtInflateCodec codec;
        const std::uint32_t total = codec.Decode(sink, source, c.limit);
        EXPECT_EQ(c.writes, sink.writes);
        EXPECT_EQ(sink.data.size(), total);
        EXPECT_EQ(Bytes(plain.begin(), plain.begin() + total), sink.data);
        EXPECT_EQ(c.clean, codec.EndedCleanly());
    }
}

TEST(WtInflateCodec, AsksTheSourceFor113BytesAtATime)
{
    const Bytes packed = Compress(Pattern(4000));
    CountingSource source(packed);
    RecordingSink sink;
    WtInflateCodec codec;
    EXPECT_EQ(4000u, codec.Decode(sink, source, 0));
    ASSERT_FALSE(source.requests.empty());
    for (std::uint32_t request : source.requests)
        EXPECT_EQ(113u, request);
}

TEST(WtInflateCodec, DecodesStreamsOneAfterAnother)
{
    const Bytes first = Pattern(300);
    const Bytes second(777, 'z');
    WtInflateCodec codec;
    for (const Bytes* plain : {&first, &second}) {
        const Bytes packed = Compress(*plain);
        WtMemoryReader source(packed.data(), packed.size());
        RecordingSink sink;
        EXPECT_EQ(plain->size(), codec.Decode(sink, source, 0));
        EXPECT_EQ(*plain, sink.data);
        EXPECT_TRUE(codec.EndedCleanly());
    }
}

TEST(WtInflateCodec, DamagedInputEndsQuietlyAndUnclean)
{
    const Bytes plain = Pattern(1000);
    const Bytes packed = Compress(plain);
    Bytes badTrailer = packed;
    badTrailer.back() ^= 0xFF;
    const Bytes truncated(packed.begin(), packed.begin() + packed.size() / 2);
    Bytes badHeader = packed;
    badHeader[0] = 0x00;

    struct Case { const char* name; const Bytes* input; bool allBytes; };
    const Case cases[] = {
        {"checksum", &badTrailer, true},
        {"truncated", &truncated, false},
        {"header", &badHeader, false},
        {"empty source", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes input = c.input ? *c.input : Bytes();
        WtMemoryReader source(input.data(), input.size());
        RecordingSink sink;
        WtInflateCodec codec;
        const std::uint32_t total = codec.Decode(sink, source, 0);
        EXPECT_EQ(sink.data.size(), total);
        EXPECT_EQ(Bytes(plain.begin(), plain.begin() + total), sink.data);
        EXPECT_EQ(c.allBytes, total == plain.size());
        EXPECT_FALSE(codec.EndedCleanly());
    }
}

TEST(WtInflateCodec, InflatesThirdPartyStreams)
{
    const Bytes plain = FileBytes("sample.bin");
    ASSERT_EQ(7810u, plain.size());
    for (const char* name : {"sample-1.zlib", "sample-6.zlib", "sample-9.zlib"}) {
        SCOPED_TRACE(name);
        const Bytes packed = FileBytes(name);
        WtMemoryReader source(packed.data(), packed.size());
        RecordingSink sink;
        WtInflateCodec codec;
        EXPECT_EQ(plain.size(), codec.Decode(sink, source, 0));
        EXPECT_EQ(plain, sink.data);
        EXPECT_TRUE(codec.EndedCleanly());
    }
}

TEST(WtInflater, CallsOutOfTurnThrowTheObjectWithItsText)
{
    WtInflateCodec codec;
    WtMemoryReader source(nullptr, 0);
    char buffer[4];
    ExpectZlibError(-11, [&] { codec.Read(buffer, sizeof buffer, source); });
    ExpectZlibError(-11, [&] { codec.End(); });
    codec.Begin();
    ExpectZlibError(-11, [&] { codec.Begin(); });
    codec.End();
    codec.Begin();
    codec.End();
}

TEST(WtInflateCodec, FailingSinkLeavesTheCodecRunning)
{
    const Bytes packed = Compress(Pattern(500));
    WtMemoryReader source(packed.data(), packed.size());
    RecordingSink sink;
    sink.failAfter = 2;
    WtInflateCodec codec;
    EXPECT_THROW(codec.Decode(sink, source, 0), std::string);
    EXPECT_EQ(2u, sink.writes.size());
    ExpectZlibError(-11, [&] { codec.Decode(sink, source, 0); });
    // Destroyed while running: the leak checker of the sanitised tree would report
    // zlib's state if it were not released.
}

TEST(WtInflateCodec, EncodeTouchesNothing)
{
    const Bytes packed = Compress(Pattern(10));
    CountingSource source(packed);
    RecordingSink sink;
    WtInflateCodec codec;
    EXPECT_EQ(0u, codec.Encode(sink, source, 0));
    EXPECT_TRUE(source.requests.empty());
    EXPECT_TRUE(sink.writes.empty());
}

TEST(WtInflateReader, DeliversOnDemandAndSurvivesEmptyRequests)
{
    const Bytes plain = FileBytes("sample.bin");
    const Bytes packed = FileBytes("sample-9.zlib");
    CountingSource source(packed);
    WtInflateReader reader(source);
    Bytes out;
    unsigned char buffer[37];
    // A zero-length request must not end the stream.
    EXPECT_EQ(0u, reader.Read(buffer, 0));
    for (std::uint32_t n; (n = reader.Read(buffer, sizeof buffer)) > 0;) {
        out.insert(out.end(), buffer, buffer + n);
        EXPECT_EQ(0u, reader.Read(buffer, 0));
    }
    EXPECT_EQ(plain, out);
    EXPECT_TRUE(reader.EndedCleanly());
    for (std::uint32_t request : source.requests)
        EXPECT_EQ(100u, request);
    // Ended by hand: the destructor must not throw -11 (that would end the process).
    reader.End();
}
