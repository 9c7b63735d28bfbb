#include "archive/ChunkedDeflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace {

const size_t kCheckPiece = 65536;
// A chunk's buffer grows from this size by doubling, so that a small file costs little.
const size_t kFirstReadSize = 65536;
const int kRawDeflateWindowBits = -15;
const int kUnusedBitsMask = 63;      // zlib's data_type: unused bits of the last byte read
const int kLastBlockFlag = 64;       // ... the block being decoded is the final one
const int kBlockBoundaryFlag = 128;  // ... stopped right after a block's end code
const unsigned kStoredHeaderBits = 3;
// An empty stored block behind its header and padding: LEN 0 and NLEN 0xFFFF.
const unsigned char kEmptyStoredLengths[] = { 0x00, 0x00, 0xFF, 0xFF };
// The zlib header: deflate with a 32 KiB window; the level hint is what libdeflate's
// own zlib wrapper writes, so a one-chunk stream is exactly libdeflate's zlib stream.
const unsigned kZlibDeflate32K = 0x7800;
const unsigned kZlibHeaderCheck = 31;
const unsigned kZlibLevelHintShift = 6;

unsigned LevelHint(int level)
{
    if (level < 2)
        return 0;
    if (level < 6)
        return 1;
    return level == 6 ? 2 : 3;
}

class Inflater {
public:
    Inflater() { m_ready = inflateInit2(&m_stream, kRawDeflateWindowBits) == Z_OK; }
    ~Inflater()
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool Ready() const { return m_ready; }
    z_stream& Stream() { return m_stream; }

private:
    z_stream m_stream = {};
    bool m_ready = false;
};

// Inflates a chunk's raw deflate blocks, compares them with the chunk, and finds the
// bit offsets where the final block begins and where the blocks end. zlib stops at
// every block boundary when asked to (Z_BLOCK) and says how many bits of the last byte
// it read are still unused.
bool InflateAndLocate(const std::vector<unsigned char>& blocks, const unsigned char* data, size_t size,
                      uint64_t& finalStart, uint64_t& end)
{
    Inflater inflater;
    if (!inflater.Ready())
        return false;
    z_stream& stream = inflater.Stream();
    stream.next_in = const_cast<unsigned char*>(blocks.data());
    stream.avail_in = static_cast<uInt>(blocks.size());
    std::vector<unsigned char> piece(kCheckPiece);
    size_t produced = 0;
    bool endFound = false;
    finalStart = 0;
    for (;;) {
        stream.next_out = piece.data();
        stream.avail_out = static_cast<uInt>(piece.size());
        int result = inflate(&stream, Z_BLOCK);
        size_t count = piece.size() - stream.avail_out;
        if (count > size - produced || std::memcmp(piece.data(), data + produced, count) != 0)
            return false;
        produced += count;
        int unusedBits = stream.data_type & kUnusedBitsMask;
        if (unusedBits >= 8)
            return false;
        uint64_t position = uint64_t(stream.total_in) * 8 - unsigned(unusedBits);
        // At the end of the stream zlib has skipped the padding bits already; the end
        // of the final block is where it stopped right after its end code.
        if (result == Z_STREAM_END)
            return endFound && produced == size && stream.avail_in == 0;
        if (result != Z_OK)
            return false;
        if ((stream.data_type & kBlockBoundaryFlag) != 0) {
            if ((stream.data_type & kLastBlockFlag) == 0) {
                finalStart = position;
            } else {
                end = position;
                endFound = true;
            }
        }
    }
}

// Reads up to chunkSize bytes into data, which starts with what it already holds.
void ReadChunk(ArchiveInput& input, std::vector<unsigned char>& data, size_t chunkSize)
{
    while (data.size() < chunkSize) {
        size_t held = data.size();
        size_t wanted = std::min(chunkSize - held, std::max(kFirstReadSize, held));
        data.resize(held + wanted);
        size_t got = ReadFully(input, data.data() + held, wanted);
        data.resize(held + got);
        if (got < wanted)
            return;
    }
}

struct Chunk {
    std::vector<unsigned char> data;
    std::vector<unsigned char> blocks;
    bool last = false;
    bool ok = false;
};

} // namespace

ChunkCompressor::ChunkCompressor(int level) : m_level(level), m_compressor(libdeflate_alloc_compressor(level)) {}

ChunkCompressor::~ChunkCompressor()
{
    libdeflate_free_compressor(m_compressor);
}

bool ChunkCompressor::Compress(const unsigned char* data, size_t size, bool last, std::vector<unsigned char>& out)
{
    if (m_compressor == nullptr || size > UINT32_MAX / 2)
        return false;
    out.resize(libdeflate_deflate_compress_bound(m_compressor, size));
    size_t written = libdeflate_deflate_compress(m_compressor, data, size, out.data(), out.size());
    if (written == 0)
        return false;
    out.resize(written);
    uint64_t finalStart = 0;
    uint64_t end = 0;
    if (!InflateAndLocate(out, data, size, finalStart, end) || (end + 7) / 8 != out.size())
        return false;
    if (last)
        return true;
    // The final block becomes an ordinary one, and an empty stored block behind it pads
    // to the byte boundary, as zlib's own sync flush does. Its three header bits are all
    // zero, like the padding after the end code, so a new byte is needed only when
    // fewer than three bits of the last one are free.
    out[finalStart / 8] &= static_cast<unsigned char>(~(1u << (finalStart % 8)));
    unsigned usedBits = unsigned(end % 8);
    if (usedBits == 0 || 8 - usedBits < kStoredHeaderBits)
        out.push_back(0);
    out.insert(out.end(), std::begin(kEmptyStoredLengths), std::end(kEmptyStoredLengths));
    return true;
}

namespace {

// Helpers of the stream's own: threads started for each batch of chunks.
class StartedHelpers : public ChunkHelpers {
public:
    explicit StartedHelpers(unsigned extra) : m_extra(extra) {}

    unsigned Reserve(unsigned wanted) override { return std::min(wanted, m_extra); }
    void GiveBack(unsigned) override {}

    void Run(unsigned count, ChunkCompressor& own,
             const std::function<void(unsigned, ChunkCompressor&)>& task) override
    {
        while (m_compressors.size() + 1 < count)
            m_compressors.emplace_back(new ChunkCompressor(own.Level()));
        std::vector<std::thread> threads;
        unsigned started = 1;
        try {
            for (; started < count; ++started)
                threads.emplace_back(task, started, std::ref(*m_compressors[started - 1]));
        } catch (const std::system_error&) {
            // No thread to be had: this one does the rest as well.
        }
        if (count != 0)
            task(0, own);
        for (unsigned i = started; i < count; ++i)
            task(i, own);
        for (std::thread& thread : threads)
            thread.join();
    }

private:
    unsigned m_extra;
    std::vector<std::unique_ptr<ChunkCompressor>> m_compressors;
};

// Helpers reserved for one batch; given back unused when reading a chunk throws.
class Reservation {
public:
    Reservation(ChunkHelpers& helpers, ChunkCompressor& own, unsigned wanted)
        : m_helpers(helpers), m_own(own), m_count(wanted == 0 ? 0 : helpers.Reserve(wanted))
    {
    }
    ~Reservation()
    {
        if (m_count != 0)
            m_helpers.GiveBack(m_count);
    }
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;

    unsigned Count() const { return m_count; }
    // count is at most one more than Count(): the calling thread does one.
    void Run(unsigned count, const std::function<void(unsigned, ChunkCompressor&)>& task)
    {
        unsigned helping = count == 0 ? 0 : count - 1;
        if (m_count > helping)
            m_helpers.GiveBack(m_count - helping);
        m_count = 0;
        m_helpers.Run(count, m_own, task);
    }

private:
    ChunkHelpers& m_helpers;
    ChunkCompressor& m_own;
    unsigned m_count;
};

// Chunks read ahead for helpers at most: enough for many processors, few enough that
// one stream cannot take too much memory.
const unsigned kMaxBorrowed = 63;

} // namespace

DeflateResult DeflateChunked(ArchiveInput& input, const ChunkedDeflateOptions& options, uint64_t maxInput,
                             DeflateSink& sink, uint64_t& inputSize)
{
    inputSize = 0;
    const size_t chunkSize = std::max<size_t>(1, options.chunkSize);
    StartedHelpers started(std::max(1u, options.threads) - 1);
    ChunkHelpers& helpers = options.helpers != nullptr ? *options.helpers : started;
    ChunkCompressor own(options.level);

    unsigned header = kZlibDeflate32K | (LevelHint(options.level) << kZlibLevelHintShift);
    header += kZlibHeaderCheck - header % kZlibHeaderCheck;
    const unsigned char headerBytes[] = { static_cast<unsigned char>(header >> 8),
                                          static_cast<unsigned char>(header & 0xFF) };
    if (!sink.Put(headerBytes, sizeof headerBytes))
        return DeflateResult::SinkRefused;

    uLong adler = adler32(0, nullptr, 0);
    // A full chunk is the last one only when nothing follows it: one byte is read ahead.
    bool havePending = false;
    unsigned char pending = 0;
    bool finished = false;
    std::vector<Chunk> batch(1);
    auto compress = [&batch](unsigned i, ChunkCompressor& compressor) {
        Chunk& chunk = batch[i];
        try {
            chunk.ok = compressor.Compress(chunk.data.data(), chunk.data.size(), chunk.last, chunk.blocks);
        } catch (const std::bad_alloc&) {
            chunk.ok = false;
        }
    };
    // Reads the next chunk into chunk; false when the input passes maxInput.
    auto read = [&](Chunk& chunk) {
        chunk.data.clear();
        if (havePending)
            chunk.data.push_back(pending);
        ReadChunk(input, chunk.data, chunkSize);
        size_t count = chunk.data.size();
        havePending = count == chunkSize && ReadFully(input, &pending, 1) == 1;
        chunk.last = finished = !havePending;
        inputSize += count;
        return inputSize <= maxInput;
    };
    while (!finished) {
        size_t used = 1;
        if (!read(batch[0]))
            return DeflateResult::TooLarge;
        {
            // Helpers are asked for only when another chunk follows, so that a small
            // file never keeps them from another.
            Reservation reservation(helpers, own, finished ? 0 : kMaxBorrowed);
            if (batch.size() < 1 + reservation.Count())
                batch.resize(1 + reservation.Count());
            while (used < 1 + reservation.Count() && !finished) {
                if (!read(batch[used++]))
                    return DeflateResult::TooLarge;
            }
            reservation.Run(static_cast<unsigned>(used), compress);
        }
        for (size_t i = 0; i < used; ++i) {
            Chunk& chunk = batch[i];
            if (!chunk.ok)
                return DeflateResult::Failed;
            adler = adler32_z(adler, chunk.data.data(), chunk.data.size());
            if (!sink.Put(chunk.blocks.data(), chunk.blocks.size()))
                return DeflateResult::SinkRefused;
        }
        // A batch larger than the next one needs gives its memory back.
        batch.resize(1);
    }
    const unsigned char trailer[] = { static_cast<unsigned char>(adler >> 24), static_cast<unsigned char>(adler >> 16),
                                      static_cast<unsigned char>(adler >> 8), static_cast<unsigned char>(adler) };
    if (!sink.Put(trailer, sizeof trailer))
        return DeflateResult::SinkRefused;
    return DeflateResult::Ok;
}
