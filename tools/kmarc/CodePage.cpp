#include "tools/kmarc/CodePage.h"

#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/ToolError.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <locale.h>
#include <wctype.h>
#endif

namespace fs = std::filesystem;

namespace {

const unsigned kFirstHighByte = 0x80;
// C1 control characters: some hosts give the unused bytes of a code page these, others
// nothing; they are no file name characters on either, so kmarc takes them as unused.
const char32_t kFirstC1 = 0x80;
const char32_t kLastC1 = 0x9F;
const char32_t kLastCodePoint = 0x10FFFF;
const char32_t kInvalid = 0xFFFFFFFF;

bool IsSupported(unsigned number)
{
    return number == 874 || (number >= 1250 && number <= 1258);
}

std::string Hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

#ifdef _WIN32
// The characters of a UTF-16 name; an unpaired surrogate gives kInvalid.
std::u32string Decode(const std::wstring& text)
{
    std::u32string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kInvalid;
        }
        out += c;
    }
    return out;
}

char32_t CharacterOfByte(unsigned number, unsigned char byte)
{
    wchar_t wide[2];
    int count = MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(&byte), 1, wide, 2);
    return count == 1 ? char32_t(wide[0]) : 0;
}

char32_t Upper(char32_t c)
{
    if (c > 0xFFFF)
        return c;
    wchar_t in = wchar_t(c);
    wchar_t out = in;
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1) != 1)
        return c;
    return out;
}
#else
// The characters of a UTF-8 name; each byte that does not begin a valid sequence
// gives kInvalid.
std::u32string Decode(const std::string& text)
{
    static const char32_t kSmallest[] = { 0, 0x80, 0x800, 0x10000 };
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        char32_t c = lead;
        if (lead >= 0xC0 && lead <= 0xDF) {
            extra = 1;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF7) {
            extra = 3;
            c = lead & 0x07;
        }
        bool valid = lead < 0x80 || extra > 0;
        for (size_t k = 1; valid && k <= extra; ++k) {
            unsigned char next = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
            valid = (next & 0xC0) == 0x80;
            c = c << 6 | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past the last code point are not UTF-8.
        if (valid && (c < kSmallest[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > kLastCodePoint))
            valid = false;
        out += valid ? c : kInvalid;
        i += valid ? extra + 1 : 1;
    }
    return out;
}

char32_t CharacterOfByte(unsigned number, unsigned char byte)
{
    std::string name = "CP" + std::to_string(number);
    iconv_t converter = iconv_open("UTF-32LE", name.c_str());
    if (converter == iconv_t(-1))
        return 0;
    char in = char(byte);
    unsigned char out[8] = {};
    char* inPointer = &in;
    char* outPointer = reinterpret_cast<char*>(out);
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    if (result == size_t(-1) || sizeof out - outLeft != 4)
        return 0;
    return char32_t(out[0]) | char32_t(out[1]) << 8 | char32_t(out[2]) << 16 | char32_t(out[3]) << 24;
}

char32_t Upper(char32_t c)
{
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    if (utf8 != locale_t(0))
        return char32_t(towupper_l(wint_t(c), utf8));
    // Without a UTF-8 locale: ASCII and the Latin-1 letters, which cover code page 1252.
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 0x20;
    return c;
}
#endif

} // namespace

CodePage::CodePage(unsigned number) : m_number(number)
{
    if (!IsSupported(number))
        throw ToolError{ kExitUsage, "code page " + std::to_string(number) + " is not supported; kmarc knows " +
                                         kSupportedCodePages };
    for (unsigned byte = 0; byte < 256; ++byte) {
        char32_t c = byte < kFirstHighByte ? char32_t(byte) : CharacterOfByte(number, static_cast<unsigned char>(byte));
        m_characters[byte] = (c >= kFirstC1 && c <= kLastC1) ? 0 : c;
    }
    if (m_characters[0xE9] == 0 && m_characters[0xC0] == 0 && m_characters[0xA0] == 0)
        throw ToolError{ kExitUsage, "code page " + std::to_string(number) + " is not available on this system" };
    for (unsigned byte = 0; byte < 256; ++byte) {
        m_upper[byte] = static_cast<unsigned char>(byte);
        if (m_characters[byte] == 0)
            continue;
        char32_t upper = Upper(m_characters[byte]);
        for (unsigned other = 0; other < 256; ++other) {
            if (upper != m_characters[byte] && m_characters[other] == upper)
                m_upper[byte] = static_cast<unsigned char>(other);
        }
    }
}

std::string CodePage::FromHost(const fs::path& component, const fs::path& path) const
{
    std::string bytes;
    for (char32_t c : Decode(component.native())) {
        if (c == kInvalid) {
#ifdef _WIN32
            const char* what = "a broken UTF-16 surrogate";
#else
            const char* what = "bytes that are not UTF-8";
#endif
            throw ToolError{ kExitNotPackable, DisplayPath(path) + ": name has " + what };
        }
        unsigned byte = 0;
        while (byte < 256 && (m_characters[byte] != c || c == 0))
            ++byte;
        if (c == 0 || byte == 256) {
#ifdef _WIN32
            // The console could not show the character either.
            std::string shown = "U+" + Hex(c, 4);
#else
            std::string shown;
            AppendUtf8(shown, c);
            shown = "'" + shown + "' (U+" + Hex(c, 4) + ")";
#endif
            throw ToolError{ kExitNotPackable, DisplayPath(path) + ": name has " + shown + ", which code page " +
                                                   std::to_string(m_number) +
                                                   " cannot hold; rename it or choose another --codepage" };
        }
        bytes += char(byte);
    }
    return bytes;
}

bool CodePage::ToHost(const std::string& bytes, fs::path& component) const
{
    if (FindUndefined(bytes) != std::string::npos)
        return false;
#ifdef _WIN32
    std::wstring wide;
    for (unsigned char byte : bytes) {
        char32_t c = m_characters[byte];
        if (c > 0xFFFF) {
            wide += wchar_t(0xD800 + ((c - 0x10000) >> 10));
            wide += wchar_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += wchar_t(c);
        }
    }
    component = fs::path(wide);
#else
    std::string text;
    for (unsigned char byte : bytes)
        AppendUtf8(text, m_characters[byte]);
    component = fs::path(text);
#endif
    return true;
}

std::string CodePage::Display(const std::string& bytes) const
{
#ifdef _WIN32
    std::string shown;
    for (unsigned char byte : bytes) {
        fs::path one;
        shown += ToHost(std::string(1, char(byte)), one) ? DisplayPath(one) : "\\x" + Hex(byte, 2);
    }
    return shown;
#else
    return Utf8(bytes);
#endif
}

std::string CodePage::Utf8(const std::string& bytes) const
{
    std::string shown;
    for (unsigned char byte : bytes) {
        if (m_characters[byte] != 0 || byte == 0)
            AppendUtf8(shown, m_characters[byte]);
        else
            shown += "\\x" + Hex(byte, 2);
    }
    return shown;
}

std::string CodePage::Fold(const std::string& bytes) const
{
    std::string folded = bytes;
    for (char& c : folded)
        c = char(m_upper[static_cast<unsigned char>(c)]);
    return folded;
}

size_t CodePage::FindUndefined(const std::string& bytes) const
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != 0 && m_characters[static_cast<unsigned char>(bytes[i])] == 0)
            return i;
    }
    return std::string::npos;
}
