#include "stream/WtFileStream.h"

#include <exception>

namespace {

const DWORD kInvalidPointer = 0xFFFFFFFFu;
const std::uint32_t kAccessField = 0x3;
const std::uint32_t kShareField = 0x70;

[[noreturn]] void ThrowCode(std::int32_t code)
{
    throw new WtStreamException(code);
}

} // namespace

WtFileStream::WtFileStream()
    : handle(nullptr), ownsHandle(FALSE)
{
}

WtFileStream::WtFileStream(HANDLE existing)
    : handle(existing), ownsHandle(FALSE)
{
}

WtFileStream::WtFileStream(const char* fileName, std::uint32_t mode)
    : handle(nullptr), ownsHandle(FALSE)
{
    if (!Open(fileName, mode))
        throw new WtStreamException(WtStreamException::OpenFailed, fileName);
}

WtFileStream::~WtFileStream() noexcept(false)
{
    if (handle == nullptr || !ownsHandle)
        return;
    // Guards against ending the process: a throw while another exception unwinds
    // the stack would call std::terminate, so the close is then left unreported.
    if (std::uncaught_exceptions() > 0) {
        CloseHandle(handle);
        handle = nullptr;
        ownsHandle = FALSE;
        return;
    }
    Close();
}

bool WtFileStream::Open(const char* fileName, std::uint32_t mode)
{
    handle = nullptr;
    ownsHandle = FALSE;

    DWORD access;
    switch (mode & kAccessField) {
    case AccessRead: access = GENERIC_READ; break;
    case AccessWrite: access = GENERIC_WRITE; break;
    case AccessReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
    default: return false; // no caller means anything by access value 3
    }

    DWORD share;
    switch (mode & kShareField) {
    case ShareDefault:
    case ShareNone: share = 0; break;
    case ShareRead: share = FILE_SHARE_READ; break;
    case ShareWrite: share = FILE_SHARE_WRITE; break;
    case ShareReadWrite: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default: return false; // 0x50 to 0x70 are undefined; refuse rather than guess
    }

    DWORD disposition = OPEN_EXISTING;
    if (mode & OpenCreate)
        disposition = (mode & OpenKeepExisting) ? OPEN_ALWAYS : CREATE_ALWAYS;

    // No security attributes: child processes, such as the setup program, must not
    // inherit the handle.
    HANDLE opened = CreateFileA(fileName, access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    handle = opened;
    ownsHandle = TRUE;
    return true;
}

void WtFileStream::Close()
{
    if (handle == nullptr)
        return;
    const BOOL closed = CloseHandle(handle);
    // A handle that failed to close is not retried: it may already be gone.
    handle = nullptr;
    ownsHandle = FALSE;
    if (!closed)
        ThrowCode(WtStreamException::CloseFailed);
}

std::uint32_t WtFileStream::Read(void* buffer, std::uint32_t count)
{
    if (count == 0)
        return 0;
    DWORD transferred = 0;
    if (!ReadFile(handle, buffer, count, &transferred, nullptr))
        ThrowCode(WtStreamException::ReadFailed);
    return transferred;
}

std::uint32_t WtFileStream::Write(const void* bytes, std::uint32_t count)
{
    if (count == 0)
        return 0;
    DWORD transferred = 0;
    if (!WriteFile(handle, bytes, count, &transferred, nullptr))
        ThrowCode(WtStreamException::WriteFailed);
    // Callers never look at the result, so a short write must not pass as success.
    if (transferred < count)
        ThrowCode(WtStreamException::WriteIncomplete);
    return count;
}

std::uint32_t WtFileStream::GetPosition()
{
    const DWORD offset = SetFilePointer(handle, 0, nullptr, FILE_CURRENT);
    if (offset == kInvalidPointer)
        ThrowCode(WtStreamException::PositionFailed);
    return offset;
}

std::uint32_t WtFileStream::Seek(std::int32_t offset, std::uint32_t origin)
{
    const DWORD moved = SetFilePointer(handle, offset, nullptr, origin);
    if (moved == kInvalidPointer)
        ThrowCode(WtStreamException::PositionFailed);
    return moved;
}

std::uint32_t WtFileStream::GetSize()
{
    // Through the virtual Seek, so a derived stream's positioning is honoured.
    const std::uint32_t saved = Seek(0, FILE_CURRENT);
    const std::uint32_t length = Seek(0, FILE_END);
    if (Seek(static_cast<std::int32_t>(saved), FILE_BEGIN) != saved)
        ThrowCode(WtStreamException::PositionFailed);
    return length;
}

std::int32_t WtFileStream::LockRange(std::uint32_t offset, std::uint32_t count)
{
    return LockFile(handle, offset, 0, count, 0) ? 0 : -1;
}

void WtFileStream::UnlockRange(std::uint32_t offset, std::uint32_t count)
{
    if (!UnlockFile(handle, offset, 0, count, 0))
        ThrowCode(WtStreamException::UnlockFailed);
}
