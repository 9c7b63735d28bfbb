// A file kmarc writes: the bytes go to "<path>.part" beside it, which is renamed over
// path only when everything was written, and taken away otherwise, including when the
// run is interrupted (SIGINT, SIGTERM or SIGHUP on Linux; Ctrl-C, Ctrl-Break or closing
// the console window on Windows).
//
// The output folder may be shared with other users (a build folder on a shared drive,
// /tmp): "<path>.part" is created exclusively and never through a link, so nothing that
// someone else put under that name is ever written to, followed or replaced. A ".part"
// that is already there (a planted link, or the remains of a run that was killed
// outright) is refused with a message that names it; it is never removed.
//
// Failures throw ToolError with kExitFileSystem; the message names the file. One object
// is used by one thread at a time.
#ifndef KMARC_OUTPUT_FILE_H
#define KMARC_OUTPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class OutputFile {
public:
    // Creates "<path>.part" (refused if anything has that name) and arms its removal
    // on an interrupt.
    explicit OutputFile(const std::filesystem::path& path);
    // Removes "<path>.part" unless Commit succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Appends the bytes at the end of what was written. Throws on a write failure.
    void Append(const void* bytes, size_t count);
    // Writes over bytes already appended (offset + count must not pass the end).
    // Throws on a write failure or a range past the end.
    void WriteAt(uint64_t offset, const void* bytes, size_t count);
    // Reads back count bytes at offset (offset + count must not pass the end), for a
    // file that is a scratch space. Throws on a read failure or a range past the end.
    void ReadAt(uint64_t offset, void* bytes, size_t count);
    // Bytes appended so far.
    uint64_t Size() const { return m_size; }

    // Writes out what is buffered, closes the file and renames it over path (a file or
    // link under path is replaced, never followed). Throws if any of that fails; the
    // ".part" is then removed by the destructor.
    void Commit();

    const std::filesystem::path& PartialPath() const { return m_partial; }

private:
    void Flush();
    void CloseHandle();

    std::filesystem::path m_path;
    std::filesystem::path m_partial;
    std::vector<unsigned char> m_buffer;
    uint64_t m_size = 0;
    uint64_t m_flushed = 0;
    int m_slot = -1;
    bool m_committed = false;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_handle = -1;
#endif
};

// The suffix of the file an OutputFile writes.
extern const char kOutputPartialSuffix[];

// Replaces path with bytes through an OutputFile.
void WriteWholeFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);

#endif
