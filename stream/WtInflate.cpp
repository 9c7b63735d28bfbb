#include "stream/WtInflate.h"

#include <cstring>
#include <new>

namespace {

const char kZlibErrorText[] = "Zlib-Fehler";
// The version the inflater was written against; zlib checks only its major digit.
const char kZlibVersion[] = "1.1.4";

const std::uint32_t kCodecInputSize = 113;
const std::uint32_t kReaderInputSize = 100;
const std::uint32_t kDecodePiece = 100;
const std::uint32_t kNoLimit = 0xFFFFFFFFu;

[[noreturn]] void ThrowZlibError(std::int32_t code)
{
    throw WtStreamException(code, kZlibErrorText);
}

} // namespace

WtInflater::WtInflater(std::uint32_t inputSize)
    : inputBuffer(nullptr), inputSize(inputSize), state(Idle), endedCleanly(false)
{
    // Null zalloc, zfree and opaque select zlib's own allocation.
    std::memset(&stream, 0, sizeof stream);
    inputBuffer = new (std::nothrow) unsigned char[inputSize];
    if (inputBuffer == nullptr)
        ThrowZlibError(WtStreamException::InflateNoBuffer);
}

WtInflater::~WtInflater()
{
    // Guards against leaking zlib's state when an exception left Decode mid-stream.
    if (state != Idle)
        inflateEnd(&stream);
    delete[] inputBuffer;
}

void WtInflater::Begin()
{
    if (state != Idle)
        ThrowZlibError(WtStreamException::InflateBadState);
    // zlib expects the input fields set before initialisation.
    stream.next_in = nullptr;
    stream.avail_in = 0;
    if (inflateInit_(&stream, kZlibVersion, static_cast<int>(sizeof(z_stream))) != Z_OK)
        ThrowZlibError(WtStreamException::InflateInitFailed);
    endedCleanly = false;
    state = Running;
}

std::uint32_t WtInflater::Read(void* buffer, std::uint32_t count, WtReader& source)
{
    if (state != Running && state != Finished)
        ThrowZlibError(WtStreamException::InflateBadState);
    if (state == Finished)
        return 0;
    // Guards against a zero-length request ending the stream: with no room for output
    // zlib may answer Z_BUF_ERROR, which would finish the stream and lose the rest.
    if (count == 0)
        return 0;

    stream.next_out = static_cast<Bytef*>(buffer);
    stream.avail_out = count;
    int result;
    do {
        // Input beyond the end of the zlib stream may be read here; it is ignored.
        if (stream.avail_in == 0) {
            stream.next_in = inputBuffer;
            stream.avail_in = source.Read(inputBuffer, inputSize);
        }
        result = inflate(&stream, Z_NO_FLUSH);
    } while (stream.avail_out > 0 && result == Z_OK);

    // Damaged data and a dry source end the stream quietly, like its proper end.
    if (result != Z_OK) {
        state = Finished;
        endedCleanly = result == Z_STREAM_END;
    }
    return count - stream.avail_out;
}

void WtInflater::End()
{
    if (state != Running && state != Finished)
        ThrowZlibError(WtStreamException::InflateBadState);
    if (inflateEnd(&stream) != Z_OK)
        ThrowZlibError(WtStreamException::InflateEndFailed);
    state = Idle;
}

WtInflateCodec::WtInflateCodec()
    : WtInflater(kCodecInputSize)
{
}

std::uint32_t WtInflateCodec::Decode(WtWriter& sink, WtReader& source, std::uint32_t limit)
{
    if (limit == 0)
        limit = kNoLimit;
    std::uint32_t total = 0;
    Begin();
    unsigned char piece[kDecodePiece];
    std::uint32_t produced;
    do {
        const std::uint32_t chunk = limit < kDecodePiece ? limit : kDecodePiece;
        produced = WtInflater::Read(piece, chunk, source);
        if (produced > 0) {
            // A sink that fails throws; its result carries nothing more.
            sink.Write(piece, produced);
            total += produced;
            limit -= produced;
        }
    } while (limit > 0 && produced > 0);
    End();
    return total;
}

std::uint32_t WtInflateCodec::Encode(WtWriter&, WtReader&, std::uint32_t)
{
    return 0;
}

WtInflateReader::WtInflateReader(WtReader& source)
    : WtInflater(kReaderInputSize), source(source)
{
    Begin();
}

WtInflateReader::~WtInflateReader()
{
    // Guards against terminating the process: End() throws from here if the stream was
    // already ended by hand, so the zlib state is released without it.
    if (state != Idle) {
        inflateEnd(&stream);
        state = Idle;
    }
}

std::uint32_t WtInflateReader::Read(void* buffer, std::uint32_t count)
{
    return WtInflater::Read(buffer, count, source);
}
