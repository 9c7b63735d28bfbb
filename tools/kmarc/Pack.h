// Packing a payload folder into an archive file: the library side of `kmarc pack`, for
// every command that needs an archive built from a folder.
#ifndef KMARC_PACK_H
#define KMARC_PACK_H

#include "archive/Deflate.h"
#include "archive/ArchiveWriter.h"
#include "tools/kmarc/CodePage.h"
#include "tools/kmarc/ParallelPack.h"
#include "tools/kmarc/Progress.h"

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

// A folder's files, read and checked, ready to pack.
struct PackPlan {
    std::filesystem::path folder;
    // One entry per regular file below folder, named by its path relative to folder with
    // backslashes, in byte order of the names. The three time stamps of an entry all
    // hold the file's last write time (no later than SOURCE_DATE_EPOCH when that is
    // set), so the same files give the same archive bytes.
    std::vector<PackItem> files;
    // Every folder whose listing was read (for a depfile).
    std::vector<std::filesystem::path> folders;
    // Folders below folder with no file anywhere below them: an archive cannot keep them.
    std::vector<std::filesystem::path> emptyFolders;
    // The files' sizes added up.
    uint64_t bytes = 0;
};

// Walks folder and checks every name (code page, characters, length, case clashes,
// links) and every size; each fault is appended to faults as "PATH: why" and the walk
// goes on, so that all are known before a byte is compressed. Throws ToolError only
// for what stops the walk itself (folder missing, a malformed SOURCE_DATE_EPOCH).
PackPlan PlanFolder(const std::filesystem::path& folder, const PackOptions& options, std::vector<std::string>& faults);

// Throws ToolError (kExitNotPackable) with every fault, one per line, when there is any.
void RefuseFaults(const std::vector<std::string>& faults);

// A warning on stderr for each empty folder of plan.
void WarnEmptyFolders(const PackPlan& plan);

// Packs the planned files into output on options.jobs threads; progress counts them
// and their bytes. label names the archive in messages. Throws ToolError.
void PackPlanned(const PackPlan& plan, const PackOptions& options, ArchiveOutput& output,
                 const std::filesystem::path& label, Progress& progress);

// Plans, checks and packs folder into the file archive, which is replaced only when
// everything went well; writes options.depfile when given. Throws ToolError.
void PackArchive(const std::filesystem::path& archive, const std::filesystem::path& folder,
                 const PackOptions& options);

// Appends what plan read to inputs, for a depfile: every folder whose listing was read
// and every file it packs.
void AddPlanInputs(const PackPlan& plan, std::vector<std::filesystem::path>& inputs);

// Writes depfile, a Ninja/Make depfile with target as its one target and inputs as its
// prerequisites. A path Ninja cannot read is named through a symbolic link of a plain
// name in <depfile>.links, or where none can be made as <depfile>.unlisted, which never
// exists (with a note on stderr). Throws ToolError.
void WriteDepfile(const std::filesystem::path& depfile, const std::filesystem::path& target,
                  const std::vector<std::filesystem::path>& inputs);

#endif
