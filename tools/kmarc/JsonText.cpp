#include "tools/kmarc/JsonText.h"

#include <cstdio>

namespace {

const uint32_t kSecondsPerDay = 86400;
const unsigned char kFirstPrintable = 0x20;

} // namespace

std::string JsonString(const std::string& utf8)
{
    std::string text = "\"";
    for (char c : utf8) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (byte < kFirstPrintable) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
            text += escaped;
        } else {
            text += c;
        }
    }
    return text + "\"";
}

std::string IsoUtcTime(uint32_t seconds)
{
    // Days to a civil date in the proleptic Gregorian calendar, counted in eras of 400
    // years from 0000-03-01 so that the leap day ends a year.
    int64_t days = seconds / kSecondsPerDay + 719468;
    uint32_t ofDay = seconds % kSecondsPerDay;
    int64_t era = days / 146097;
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    int day = int(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    int month = int(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02u:%02u:%02uZ", year, month, day, ofDay / 3600,
                  ofDay / 60 % 60, ofDay % 60);
    return text;
}
