// The one check that decides whether an archive entry name may be written below the
// setup folder. The archive reader applies it to every entry; the launcher and the
// archive tool get it through the reader and never write a name it refuses.
#ifndef ARCHIVE_ENTRY_NAME_H
#define ARCHIVE_ENTRY_NAME_H

#include <cstdint>

// Longest output path the extractor handles: its path buffers hold 512 bytes with the
// terminating zero.
const uint32_t kMaxOutputPathLength = 511;

// Longest path that Windows' ANSI file calls take (MAX_PATH less the terminating zero):
// a longer output path can never be created, whatever the extractor's buffers hold.
const uint32_t kMaxAnsiPathLength = 259;

// The setup folder's path as a packer has to assume it: a temporary folder of about
// 100 bytes, then "KMGSetup", up to five digits and a backslash.
const uint32_t kTypicalSetupFolderLength = 100 + 8 + 5 + 1;

enum class EntryNameFault {
    None,
    Empty,               // no name at all
    TooLong,             // folder and name together pass the longest output path
    EmptyComponent,      // a leading, trailing or doubled backslash
    ForbiddenCharacter,  // a control character or one of < > : " / | ? *
    TrailingDotOrBlank,  // a component ends in '.' or ' ' ("." and ".." among them)
    DeviceName,          // a component names a device such as NUL or COM1
};

// Whether Windows refuses c in a file name: a control character or one of < > : " / | ? *.
bool IsForbiddenNameCharacter(unsigned char c);

// Short English description of a fault, for tools and tests.
const char* DescribeEntryNameFault(EntryNameFault fault);

// Checks the length bytes at name (no terminating zero needed): they must form a
// relative path that stays inside the folder it is appended to: one or more
// backslash-separated components, none empty, none holding a control character or any
// other character Windows forbids in file names, none ending in a dot or a blank
// (Windows would silently drop those), none naming a device; and folderLength + length,
// the length of the resulting output path, must be at most maxPathLength. folderLength
// counts the folder's path with its trailing backslash; 0 checks the name on its own.
// When where is given and the fault lies in a component, it receives the offset of
// that component's first byte.
EntryNameFault CheckEntryName(const char* name, uint32_t length, uint32_t folderLength,
                              uint32_t maxPathLength = kMaxOutputPathLength, uint32_t* where = nullptr);

// CheckEntryName with kMaxOutputPathLength, reduced to its verdict.
inline bool IsSafeEntryName(const char* name, uint32_t length, uint32_t folderLength)
{
    return CheckEntryName(name, length, folderLength) == EntryNameFault::None;
}

#endif
