#include "tools/kmarc/EmbedInputs.h"

#include "pe/ByteView.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/ToolError.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

// The string table starts with its own length, these four bytes included.
const uint32_t kStringTableLengthSize = 4;
// A certificate table starts on an 8-byte boundary; the zeros before it stay when a
// signature is removed from a file with a symbol table.
const uint64_t kPaddingAllowance = 8;

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// End of the symbol table and its string table, or 0 when the file has none behind its
// sections. A string table whose length field does not fit the file ends the symbols
// at their records.
uint64_t EndOfSymbols(const PeImage& image)
{
    uint64_t start = image.SymbolTablePointer();
    const std::vector<uint8_t>& bytes = image.Bytes();
    ByteView view(bytes);
    if (start == 0 || start < image.EndOfSections() || !view.Holds(image.CoffHeaderOffset() + kCoffNumberOfSymbols, 4))
        return 0;
    uint32_t symbols = view.U32(image.CoffHeaderOffset() + kCoffNumberOfSymbols, "symbol count");
    uint64_t strings = start + kSymbolRecordSize * uint64_t(symbols);
    if (strings > bytes.size())
        return 0;
    if (!view.Holds(size_t(strings), kStringTableLengthSize))
        return strings;
    uint32_t length = view.U32(size_t(strings), "string table length");
    if (length < kStringTableLengthSize || length > bytes.size() - strings)
        return strings;
    return strings + length;
}

bool AllZero(const std::vector<uint8_t>& bytes, uint64_t from)
{
    return std::all_of(bytes.begin() + from, bytes.end(), [](uint8_t byte) { return byte == 0; });
}

} // namespace

uint64_t EndOfExecutable(const PeImage& image)
{
    const std::vector<uint8_t>& bytes = image.Bytes();
    uint64_t end = std::max<uint64_t>(image.EndOfSections(), EndOfSymbols(image));
    if (image.HasCertificate()) {
        PeDataDirectory table = image.Directory(kPeDirSecurity);
        end = std::max<uint64_t>(end, uint64_t(table.address) + table.size);
    }
    end = std::min<uint64_t>(end, bytes.size());
    if (bytes.size() - end < kPaddingAllowance && AllZero(bytes, end))
        return bytes.size();
    return end;
}

void CheckNothingAppended(const PeImage& image, const std::string& label)
{
    uint64_t end = EndOfExecutable(image);
    uint64_t extra = image.Bytes().size() - end;
    if (extra == 0)
        return;
    throw ToolError{ kExitNotLauncher,
                     label + ": " + std::to_string(extra) + (extra == 1 ? " byte follows" : " bytes follow") +
                         " the end of the executable (at offset " + Hex(end) +
                         "); the setup would carry them along. Take the launcher as the kit ships it "
                         "(sha256sum -c SHA256SUMS); nothing written" };
}

bool GetFileIdentity(const fs::path& path, FileIdentity& identity)
{
#ifdef _WIN32
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    BOOL known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!known)
        return false;
    identity.device = information.dwVolumeSerialNumber;
    identity.index = uint64_t(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return true;
#else
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return false;
    identity.device = static_cast<uint64_t>(status.st_dev);
    identity.index = static_cast<uint64_t>(status.st_ino);
    return true;
#endif
}

void CheckOutputIsNoInput(const fs::path& output, const std::vector<NamedInput>& inputs, const fs::path& payload)
{
    FileIdentity target;
    if (GetFileIdentity(output, target)) {
        for (const NamedInput& input : inputs) {
            FileIdentity identity;
            if (!input.path.empty() && GetFileIdentity(input.path, identity) && identity == target)
                throw ToolError{ kExitUsage, "-o " + DisplayPath(output) + " is " + input.role + " " +
                                                 DisplayPath(input.path) +
                                                 "; writing the setup would replace it. Name another file" };
        }
    }
    // The output and every folder above it that exists, compared with the payload folder.
    FileIdentity folder;
    if (!GetFileIdentity(payload, folder))
        return;
    std::error_code error;
    fs::path absolute = fs::absolute(output, error);
    if (error)
        return;
    for (fs::path at = absolute;; at = at.parent_path()) {
        FileIdentity identity;
        if (GetFileIdentity(at, identity) && identity == folder)
            throw ToolError{ kExitUsage, "-o " + DisplayPath(output) + " lies inside the payload folder " +
                                             DisplayPath(payload) +
                                             "; the setup would replace a payload file or be packed into the next "
                                             "setup. Write it outside the payload folder" };
        if (at == at.parent_path() || !at.has_relative_path())
            return;
    }
}
