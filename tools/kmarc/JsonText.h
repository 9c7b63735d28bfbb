// Pieces of JSON text for kmarc's output to scripts (list --json).
#ifndef KMARC_JSON_TEXT_H
#define KMARC_JSON_TEXT_H

#include <cstdint>
#include <string>

// utf8 as a JSON string, quotes included: quote, backslash and control characters
// escaped, everything else as it is.
std::string JsonString(const std::string& utf8);

// Seconds since 1970-01-01 UTC as an ISO 8601 UTC time, "2026-12-09T01:51:26Z".
std::string IsoUtcTime(uint32_t seconds);

#endif
