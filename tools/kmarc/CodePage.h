// The code page an archive stores its names in. An archive holds bytes; which
// characters they are is fixed when it is packed (the launcher reads them with the
// ANSI calls of the machine it runs on). Only single-byte Windows code pages are
// supported, so that a byte is a character and a backslash byte is always a separator.
#ifndef KMARC_CODE_PAGE_H
#define KMARC_CODE_PAGE_H

#include <cstdint>
#include <filesystem>
#include <string>

// Windows-1252, the code page of English, French, German and Italian.
const unsigned kDefaultCodePage = 1252;

// The code pages kmarc converts names to and from, for --help and messages.
const char* const kSupportedCodePages = "874, 1250 to 1258";

class CodePage {
public:
    // Throws ToolError (usage) for a code page that is not supported.
    explicit CodePage(unsigned number);

    unsigned Number() const { return m_number; }

    // The bytes of one host file or folder name in this code page. Throws ToolError
    // (not packable) naming path when a character has no exact form in it.
    std::string FromHost(const std::filesystem::path& component, const std::filesystem::path& path) const;

    // One archive name component as a host name. Returns false when a byte has no
    // character in this code page.
    bool ToHost(const std::string& bytes, std::filesystem::path& component) const;

    // Archive name bytes as text for messages and listings: UTF-8 on Linux, the ANSI
    // code page on Windows. A byte without a character shows as \xNN.
    std::string Display(const std::string& bytes) const;

    // Archive name bytes as UTF-8 on every host, for output to scripts. A byte without a
    // character shows as \xNN.
    std::string Utf8(const std::string& bytes) const;

    // The name with every letter in capitals, the way Windows compares file names.
    std::string Fold(const std::string& bytes) const;

    // Index of the first byte that has no character in this code page, or npos.
    size_t FindUndefined(const std::string& bytes) const;

private:
    unsigned m_number;
    char32_t m_characters[256];  // character of each byte, 0 where the byte has none
    unsigned char m_upper[256];
};

#endif
