// The one check that decides whether an archive entry name may be written below the
// setup folder. The archive reader applies it to every entry; the launcher and the
// archive tool get it through the reader and never write a name it refuses.
#ifndef ARCHIVE_ENTRY_NAME_H
#define ARCHIVE_ENTRY_NAME_H

#include <cstdint>

// Longest output path the extractor handles: its path buffers hold 512 bytes with the
// terminating zero.
const uint32_t kMaxOutputPathLength = 511;

// Returns true when the length bytes at name (no terminating zero needed) form a
// relative path that stays inside the folder it is appended to: one or more
// backslash-separated components, none empty, "." or "..", none holding a slash, a
// colon, a control character or any other character Windows forbids in file names,
// none ending in a dot or a blank (Windows would silently drop those), none naming a
// device such as CON or LPT1; and folderLength + length, the length of the resulting
// output path, is at most kMaxOutputPathLength. folderLength counts the folder's path
// with its trailing backslash; 0 checks the name on its own.
bool IsSafeEntryName(const char* name, uint32_t length, uint32_t folderLength);

#endif
