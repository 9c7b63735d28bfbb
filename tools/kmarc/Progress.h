// A progress line on stderr for the commands that walk many entries.
#ifndef KMARC_PROGRESS_H
#define KMARC_PROGRESS_H

#include "tools/kmarc/HostFiles.h"

#include <cstddef>
#include <iostream>
#include <string>

const size_t kProgressWidth = 78;

// A progress line on stderr, shown only when stderr is a terminal so that logs and
// pipes get nothing but the results, and never with --quiet.
class Progress {
public:
    Progress(const char* verb, size_t total, bool quiet)
        : m_verb(verb), m_total(total), m_shown(!quiet && IsStderrTerminal())
    {
    }
    ~Progress()
    {
        if (m_shown)
            std::cerr << '\r' << std::string(kProgressWidth, ' ') << '\r' << std::flush;
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Step(const std::string& name)
    {
        if (!m_shown)
            return;
        std::string line = m_verb + " " + std::to_string(++m_done) + "/" + std::to_string(m_total) + " " + name;
        line.resize(kProgressWidth, ' ');
        std::cerr << '\r' << line << std::flush;
    }

private:
    std::string m_verb;
    size_t m_total;
    size_t m_done = 0;
    bool m_shown;
};

#endif
