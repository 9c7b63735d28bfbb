// The one way the PE code reports a file it cannot take: what kind of fault it is, for
// callers that decide on it, and a sentence for the person who gave the file.
#ifndef PE_PE_ERROR_H
#define PE_PE_ERROR_H

#include <stdexcept>
#include <string>

enum class PeFault {
    NotPe,       // no DOS or PE signature: not an executable at all
    NotPe32,     // an executable, but not a 32-bit (PE32, x86) one
    Truncated,   // a header, section or table runs past the end of the file
    Malformed,   // a field holds a value no sound image has
    Signed,      // the file carries a certificate table that a change would break
    NoRoom,      // the change does not fit the image (no free section header, sizes over 4 GiB)
};

class PeError : public std::runtime_error {
public:
    PeError(PeFault fault, const std::string& message) : std::runtime_error(message), m_fault(fault) {}
    PeFault Fault() const { return m_fault; }

private:
    PeFault m_fault;
};

#endif
