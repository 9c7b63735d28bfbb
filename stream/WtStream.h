// Stream interfaces and the exception by which stream operations fail.
//
// Counts, lengths and file offsets are 32-bit throughout. The interfaces have no
// virtual destructor: an object is destroyed through a pointer to its own concrete
// class, never through an interface pointer (the protected destructors enforce that).
#ifndef WT_STREAM_H
#define WT_STREAM_H

#include <cstdint>

// Positioning and byte-range locking shared by every positioned stream.
class WtStream
{
public:
    virtual std::uint32_t GetSize() = 0;
    virtual std::uint32_t GetPosition() = 0;
    // origin: 0 from the start, 1 from the current offset, 2 from the end.
    // Returns the new offset from the start.
    virtual std::uint32_t Seek(std::int32_t offset, std::uint32_t origin) = 0;
    // Returns 0 when the range is locked, -1 when it could not be locked.
    virtual std::int32_t LockRange(std::uint32_t offset, std::uint32_t count) = 0;
    virtual void UnlockRange(std::uint32_t offset, std::uint32_t count) = 0;

protected:
    ~WtStream() = default;
};

class WtReader
{
public:
    // Fills up to count bytes; returns how many were delivered. 0 means no more data.
    virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;

protected:
    ~WtReader() = default;
};

class WtWriter
{
public:
    // Returns the number of bytes written.
    virtual std::uint32_t Write(const void* bytes, std::uint32_t count) = 0;

protected:
    ~WtWriter() = default;
};

// WtStream is a virtual base, so a stream that is both reader and writer has one
// position, whichever side it is reached through.
class WtInStream : public WtReader, public virtual WtStream
{
protected:
    ~WtInStream() = default;
};

class WtOutStream : public WtWriter, public virtual WtStream
{
protected:
    ~WtOutStream() = default;
};

class WtInOutStream : public WtInStream, public WtOutStream
{
protected:
    ~WtInOutStream() = default;
};

// Sink and source are borrowed for the duration of one call.
class WtCodec
{
public:
    // limit 0 means no limit. Returns the number of bytes written to the sink.
    virtual std::uint32_t Decode(WtWriter& sink, WtReader& source, std::uint32_t limit) = 0;
    virtual std::uint32_t Encode(WtWriter& sink, WtReader& source, std::uint32_t limit) = 0;

protected:
    ~WtCodec() = default;
};

// Two ways of throwing are in use, and a handler has to expect both:
//  - WtFileStream throws `new WtStreamException(...)`; catch WtStreamException* and
//    delete it.
//  - The inflater throws the object itself, text "Zlib-Fehler"; catch it by reference.
class WtStreamException
{
public:
    // Positive codes come from the file stream, negative ones from the inflater.
    static constexpr std::int32_t ReadFailed = 1;
    static constexpr std::int32_t WriteFailed = 2;
    static constexpr std::int32_t WriteIncomplete = 3;
    static constexpr std::int32_t PositionFailed = 4;
    static constexpr std::int32_t UnlockFailed = 6;
    static constexpr std::int32_t OpenFailed = 7;
    static constexpr std::int32_t CloseFailed = 8;
    static constexpr std::int32_t InflateInitFailed = -5;
    static constexpr std::int32_t InflateEndFailed = -9;
    static constexpr std::int32_t InflateNoBuffer = -10;
    static constexpr std::int32_t InflateBadState = -11;

    // No text.
    explicit WtStreamException(std::int32_t code);
    // Keeps a private copy of text (null gives no text).
    WtStreamException(std::int32_t code, const char* text);
    WtStreamException(const WtStreamException& other);
    WtStreamException& operator=(const WtStreamException&) = delete;
    virtual ~WtStreamException();

    std::int32_t code;
    char* text; // owned, zero-terminated, or null
};

#endif
