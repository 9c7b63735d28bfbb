// Progress of the commands that walk many entries or bytes, on stderr: a line redrawn in
// place on a terminal, plain lines in a log or pipe (CI), each at most a few times a
// second, and nothing at all when quiet.
#ifndef KMARC_PROGRESS_H
#define KMARC_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class Progress {
public:
    // verb says what is done ("packing"); totalItems entries are expected and, when
    // totalBytes is not 0, that many bytes. A line is shown at once.
    // Nothing at all is shown when quiet.
    Progress(const char* verb, size_t totalItems, bool quiet, uint64_t totalBytes = 0);
    // Shows the last state unless it was just shown; clears a terminal's line.
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // One more entry is done; name is message text (UTF-8 on Linux, the ANSI code page
    // on Windows), shown in the terminal's own encoding.
    void Step(const std::string& name);
    // count more bytes are done.
    void AddBytes(uint64_t count);

    // The line as it stands, for the tests: "packing 3/10 files, 1.2 of 5.0 MB (24%): NAME".
    std::string Line() const;

private:
    void Show(bool force);

    std::string m_verb;
    size_t m_totalItems;
    uint64_t m_totalBytes;
    size_t m_doneItems = 0;
    uint64_t m_doneBytes = 0;
    std::string m_name;
    bool m_quiet;
    bool m_terminal;
    bool m_pending = false;  // something changed since the last line
    std::chrono::steady_clock::time_point m_lastShown;
};

#endif
