// Packing a payload folder into an archive file: the library side of `kmarc pack`, for
// every command that needs an archive built from a folder.
#ifndef KMARC_PACK_H
#define KMARC_PACK_H

#include "archive/Deflate.h"
#include "tools/kmarc/CodePage.h"

#include <filesystem>
#include <vector>

// The smallest archives (Deflate.h: 0 to 9 are zlib's levels, 10 to 12 stronger).
const int kDefaultLevel = kMaxDeflateLevel;

struct PackOptions {
    // Compression level, 0 to 12 (Deflate.h).
    int level = kDefaultLevel;
    // Files added at the top level under their own names unless the folder has a
    // top-level entry of that name (compared without regard to case).
    std::vector<std::filesystem::path> addMissing;
    // The code page the archive stores its names in (CodePage.h).
    unsigned codepage = kDefaultCodePage;
    // When not empty, a Ninja/Make depfile naming every file and folder that was read.
    std::filesystem::path depfile;
    // No progress lines, notes or warnings on stderr (--quiet); errors still go there.
    bool quiet = false;
    // Files compressed at once (-j); 0 means one per processor. The archive's bytes do
    // not depend on it.
    unsigned jobs = 0;
};

// One entry per regular file below folder, named by its path relative to folder with
// backslashes, in byte order of the names. The three time stamps of an entry all hold
// the file's last write time (no later than SOURCE_DATE_EPOCH when that is set), so the
// same files give the same archive bytes. The archive is replaced only when everything
// went well. Throws ToolError.
void PackArchive(const std::filesystem::path& archive, const std::filesystem::path& folder,
                 const PackOptions& options);

// The same archive, in memory, for commands that put it somewhere else (options.depfile
// is not written).
std::vector<unsigned char> PackFolder(const std::filesystem::path& folder, const PackOptions& options);

#endif
