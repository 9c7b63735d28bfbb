// What kmarc needs from the file system of the machine it runs on, on Linux and on
// Windows alike. Failures throw ToolError with kExitFileSystem unless noted.
#ifndef KMARC_HOST_FILES_H
#define KMARC_HOST_FILES_H

#include "archive/Deflate.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// A file read from its start in pieces. Throws ToolError (kExitFileSystem) when it
// cannot be opened or read.
class FileInput : public ArchiveInput {
public:
    explicit FileInput(const std::filesystem::path& path);
    ~FileInput();
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;

    // Fills up to capacity bytes; fewer only at the end of the file.
    size_t Read(unsigned char* buffer, size_t capacity) override;

private:
    std::filesystem::path m_path;
    FILE* m_file;
};

// The bytes of a file, mapped rather than read, so that looking through a large archive
// costs address space, not memory. Throws ToolError (kExitFileSystem) when the file
// cannot be opened or mapped.
class MappedFile {
public:
    explicit MappedFile(const std::filesystem::path& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const unsigned char* Data() const { return m_data; }
    uint64_t Size() const { return m_size; }

private:
    const unsigned char* m_data = nullptr;
    uint64_t m_size = 0;
#ifdef _WIN32
    void* m_mapping = nullptr;
#endif
};

// Size of the file (what a link names) in bytes, without reading it.
uint64_t GetFileSize(const std::filesystem::path& path);

// Last write time of the file (what a link names), in seconds since 1970, clamped to
// 32 bits.
uint32_t GetLastWriteTime(const std::filesystem::path& path);

// The path as a depfile names it: forward slashes, the ANSI code page on Windows; empty
// when that code page cannot spell it.
std::string DepfileName(const std::filesystem::path& path);

// fopen for a path that may hold any character the host allows; null on failure.
FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// Positions file at offset, or at its end; false on failure.
bool SeekFile(FILE* file, uint64_t offset);
bool SeekFileEnd(FILE* file);

// The path as text for messages.
std::string DisplayPath(const std::filesystem::path& path);

// Whether stderr is a terminal (progress redraws its line there).
bool IsStderrTerminal();

// Message text (UTF-8 on Linux, the ANSI code page on Windows) in the encoding of the
// terminal stderr shows: the console's output code page on Windows, which often differs
// from the ANSI one; unchanged elsewhere.
std::string ForTerminal(const std::string& text);

#endif
