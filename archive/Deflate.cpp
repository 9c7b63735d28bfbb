#include "archive/Deflate.h"

#include "archive/ChunkedDeflate.h"

#include <zlib.h>

#include <vector>

namespace {

// Pieces of input read and of output made at a time; fixed, so that the same input
// always gives the same stream.
const size_t kPieceSize = 65536;

class Deflater {
public:
    explicit Deflater(int level) { m_ready = deflateInit(&m_stream, level) == Z_OK; }
    ~Deflater()
    {
        if (m_ready)
            deflateEnd(&m_stream);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool Ready() const { return m_ready; }
    z_stream& Stream() { return m_stream; }

private:
    z_stream m_stream = {};
    bool m_ready = false;
};

} // namespace

size_t ReadFully(ArchiveInput& input, unsigned char* buffer, size_t capacity)
{
    size_t count = 0;
    for (size_t got = 1; count < capacity && got != 0; count += got)
        got = input.Read(buffer + count, capacity - count);
    return count;
}

DeflateResult DeflateEntry(ArchiveInput& input, int level, uint64_t maxInput, DeflateSink& sink,
                           uint64_t& inputSize, ChunkHelpers* helpers)
{
    if (level >= kMinChunkedLevel) {
        ChunkedDeflateOptions options;
        options.level = level;
        options.helpers = helpers;
        return DeflateChunked(input, options, maxInput, sink, inputSize);
    }
    inputSize = 0;
    Deflater deflater(level);
    if (!deflater.Ready())
        return DeflateResult::Failed;
    z_stream& stream = deflater.Stream();
    std::vector<unsigned char> in(kPieceSize);
    std::vector<unsigned char> out(kPieceSize);
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        size_t count = ReadFully(input, in.data(), in.size());
        inputSize += count;
        if (inputSize > maxInput)
            return DeflateResult::TooLarge;
        const int flush = count < in.size() ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = in.data();
        stream.avail_in = static_cast<uInt>(count);
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            result = deflate(&stream, flush);
            if (result == Z_STREAM_ERROR)
                return DeflateResult::Failed;
            size_t produced = out.size() - stream.avail_out;
            if (produced != 0 && !sink.Put(out.data(), produced))
                return DeflateResult::SinkRefused;
        } while (stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
        if (flush == Z_FINISH && result != Z_STREAM_END)
            return DeflateResult::Failed;
    }
    return DeflateResult::Ok;
}
