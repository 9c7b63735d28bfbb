#include "tools/kmarc/OutputFile.h"

#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/ToolError.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

const char kOutputPartialSuffix[] = ".part";

namespace {

// Appends below this size are gathered; larger ones go straight to the file.
const size_t kBufferSize = 1 << 20;
// Largest single write the system call takes (WriteFile counts in a DWORD).
const size_t kLargestWrite = 1 << 30;
// Files being written at once; kmarc writes one or two.
const int kSlotCount = 16;

#ifdef _WIN32
typedef wchar_t NativeChar;
#else
typedef char NativeChar;
#endif

// The ".part" paths to take away on an interrupt. The handler only reads the slots, and
// a slot's text stays alive until its owner has cleared the slot and seen that no
// interrupt began, so the handler never reads freed memory.
std::atomic<const NativeChar*> g_partials[kSlotCount];
std::atomic<bool> g_interrupted{ false };
std::once_flag g_handlerInstalled;

void RemoveEveryPartial()
{
    g_interrupted.store(true);
    for (auto& slot : g_partials) {
        const NativeChar* path = slot.load();
        if (path == nullptr)
            continue;
#ifdef _WIN32
        DeleteFileW(path);
#else
        unlink(path);
#endif
    }
}

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The file is open with delete sharing: it goes when the process ends.
        RemoveEveryPartial();
        break;
    default:
        break;
    }
    return FALSE;  // the default handler ends the process as it would have
}

void InstallInterruptHandler()
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

[[noreturn]] void WaitForTheEnd()
{
    for (;;)
        Sleep(INFINITE);
}
#else
const int kInterrupts[] = { SIGINT, SIGTERM, SIGHUP };

void OnInterrupt(int signal)
{
    int savedErrno = errno;
    RemoveEveryPartial();
    errno = savedErrno;
    // The handler was reset to the default when it ran: the signal ends the process as
    // it would have without us, once this handler returns.
    raise(signal);
}

void InstallInterruptHandler()
{
    for (int signal : kInterrupts) {
        struct sigaction current;
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;  // a run started to ignore it (nohup) keeps ignoring it
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        for (int other : kInterrupts)
            sigaddset(&action.sa_mask, other);
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
}

[[noreturn]] void WaitForTheEnd()
{
    for (;;)
        pause();
}
#endif

int Register(const fs::path& partial)
{
    std::call_once(g_handlerInstalled, InstallInterruptHandler);
    for (int i = 0; i < kSlotCount; ++i) {
        const NativeChar* expected = nullptr;
        if (g_partials[i].compare_exchange_strong(expected, partial.c_str()))
            return i;
    }
    throw ToolError{ kExitFileSystem, DisplayPath(partial) + ": too many files written at once" };
}

void Unregister(int slot)
{
    g_partials[slot].store(nullptr);
    // An interrupt that began may still be reading the path: the process is ending, so
    // keep the text alive until it has.
    if (g_interrupted.load())
        WaitForTheEnd();
}

[[noreturn]] void Fail(const fs::path& path, const std::string& what)
{
    throw ToolError{ kExitFileSystem, DisplayPath(path) + ": " + what };
}

std::string AlreadyThere()
{
    return "already exists (left by a run that was killed, or put there by someone else); kmarc writes only "
           "a file it creates itself: remove it and run again";
}

#ifdef _WIN32
std::string SystemMessage(DWORD code)
{
    return std::system_category().message(static_cast<int>(code));
}
#endif

// The reason the last file call failed, as the system words it.
std::string LastFailure()
{
#ifdef _WIN32
    return SystemMessage(GetLastError());
#else
    return std::strerror(errno);
#endif
}

} // namespace

OutputFile::OutputFile(const fs::path& path) : m_path(path), m_partial(path)
{
    m_partial += kOutputPartialSuffix;
#ifdef _WIN32
    // CREATE_NEW fails on any name that exists, a link or junction included, so nothing
    // planted there is opened. Delete sharing lets an interrupt remove the file while
    // it is open.
    HANDLE handle = CreateFileW(m_partial.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            Fail(m_partial, AlreadyThere());
        Fail(m_partial, "cannot create: " + SystemMessage(error));
    }
    m_handle = handle;
#else
    // O_EXCL refuses any name that exists, a dangling link included; O_NOFOLLOW makes
    // sure no link is ever opened.
    m_handle = open(m_partial.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (m_handle < 0) {
        int error = errno;
        if (error == EEXIST || error == ELOOP)
            Fail(m_partial, AlreadyThere());
        Fail(m_partial, std::string("cannot create: ") + std::strerror(error));
    }
#endif
    try {
        m_slot = Register(m_partial);
    } catch (...) {
        CloseHandle();
        std::error_code ignored;
        fs::remove(m_partial, ignored);
        throw;
    }
    m_buffer.reserve(kBufferSize);
}

OutputFile::~OutputFile()
{
    CloseHandle();
    if (!m_committed) {
        std::error_code ignored;
        fs::remove(m_partial, ignored);
    }
    Unregister(m_slot);
}

void OutputFile::CloseHandle()
{
#ifdef _WIN32
    if (m_handle != nullptr)
        ::CloseHandle(m_handle);
    m_handle = nullptr;
#else
    if (m_handle >= 0)
        close(m_handle);
    m_handle = -1;
#endif
}

// Writes and reads at an explicit offset every time, so that appends, rewrites and
// reading back never depend on a file position.
namespace {

enum class Transfer { Write, Read };

bool TransferFully(
#ifdef _WIN32
    void* handle,
#else
    int handle,
#endif
    Transfer direction, uint64_t offset, unsigned char* bytes, size_t count)
{
    while (count != 0) {
        size_t piece = std::min(count, kLargestWrite);
#ifdef _WIN32
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        BOOL ok = direction == Transfer::Write
                      ? WriteFile(handle, bytes, static_cast<DWORD>(piece), &done, &at)
                      : ReadFile(handle, bytes, static_cast<DWORD>(piece), &done, &at);
        if (!ok || done == 0)
            return false;
#else
        ssize_t done = direction == Transfer::Write ? pwrite(handle, bytes, piece, static_cast<off_t>(offset))
                                                    : pread(handle, bytes, piece, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
#endif
        offset += size_t(done);
        bytes += size_t(done);
        count -= size_t(done);
    }
    return true;
}

bool WriteFully(
#ifdef _WIN32
    void* handle,
#else
    int handle,
#endif
    uint64_t offset, const unsigned char* bytes, size_t count)
{
    // Only read from when writing.
    return TransferFully(handle, Transfer::Write, offset, const_cast<unsigned char*>(bytes), count);
}

} // namespace

void OutputFile::Flush()
{
    if (m_buffer.empty())
        return;
    if (!WriteFully(m_handle, m_flushed, m_buffer.data(), m_buffer.size()))
        Fail(m_partial, "cannot write: " + LastFailure());
    m_flushed += m_buffer.size();
    m_buffer.clear();
}

void OutputFile::Append(const void* bytes, size_t count)
{
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    if (m_buffer.size() + count > kBufferSize)
        Flush();
    if (count >= kBufferSize) {
        if (!WriteFully(m_handle, m_flushed, data, count))
            Fail(m_partial, "cannot write: " + LastFailure());
        m_flushed += count;
    } else {
        m_buffer.insert(m_buffer.end(), data, data + count);
    }
    m_size += count;
}

void OutputFile::WriteAt(uint64_t offset, const void* bytes, size_t count)
{
    if (offset > m_size || count > m_size - offset)
        Fail(m_partial, "a write past the end of what was written");
    Flush();
    if (!WriteFully(m_handle, offset, static_cast<const unsigned char*>(bytes), count))
        Fail(m_partial, "cannot write: " + LastFailure());
}

void OutputFile::ReadAt(uint64_t offset, void* bytes, size_t count)
{
    if (offset > m_size || count > m_size - offset)
        Fail(m_partial, "a read past the end of what was written");
    Flush();
    if (!TransferFully(m_handle, Transfer::Read, offset, static_cast<unsigned char*>(bytes), count))
        Fail(m_partial, "cannot read back: " + LastFailure());
}

void OutputFile::Commit()
{
    Flush();
#ifdef _WIN32
    bool closed = ::CloseHandle(m_handle) != 0;
    m_handle = nullptr;
    if (!closed)
        Fail(m_partial, "cannot write: " + SystemMessage(GetLastError()));
    // Replaces a file or link under the final name; a link is replaced, not followed.
    if (!MoveFileExW(m_partial.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING))
        Fail(m_path, "cannot replace: " + SystemMessage(GetLastError()));
#else
    int handle = m_handle;
    m_handle = -1;
    if (close(handle) != 0)
        Fail(m_partial, "cannot write: " + LastFailure());
    if (rename(m_partial.c_str(), m_path.c_str()) != 0)
        Fail(m_path, std::string("cannot replace: ") + std::strerror(errno));
#endif
    m_committed = true;
}

void WriteWholeFile(const fs::path& path, const std::vector<unsigned char>& bytes)
{
    OutputFile file(path);
    file.Append(bytes.data(), bytes.size());
    file.Commit();
}
