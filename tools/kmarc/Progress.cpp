#include "tools/kmarc/Progress.h"

#include "tools/kmarc/HostFiles.h"

#include <cstdio>
#include <iostream>

namespace {

const size_t kTerminalWidth = 79;
// A terminal's line is redrawn up to four times a second; a log gets one line a second,
// enough to see a long run move without flooding it.
const std::chrono::milliseconds kTerminalInterval(250);
const std::chrono::milliseconds kLogInterval(1000);
const double kMegabyte = 1000.0 * 1000.0;

std::string Megabytes(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / kMegabyte);
    return text;
}

} // namespace

Progress::Progress(const char* verb, size_t totalItems, bool quiet, uint64_t totalBytes)
    : m_verb(verb), m_totalItems(totalItems), m_totalBytes(totalBytes), m_quiet(quiet),
      m_terminal(!quiet && IsStderrTerminal())
{
    Show(true);
}

Progress::~Progress()
{
    if (m_quiet)
        return;
    if (m_pending && !m_terminal)
        Show(true);
    if (m_terminal)
        std::cerr << '\r' << std::string(kTerminalWidth, ' ') << '\r' << std::flush;
}

void Progress::Step(const std::string& name)
{
    ++m_doneItems;
    m_name = name;
    m_pending = true;
    Show(false);
}

void Progress::AddBytes(uint64_t count)
{
    m_doneBytes += count;
    m_pending = true;
    Show(false);
}

std::string Progress::Line() const
{
    std::string line = m_verb + " " + std::to_string(m_doneItems) + "/" + std::to_string(m_totalItems) + " files";
    if (m_totalBytes != 0) {
        line += ", " + Megabytes(m_doneBytes) + " of " + Megabytes(m_totalBytes) + " MB (" +
                std::to_string(m_doneBytes * 100 / m_totalBytes) + "%)";
    }
    if (!m_name.empty())
        line += ": " + m_name;
    return line;
}

void Progress::Show(bool force)
{
    if (m_quiet)
        return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastShown < (m_terminal ? kTerminalInterval : kLogInterval))
        return;
    m_lastShown = now;
    m_pending = false;
    std::string line = ForTerminal(Line());
    if (m_terminal) {
        // Cut by bytes; a cut inside a character costs only that character.
        line.resize(kTerminalWidth, ' ');
        std::cerr << '\r' << line << std::flush;
    } else {
        std::cerr << "kmarc: " << line << '\n' << std::flush;
    }
}
