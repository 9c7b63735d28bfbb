// What the stand-in setup program saw and did, as "Key=value" lines for tests and for
// the demonstration. Values are written as they are, up to CR LF, trailing blanks
// included; a key may occur more than once (Installed=).
#ifndef DEMO_STAND_IN_REPORT_H
#define DEMO_STAND_IN_REPORT_H

#include <string>

class StandInReport {
public:
    void Add(const char* key, const std::string& value);
    const std::string& GetText() const { return m_text; }

    // Creates or replaces the file in one step: it appears complete or not at all.
    // Returns false when it cannot be written.
    bool WriteTo(const std::string& path) const;

private:
    std::string m_text;
};

#endif
