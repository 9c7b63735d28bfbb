// The kmarc commands besides pack (tools/kmarc/Pack.h). Each returns normally on success and throws ToolError with
// the documented exit code otherwise; messages about single entries go to stderr as
// they are found.
#ifndef KMARC_COMMANDS_H
#define KMARC_COMMANDS_H

#include <filesystem>
#include <ostream>

// One line per entry on out: uncompressed size, compressed size, name.
void ListArchive(const std::filesystem::path& archive, std::ostream& out);

// Inflates every entry and reports each damaged one; a summary line goes to out.
void VerifyArchive(const std::filesystem::path& archive, std::ostream& out);

// Writes every entry's file below folder. A damaged archive is refused before anything
// is written; a damaged entry stops the run and leaves no file of its own behind.
void ExtractArchive(const std::filesystem::path& archive, const std::filesystem::path& folder);

#endif
