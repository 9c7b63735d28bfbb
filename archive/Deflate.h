// The one encoder of the archive's entries: a whole file's bytes into one complete zlib
// stream. Everything that compresses an entry calls DeflateEntry, so the encoder can be
// replaced here alone; its output must depend on nothing but the bytes and the level.
#ifndef ARCHIVE_DEFLATE_H
#define ARCHIVE_DEFLATE_H

#include <cstddef>
#include <cstdint>

class ChunkHelpers;

// Where an entry's contents come from. Read fills up to capacity bytes and returns how
// many it filled, fewer only at the end and 0 once the end is reached. A source that
// fails throws; the exception passes out of DeflateEntry unchanged.
class ArchiveInput {
public:
    virtual size_t Read(unsigned char* buffer, size_t capacity) = 0;

protected:
    ~ArchiveInput() = default;
};

// Where the compressed stream goes, in pieces as the encoder makes them. Put returns
// false when it cannot take them (DeflateEntry then stops with SinkRefused). A sink may
// also throw; the exception passes out of DeflateEntry unchanged.
class DeflateSink {
public:
    virtual bool Put(const unsigned char* bytes, size_t count) = 0;

protected:
    ~DeflateSink() = default;
};

// Fills buffer from input as far as it goes, and returns how much that is: fewer than
// capacity only at the end. Encoders take their pieces this way, so that how an input
// hands out its bytes can never change a stream.
size_t ReadFully(ArchiveInput& input, unsigned char* buffer, size_t capacity);

enum class DeflateResult {
    Ok,
    TooLarge,      // the input passed maxInput bytes
    Failed,        // the encoder reported an error
    SinkRefused,   // the sink did not take a piece
};

// Levels: -1 and 0 (stored) to 9 are zlib's, streamed, with exactly zlib's bytes; -1
// is zlib's default, whose streams begin with the header bytes 0x78 0x9C. 10 to 12 are
// libdeflate's strongest levels, compressed in chunks (ChunkedDeflate.h); 12 writes the
// smallest streams.
const int kZlibDefaultLevel = -1;
const int kMaxZlibLevel = 9;
const int kMinChunkedLevel = 10;
const int kMaxDeflateLevel = 12;

// Reads input to its end and puts one complete zlib stream of its bytes into sink (also
// for no bytes at all). inputSize receives the number of bytes read. Memory stays
// independent of the size of the input: zlib's levels take it in small pieces, the
// chunked levels hold a chunk and its stream for each thread at work on them. The
// chunked levels compress further chunks of a large file on helpers, when given and
// idle (ChunkedDeflate.h); the bytes never depend on them.
DeflateResult DeflateEntry(ArchiveInput& input, int level, uint64_t maxInput, DeflateSink& sink,
                           uint64_t& inputSize, ChunkHelpers* helpers = nullptr);

#endif
