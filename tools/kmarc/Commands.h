// The kmarc commands besides pack (tools/kmarc/Pack.h). Each returns normally on
// success and throws ToolError with the documented exit code otherwise; messages about
// single entries go to stderr as they are found.
#ifndef KMARC_COMMANDS_H
#define KMARC_COMMANDS_H

#include "tools/kmarc/CodePage.h"

#include <filesystem>
#include <ostream>

// What list, verify and extract take besides their paths.
struct ReadOptions {
    // The code page the archive stores its names in (CodePage.h).
    unsigned codepage = kDefaultCodePage;
    // --quiet: no progress on stderr.
    bool quiet = false;
    // list --json: one JSON document instead of lines.
    bool json = false;
};

// One line per entry on out: uncompressed size, compressed size, name. With
// options.json, one JSON document in UTF-8 instead: {"file": PATH, "archives": [...]},
// each archive {"archive": NAME or null for an archive file, "language": NUMBER or
// null, "size": BYTES, "entries": [...]}, each entry {"entry": NAME, "size": BYTES,
// "compressedSize": BYTES, "offset": BYTES, "time": "YYYY-MM-DDTHH:MM:SSZ"} (offset:
// where its stream begins in the archive; time: its last write time). Each command
// also takes a setup executable: list shows a line per archive resource (name,
// language, size, entry count) before its entries, verify checks every archive
// resource, extract writes each archive below a folder of its name.
void ListArchive(const std::filesystem::path& archive, const ReadOptions& options, std::ostream& out);

// Inflates every entry and checks every name by the rules pack follows; reports each
// fault on stderr and a summary line on out.
void VerifyArchive(const std::filesystem::path& archive, const ReadOptions& options, std::ostream& out);

// Writes every entry's file below folder, names converted from the code page. A damaged
// archive is refused before anything is written; a damaged entry, or any other failure,
// ends the run and takes away every file and folder it created.
void ExtractArchive(const std::filesystem::path& archive, const std::filesystem::path& folder,
                    const ReadOptions& options);

#endif
