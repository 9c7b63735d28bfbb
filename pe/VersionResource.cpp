#include "pe/VersionResource.h"

#include "pe/ByteView.h"

#include <cstdio>

namespace {

const uint32_t kFixedSignature = 0xFEEF04BD;
const uint32_t kFixedStructVersion = 0x00010000;
const uint32_t kFixedFlagsMask = 0x3F;
const uint32_t kFileOsWindows32 = 0x00040004;
const uint32_t kFileTypeApplication = 1;
const uint16_t kBinaryValue = 0;
const uint16_t kTextValue = 1;
const size_t kBlockAlignment = 4;

void AppendText(std::vector<uint8_t>& bytes, const std::u16string& text)
{
    for (char16_t unit : text)
        AppendU16(bytes, static_cast<uint16_t>(unit));
    AppendU16(bytes, 0);
}

// One block: length, value length, type, key, then the value and the children, each
// starting on a 4-byte boundary. The length covers everything but trailing padding.
std::vector<uint8_t> Block(const std::u16string& key, uint16_t type, const std::vector<uint8_t>& value,
                           uint16_t valueLength, const std::vector<std::vector<uint8_t>>& children)
{
    std::vector<uint8_t> bytes;
    AppendU16(bytes, 0);
    AppendU16(bytes, valueLength);
    AppendU16(bytes, type);
    AppendText(bytes, key);
    PadTo(bytes, kBlockAlignment);
    bytes.insert(bytes.end(), value.begin(), value.end());
    for (const std::vector<uint8_t>& child : children) {
        PadTo(bytes, kBlockAlignment);
        bytes.insert(bytes.end(), child.begin(), child.end());
    }
    if (bytes.size() > 0xFFFF)
        throw PeError(PeFault::NoRoom, "the version texts are too long for a version resource");
    PutU16(bytes, 0, static_cast<uint16_t>(bytes.size()));
    return bytes;
}

uint32_t High(const VersionNumber& number)
{
    return uint32_t(number.parts[0]) << 16 | number.parts[1];
}

uint32_t Low(const VersionNumber& number)
{
    return uint32_t(number.parts[2]) << 16 | number.parts[3];
}

} // namespace

bool ParseVersionNumber(const std::string& text, VersionNumber& number)
{
    VersionNumber parsed;
    size_t part = 0;
    size_t at = 0;
    while (true) {
        if (part == 4 || at >= text.size() || text[at] < '0' || text[at] > '9')
            return false;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + uint32_t(text[at++] - '0');
            if (value > 0xFFFF)
                return false;
        }
        parsed.parts[part++] = static_cast<uint16_t>(value);
        if (at == text.size())
            break;
        if (text[at++] != '.')
            return false;
    }
    number = parsed;
    return true;
}

std::vector<uint8_t> BuildVersionResource(const VersionInfo& info)
{
    std::vector<uint8_t> fixed;
    for (uint32_t field : { kFixedSignature, kFixedStructVersion, High(info.fileVersion), Low(info.fileVersion),
                            High(info.productVersion), Low(info.productVersion), kFixedFlagsMask, 0u,
                            kFileOsWindows32, kFileTypeApplication, 0u, 0u, 0u })
        AppendU32(fixed, field);

    std::vector<std::vector<uint8_t>> strings;
    for (const auto& entry : info.strings) {
        std::vector<uint8_t> value;
        AppendText(value, entry.second);
        // The value length of a text counts its characters with the terminating one.
        strings.push_back(Block(entry.first, kTextValue, value, static_cast<uint16_t>(entry.second.size() + 1), {}));
    }
    char tableName[16];
    std::snprintf(tableName, sizeof tableName, "%04X%04X", static_cast<unsigned>(info.language),
                  static_cast<unsigned>(info.codePage));
    std::string ascii(tableName);
    std::vector<uint8_t> table = Block(std::u16string(ascii.begin(), ascii.end()), kTextValue, {}, 0, strings);
    std::vector<uint8_t> stringInfo = Block(u"StringFileInfo", kTextValue, {}, 0, { table });

    std::vector<uint8_t> translation;
    AppendU16(translation, info.language);
    AppendU16(translation, info.codePage);
    std::vector<uint8_t> var = Block(u"Translation", kBinaryValue, translation, 4, {});
    std::vector<uint8_t> varInfo = Block(u"VarFileInfo", kTextValue, {}, 0, { var });

    return Block(u"VS_VERSION_INFO", kBinaryValue, fixed, static_cast<uint16_t>(fixed.size()), { stringInfo, varInfo });
}
