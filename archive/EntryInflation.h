// Inflates one archive entry and judges its stream, for the tools that must tell a sound
// entry from a damaged one (the launcher's own extraction does not look).
#ifndef ARCHIVE_ENTRY_INFLATION_H
#define ARCHIVE_ENTRY_INFLATION_H

#include "archive/ArchiveEntry.h"
#include "stream/WtStream.h"

enum class EntryDamage {
    None,
    StreamBroken,   // the zlib stream is corrupt, cut short or fails its checksum
    SizeMismatch,   // the stream ends cleanly but not at the recorded size
};

const char* DescribeEntryDamage(EntryDamage damage);

// Inflates the entry's compressed bytes into sink, in pieces of at most 100 bytes, and
// stops one byte past the recorded size so a stream that inflates to far more than it
// claims costs no more than the claim. Returns None when the stream ended cleanly after
// exactly uncompressedSize bytes; an entry whose sizes are both 0 is an empty file and
// is sound. Exceptions from the sink and the inflater (WtStreamException objects) pass
// out unchanged.
EntryDamage InflateEntry(const ArchiveEntry& entry, WtWriter& sink);

#endif
