#include "archive/EntryInflation.h"

#include "stream/WtInflate.h"
#include "stream/WtMemoryReader.h"

#include <cstdint>

namespace {

const uint32_t kLargestSize = 0xFFFFFFFFu;
const uint32_t kNoLimit = 0;

} // namespace

const char* DescribeEntryDamage(EntryDamage damage)
{
    switch (damage) {
    case EntryDamage::None: return "sound";
    case EntryDamage::StreamBroken: return "compressed stream is corrupt or cut short";
    case EntryDamage::SizeMismatch: return "inflates to a size other than the recorded one";
    }
    return "unknown damage";
}

EntryDamage InflateEntry(const ArchiveEntry& entry, WtWriter& sink)
{
    if (entry.compressedSize == 0)
        return entry.uncompressedSize == 0 ? EntryDamage::None : EntryDamage::StreamBroken;

    WtMemoryReader source(entry.data, entry.compressedSize);
    WtInflateCodec codec;
    uint32_t limit = entry.uncompressedSize == kLargestSize ? kNoLimit : entry.uncompressedSize + 1;
    uint32_t written = codec.Decode(sink, source, limit);
    if (written > entry.uncompressedSize)
        return EntryDamage::SizeMismatch;
    if (!codec.EndedCleanly())
        return EntryDamage::StreamBroken;
    return written == entry.uncompressedSize ? EntryDamage::None : EntryDamage::SizeMismatch;
}
