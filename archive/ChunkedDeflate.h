// The packer's strongest encoder: libdeflate at its highest levels, which searches far
// harder than zlib for the same deflate format, so that the launcher's zlib inflates
// its streams as it inflates any other.
//
// libdeflate compresses whole buffers. To keep memory bounded whatever the file size, a
// file is taken in chunks of a fixed size; each chunk is compressed on its own into
// deflate blocks, and every chunk but the last is made to end on a byte boundary with
// no final block, so the chunks join into one deflate stream. The zlib header comes
// first and one Adler-32 of the whole file last. Chunks may be compressed at the same
// time, on threads of the caller's or borrowed ones; the stream depends only on the
// bytes, the level and the chunk size, never on the number of threads or the platform.
#ifndef ARCHIVE_CHUNKED_DEFLATE_H
#define ARCHIVE_CHUNKED_DEFLATE_H

#include "archive/Deflate.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Large enough that the cost of a boundary (a window of history lost and about six
// bytes) is lost in the size of a chunk's stream; small enough that a chunk and its
// output per thread stay modest.
const size_t kDeflateChunkSize = size_t(4) << 20;

// Compresses one chunk into raw deflate blocks, with one libdeflate compressor; one per
// thread.
class ChunkCompressor {
public:
    // level: kMinChunkedLevel to kMaxDeflateLevel (any libdeflate level works).
    explicit ChunkCompressor(int level);
    ~ChunkCompressor();
    ChunkCompressor(const ChunkCompressor&) = delete;
    ChunkCompressor& operator=(const ChunkCompressor&) = delete;

    // Replaces out with the deflate blocks of size bytes at data. When last is false
    // the blocks end on a byte boundary and none of them is final, so that the next
    // chunk's blocks may follow. Each chunk is inflated again at once and compared
    // with data; false when that fails (or when memory runs out), which would be a
    // fault of the encoder, never of the data.
    bool Compress(const unsigned char* data, size_t size, bool last, std::vector<unsigned char>& out);

    int Level() const { return m_level; }

private:
    int m_level;
    struct libdeflate_compressor* m_compressor;
};

// Threads that a stream may borrow to compress several of its chunks at once: those of
// a packer that have no file left to start, for instance.
class ChunkHelpers {
public:
    // Takes up to wanted threads that are idle now and keeps them for the caller's next
    // Run; returns how many it took (0 when none is idle).
    virtual unsigned Reserve(unsigned wanted) = 0;
    // Gives back count of the threads the caller reserved without running them.
    virtual void GiveBack(unsigned count) = 0;
    // Calls task(i, compressor) for each i below count and returns once every call
    // returned: the calling thread makes one of the calls with own, count - 1 threads
    // that the caller reserved the others, each with a compressor of its own at own's
    // level. A task must not throw.
    virtual void Run(unsigned count, ChunkCompressor& own,
                     const std::function<void(unsigned, ChunkCompressor&)>& task) = 0;

protected:
    ~ChunkHelpers() = default;
};

struct ChunkedDeflateOptions {
    int level = kMaxDeflateLevel;
    // Where further chunks of the stream are compressed while the calling thread does
    // one; without helpers, threads - 1 threads are started for that. Each chunk being
    // compressed holds about twice the chunk size.
    ChunkHelpers* helpers = nullptr;
    unsigned threads = 1;
    size_t chunkSize = kDeflateChunkSize;
};

// DeflateEntry for the chunked encoder: reads input to its end and puts one complete
// zlib stream of it into sink. inputSize receives the number of bytes read; TooLarge
// as soon as they pass maxInput.
DeflateResult DeflateChunked(ArchiveInput& input, const ChunkedDeflateOptions& options, uint64_t maxInput,
                             DeflateSink& sink, uint64_t& inputSize);

#endif
