#include "stream/WtInflate.h"
#include "stream/WtMemoryReader.h"

#include "StreamTestData.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

// Records every Write separately; throws an int on write number failAt.
struct RecordingSink : WtWriter
{
    std::uint32_t Write(const void* bytes, std::uint32_t count) override
    {
        if (static_cast<int>(writes.size()) == failAt)
            throw failAt;
        writes.push_back(count);
        data.insert(data.end(), (const unsigned char*)bytes, (const unsigned char*)bytes + count);
        return count;
    }
    std::vector<std::uint32_t> writes;
    Bytes data;
    int failAt = -1;
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
    return file ? Bytes(file->bytes, file->bytes + file->size) : Bytes();
}

// Hands out a block as a WtMemoryReader does and records the size of every request.
struct RecordingSource : WtReader
{
    explicit RecordingSource(const Bytes& bytes) : block(bytes.data(), bytes.size()) {}
    std::uint32_t Read(void* buffer, std::uint32_t count) override
    {
        requests.push_back(count);
        return block.Read(buffer, count);
    }
    WtMemoryReader block;
    std::vector<std::uint32_t> requests;
};

// Exposes the state, and reaches zlib's allocation hooks to make its set-up and its
// tear-down fail on demand.
struct ProbeCodec : WtInflateCodec
{
    State Current() const { return state; }
    void RefuseAllocations()
    {
        stream.zalloc = [](voidpf, uInt, uInt) -> voidpf { return nullptr; };
    }
    void UseDefaultAllocations() { stream.zalloc = nullptr; }
    // zlib refuses to end a stream that has no release function.
    free_func TakeRelease()
    {
        const free_func release = stream.zfree;
        stream.zfree = nullptr;
        return release;
    }
    void GiveRelease(free_func release) { stream.zfree = release; }
};

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

TEST(WtInflateCodec, DecodesInPiecesOfAHundredAndTellsACleanEnd)
{
    const Bytes packed = Compress(Pattern(1000));
    Bytes badSum = packed;
    badSum[packed.size() - 1] ^= 0xFF;
    Bytes badHeader = packed;
    badHeader[0] = 0;
    struct Case { Bytes input; std::uint32_t limit; int total; bool clean; };
    const Case cases[] = {
        {Compress(Pattern(250)), 0, 250, true},
        {Compress(Pattern(100)), 0, 100, true},
        {Compress(Pattern(250)), 150, 150, false},
        {Compress(Pattern(250)), 1, 1, false},
        {Bytes(), 0, 0, false},
        {badSum, 0, 1000, false},
        {badHeader, 0, 0, false},
        {Bytes(packed.begin(), packed.begin() + 60), 0, -1, false}, // -1: some prefix
    };
    WtInflateCodec codec; // one codec for all: each Decode is a stream of its own
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        WtMemoryReader source(c.input.data(), c.input.size());
        RecordingSink sink;
        const std::uint32_t total = codec.Decode(sink, source, c.limit);
        if (c.total >= 0) {
            EXPECT_EQ(static_cast<std::uint32_t>(c.total), total);
        } else {
            EXPECT_LT(total, 1000u);
        }
        std::vector<std::uint32_t> pieces(total / 100, 100);
        if (total % 100)
            pieces.push_back(total % 100);
        EXPECT_EQ(pieces, sink.writes);
        EXPECT_EQ(Pattern(total), sink.data);
        EXPECT_EQ(c.clean, codec.EndedCleanly());
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
}

TEST(WtInflateCodec, FailingSinkLeavesTheCodecRunning)
{
    const Bytes packed = Compress(Pattern(500));
    WtMemoryReader source(packed.data(), packed.size());
    RecordingSink sink;
    sink.failAt = 2;
    WtInflateCodec codec;
    EXPECT_THROW(codec.Decode(sink, source, 0), int);
    ExpectZlibError(-11, [&] { codec.Decode(sink, source, 0); });
    // Destroyed while running: the host tree's leak checker reports zlib's state if the
    // destructor does not release it.
}

TEST(WtInflateReader, DeliversOnDemandAndSurvivesEmptyRequests)
{
    const Bytes packed = FileBytes("sample-9.zlib");
    WtMemoryReader source(packed.data(), packed.size());
    WtInflateReader reader(source);
    Bytes out;
    unsigned char buffer[37];
    for (std::uint32_t n; (n = reader.Read(buffer, sizeof buffer)) > 0;) {
        out.insert(out.end(), buffer, buffer + n);
        EXPECT_EQ(0u, reader.Read(buffer, 0)); // must not end the stream
    }
    EXPECT_EQ(FileBytes("sample.bin"), out);
    EXPECT_TRUE(reader.EndedCleanly());
    reader.End(); // the destructor must not throw -11 now, which would end the process
}

// Input is asked for only when zlib has used up the previous piece, and always as a
// full request: 113 bytes for the codec, 100 for the reader.
TEST(WtInflater, AsksItsSourceForFullRequests)
{
    const Bytes packed = FileBytes("sample-1.zlib");
    ASSERT_GT(packed.size(), 1000u);
    for (std::uint32_t request : {113u, 100u}) {
        SCOPED_TRACE(request);
        RecordingSource source(packed);
        RecordingSink sink;
        if (request == 113) {
            WtInflateCodec codec;
            codec.Decode(sink, source, 0);
        } else {
            WtInflateReader reader(source);
            unsigned char buffer[300];
            while (const std::uint32_t n = reader.Read(buffer, sizeof buffer))
                sink.Write(buffer, n);
        }
        EXPECT_EQ(FileBytes("sample.bin"), sink.data);
        const std::size_t pieces = (packed.size() + request - 1) / request;
        EXPECT_EQ(std::vector<std::uint32_t>(pieces, request), source.requests);
    }
}

TEST(WtInflater, FailedSetUpAndTearDownKeepTheState)
{
    ProbeCodec codec;
    codec.RefuseAllocations();
    ExpectZlibError(-5, [&] { codec.Begin(); });
    EXPECT_EQ(WtInflater::Idle, codec.Current());
    codec.UseDefaultAllocations();

    const Bytes packed = Compress(Pattern(300));
    for (bool readToTheEnd : {false, true}) {
        SCOPED_TRACE(readToTheEnd);
        WtMemoryReader source(packed.data(), packed.size());
        codec.Begin();
        unsigned char buffer[400];
        if (readToTheEnd) {
            EXPECT_EQ(300u, codec.Read(buffer, sizeof buffer, source));
        }
        const WtInflater::State before = codec.Current();
        EXPECT_EQ(readToTheEnd ? WtInflater::Finished : WtInflater::Running, before);
        const free_func release = codec.TakeRelease();
        ExpectZlibError(-9, [&] { codec.End(); });
        EXPECT_EQ(before, codec.Current());
        codec.GiveRelease(release);
        codec.End();
        EXPECT_EQ(WtInflater::Idle, codec.Current());
    }

    // After all that the codec still decodes.
    WtMemoryReader source(packed.data(), packed.size());
    RecordingSink sink;
    EXPECT_EQ(300u, codec.Decode(sink, source, 0));
    EXPECT_EQ(Pattern(300), sink.data);
}

TEST(WtInflater, InputBufferTheAddressSpaceCannotHoldThrowsMinusTen)
{
    if (sizeof(void*) > 4) {
        GTEST_SKIP() << "a 4 GiB buffer may well be granted in a 64-bit process";
    }
    ExpectZlibError(-10, [] { WtInflater inflater(0xFFFFFFFFu); });
}
