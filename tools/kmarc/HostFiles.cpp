#include "tools/kmarc/HostFiles.h"

#include "tools/kmarc/ToolError.h"

#include <cstdint>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <stdio.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

uint32_t ClampToUint32(int64_t seconds)
{
    if (seconds < 0)
        return 0;
    if (seconds > int64_t(UINT32_MAX))
        return UINT32_MAX;
    return static_cast<uint32_t>(seconds);
}

[[noreturn]] void ThrowFileError(const fs::path& path, const std::string& what)
{
    throw ToolError{ kExitFileSystem, DisplayPath(path) + ": " + what };
}

#ifdef _WIN32
// 100-ns intervals between 1601-01-01 and 1970-01-01.
const int64_t kUnixEpochInFileTime = 116444736000000000LL;
const int64_t kFileTimeTicksPerSecond = 10000000;

uint32_t ToUnixSeconds(const FILETIME& time)
{
    int64_t ticks = int64_t(uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime);
    return ClampToUint32((ticks - kUnixEpochInFileTime) / kFileTimeTicksPerSecond);
}

std::string WideToAnsi(const std::wstring& wide, bool* lossy)
{
    if (wide.empty())
        return std::string();
    // A UTF-8 ANSI code page takes no default character and cannot lose one.
    bool utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultArgument = (lossy != nullptr && !utf8) ? &usedDefault : nullptr;
    DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int size = WideCharToMultiByte(CP_ACP, flags, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string ansi(size, '\0');
    WideCharToMultiByte(CP_ACP, flags, wide.data(), int(wide.size()), &ansi[0], size, nullptr, usedDefaultArgument);
    if (lossy != nullptr)
        *lossy = size == 0 || usedDefault;
    return ansi;
}
#endif

} // namespace

MappedFile::MappedFile(const fs::path& path)
{
    std::error_code error;
    if (fs::is_directory(path, error))
        ThrowFileError(path, "is a folder, not a file");
#ifdef _WIN32
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        ThrowFileError(path, "cannot open for reading");
    LARGE_INTEGER size;
    bool sized = GetFileSizeEx(file, &size) != 0;
    m_size = sized ? uint64_t(size.QuadPart) : 0;
    if (sized && m_size != 0) {
        m_mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (m_mapping != nullptr)
            m_data = static_cast<const unsigned char*>(MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, 0));
    }
    CloseHandle(file);
    if (!sized || (m_size != 0 && m_data == nullptr)) {
        if (m_mapping != nullptr)
            CloseHandle(m_mapping);
        ThrowFileError(path, "cannot read");
    }
#else
    int file = open(path.c_str(), O_RDONLY);
    if (file < 0)
        ThrowFileError(path, "cannot open for reading");
    struct stat info;
    bool sized = fstat(file, &info) == 0;
    m_size = sized ? uint64_t(info.st_size) : 0;
    void* data = nullptr;
    if (sized && m_size != 0)
        data = mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, file, 0);
    close(file);
    if (!sized || data == MAP_FAILED)
        ThrowFileError(path, "cannot read");
    m_data = static_cast<const unsigned char*>(data);
#endif
}

MappedFile::~MappedFile()
{
#ifdef _WIN32
    if (m_data != nullptr)
        UnmapViewOfFile(m_data);
    if (m_mapping != nullptr)
        CloseHandle(m_mapping);
#else
    if (m_data != nullptr)
        munmap(const_cast<unsigned char*>(m_data), m_size);
#endif
}

uint64_t GetFileSize(const fs::path& path)
{
    std::error_code error;
    uint64_t size = fs::file_size(path, error);
    if (error)
        ThrowFileError(path, "cannot read its size: " + error.message());
    return size;
}

uint32_t GetLastWriteTime(const fs::path& path)
{
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        ThrowFileError(path, "cannot read its time stamps");
    return ToUnixSeconds(data.ftLastWriteTime);
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        ThrowFileError(path, "cannot read its time stamps");
    return ClampToUint32(info.st_mtime);
#endif
}

std::string DepfileName(const fs::path& path)
{
#ifdef _WIN32
    bool lossy = false;
    std::string name = WideToAnsi(path.native(), &lossy);
    if (lossy)
        return std::string();  // no depfile spelling
    for (char& c : name) {
        if (c == '\\')
            c = '/';
    }
    return name;
#else
    return path.native();
#endif
}

FileInput::FileInput(const fs::path& path) : m_path(path), m_file(OpenFile(path, "rb"))
{
    if (m_file == nullptr)
        throw ToolError{ kExitFileSystem, DisplayPath(path) + ": cannot open for reading" };
}

FileInput::~FileInput()
{
    std::fclose(m_file);
}

size_t FileInput::Read(unsigned char* buffer, size_t capacity)
{
    size_t count = std::fread(buffer, 1, capacity, m_file);
    if (count < capacity && std::ferror(m_file))
        throw ToolError{ kExitFileSystem, DisplayPath(m_path) + ": cannot read" };
    return count;
}

FILE* OpenFile(const fs::path& path, const char* mode)
{
#ifdef _WIN32
    std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

bool SeekFile(FILE* file, uint64_t offset)
{
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool SeekFileEnd(FILE* file)
{
#ifdef _WIN32
    return _fseeki64(file, 0, SEEK_END) == 0;
#else
    return fseeko(file, 0, SEEK_END) == 0;
#endif
}

std::string DisplayPath(const fs::path& path)
{
#ifdef _WIN32
    return WideToAnsi(path.native(), nullptr);
#else
    return path.native();
#endif
}

bool IsStderrTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::string ForTerminal(const std::string& text)
{
#ifdef _WIN32
    UINT console = GetConsoleOutputCP();
    if (console == 0 || console == GetACP() || text.empty())
        return text;
    int wideSize = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(wideSize, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], wideSize);
    int size = WideCharToMultiByte(console, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
    std::string shown(size, '\0');
    WideCharToMultiByte(console, 0, wide.data(), wideSize, &shown[0], size, nullptr, nullptr);
    return shown;
#else
    return text;
#endif
}
