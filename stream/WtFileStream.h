// A positioned stream over a Windows file handle.
//
// Every failure throws `new WtStreamException(code)`, a pointer the catcher deletes:
// 1 read, 2 write, 3 short write, 4 file pointer, 6 unlock, 7 open (text: the file
// name), 8 close. Open() and LockRange() report failure by their result instead.
// Offsets and counts are 32-bit; files of 4 GiB and more are not supported.
#ifndef WT_FILE_STREAM_H
#define WT_FILE_STREAM_H

#include "stream/WtStream.h"

#include <cstdint>
#include <windows.h>

class WtFileStream : public WtInOutStream
{
public:
    // Mode word: one access value, one share value, and the open flags.
    static constexpr std::uint32_t AccessRead = 0x0;
    static constexpr std::uint32_t AccessWrite = 0x1;
    static constexpr std::uint32_t AccessReadWrite = 0x2;
    static constexpr std::uint32_t ShareDefault = 0x00;
    static constexpr std::uint32_t ShareNone = 0x10;
    static constexpr std::uint32_t ShareRead = 0x20;
    static constexpr std::uint32_t ShareWrite = 0x30;
    static constexpr std::uint32_t ShareReadWrite = 0x40;
    // Creates the file, truncating an existing one.
    static constexpr std::uint32_t OpenCreate = 0x1000;
    // With OpenCreate only: keeps an existing file's contents.
    static constexpr std::uint32_t OpenKeepExisting = 0x2000;

    // A stream without a file.
    WtFileStream();
    // Uses a handle the caller keeps owning: it is never closed on destruction.
    explicit WtFileStream(HANDLE existing);
    // Opens fileName (ANSI code page) with the mode word; throws 7 with the name as
    // text if that fails.
    WtFileStream(const char* fileName, std::uint32_t mode);

    WtFileStream(const WtFileStream&) = delete;
    WtFileStream& operator=(const WtFileStream&) = delete;

    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    // Closes an owned handle; a failure to close throws 8, except while another
    // exception is propagating, when the handle is closed without a report.
    virtual ~WtFileStream() noexcept(false);
    // Returns count; anything less throws instead.
    std::uint32_t Write(const void* bytes, std::uint32_t count) override;
    std::uint32_t GetSize() override;
    std::uint32_t GetPosition() override;
    std::uint32_t Seek(std::int32_t offset, std::uint32_t origin) override;
    std::int32_t LockRange(std::uint32_t offset, std::uint32_t count) override;
    void UnlockRange(std::uint32_t offset, std::uint32_t count) override;

    // For a stream that holds no handle. Returns false if the file cannot be opened
    // or the mode word holds an access or share value that has no meaning.
    bool Open(const char* fileName, std::uint32_t mode);
    // Closes the handle, owned or not; does nothing without one. Throws 8 if closing
    // fails, after which the stream is without a file all the same.
    void Close();

protected:
    HANDLE handle;   // null when the stream has no file
    BOOL ownsHandle; // nonzero when the stream opened the file itself
};

#endif
