#include "tools/kmarc/SplashBitmap.h"

#include "splash/DibCheck.h"
#include "splash/DibFormat.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/ToolError.h"

#include <string>

namespace fs = std::filesystem;

namespace {

const size_t kFileHeaderSize = 14;
const size_t kOffBitsField = 10;
const uint16_t kEnglishUs = 0x0409;
// The splash takes the whole picture into memory more than once; a file far beyond its
// largest picture is not read.
const uint64_t kMaxFileSize = uint64_t(kDibMaxImageBytes) + (1u << 20);

[[noreturn]] void Refuse(const fs::path& path, const std::string& why)
{
    throw ToolError{ kExitNotPackable, DisplayPath(path) + ": the splash cannot show this picture: " + why };
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset)
{
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
}

} // namespace

std::vector<uint8_t> ReadSplashBitmap(const fs::path& path)
{
    std::vector<uint8_t> file;
    {
        MappedFile mapped(path);
        if (mapped.Size() > kMaxFileSize)
            Refuse(path, "the file has " + std::to_string(mapped.Size()) + " bytes, more than any picture the splash "
                                                                         "takes");
        file.assign(mapped.Data(), mapped.Data() + mapped.Size());
    }
    if (file.size() < kFileHeaderSize || file[0] != 'B' || file[1] != 'M')
        Refuse(path, "not a BMP file (it does not start with \"BM\"); save the picture as a Windows bitmap");
    std::vector<uint8_t> dib(file.begin() + kFileHeaderSize, file.end());

    // The resource keeps no offset of its pixels: the splash finds them right behind
    // the colour table (or the masks), so the file must have them there. Checked first,
    // since a picture that has them elsewhere makes no sense read the splash's way.
    std::vector<uint8_t> completed = dib;
    CompleteDibHeader(completed.data(), uint32_t(completed.size()));
    DibHeader header;
    if (!ReadDibHeader(completed.data(), uint32_t(completed.size()), header))
        Refuse(path, CheckDib(dib.data(), uint32_t(dib.size())).reason);
    uint64_t expected = kFileHeaderSize + DibPixelOffset(header);
    uint32_t offBits = U32At(file, kOffBitsField);
    if (offBits != expected)
        Refuse(path, "its pixels start at byte " + std::to_string(offBits) + ", not right behind the " +
                         (header.compression == kDibBitfields ? "colour masks" : "colour table") + " at byte " +
                         std::to_string(expected) +
                         " where the splash looks for them; save it with a plain 40-byte header "
                         "(no colour space information)");
    DibVerdict verdict = CheckDib(dib.data(), uint32_t(dib.size()));
    if (verdict.fault != DibFault::None)
        Refuse(path, verdict.reason);
    return dib;
}

void SetSplashBitmap(ResourceTree& resources, std::vector<uint8_t> dib)
{
    uint16_t language = kEnglishUs;
    auto bitmaps = resources.Types().find(kResourceTypeBitmap);
    if (bitmaps != resources.Types().end()) {
        auto splash = bitmaps->second.find(kSplashBitmapId);
        if (splash != bitmaps->second.end() && !splash->second.empty())
            language = splash->second.begin()->first;
    }
    resources.Remove(kResourceTypeBitmap, kSplashBitmapId);
    resources.Set(kResourceTypeBitmap, kSplashBitmapId, language, { std::move(dib), 0 });
}
