// zlib decompression between the stream interfaces.
//
// Every failure here throws a WtStreamException object (not a pointer) with the text
// "Zlib-Fehler". Corrupt, truncated or empty input is not a failure: decompression ends
// quietly with what was produced, and EndedCleanly() tells afterwards whether the
// stream reached its proper end.
#ifndef WT_INFLATE_H
#define WT_INFLATE_H

#include "stream/WtStream.h"

#include <cstdint>
#include <zlib.h>

class WtInflater
{
public:
    enum State { Idle, Running, Finished };

    // Allocates an input buffer of inputSize bytes; throws -10 if that fails.
    explicit WtInflater(std::uint32_t inputSize);
    // Also releases zlib's state if the stream was never ended. Never throws.
    virtual ~WtInflater();

    WtInflater(const WtInflater&) = delete;
    WtInflater& operator=(const WtInflater&) = delete;

    // Idle -> Running. Throws -11 unless Idle, -5 if zlib cannot be initialised.
    void Begin();
    // Decompresses up to count bytes into buffer, pulling compressed input from source
    // in requests of inputSize bytes. Throws -11 when Idle; returns 0 once Finished.
    std::uint32_t Read(void* buffer, std::uint32_t count, WtReader& source);
    // Running or Finished -> Idle. Throws -11 when Idle, -9 if zlib reports a failure.
    void End();

    // True when the last stream read ended with zlib's stream-end result; false while
    // it is still running, and after corrupt, truncated or cut-off input.
    bool EndedCleanly() const { return endedCleanly; }

protected:
    z_stream stream;
    unsigned char* inputBuffer;
    std::uint32_t inputSize;
    State state;
    bool endedCleanly;
};

// Decompresses one whole zlib stream per Decode call; compressed input is requested
// 113 bytes at a time.
class WtInflateCodec : public WtInflater, public WtCodec
{
public:
    WtInflateCodec();

    // Writes the decompressed bytes to sink in pieces of at most 100 bytes, one Write
    // per piece, stopping at the end of the stream, on corrupt input, when the source
    // runs dry, or after limit bytes (0: no limit). Returns the number written.
    // Throws -11 if the codec is not Idle, which is the case after an exception from
    // the sink or the source has left an earlier Decode.
    std::uint32_t Decode(WtWriter& sink, WtReader& source, std::uint32_t limit) override;
    // Does nothing; returns 0.
    std::uint32_t Encode(WtWriter& sink, WtReader& source, std::uint32_t limit) override;
};

// Delivers the decompressed bytes of a borrowed source on demand; compressed input is
// requested 100 bytes at a time. The stream is begun by the constructor.
class WtInflateReader : public WtInflater, public WtReader
{
public:
    explicit WtInflateReader(WtReader& source);
    // Ends the zlib stream if it is still open. Never throws.
    ~WtInflateReader() override;

    std::uint32_t Read(void* buffer, std::uint32_t count) override;

private:
    WtReader& source;
};

#endif
