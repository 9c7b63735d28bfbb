// Feeds arbitrary bytes to the archive reader as if they were an archive resource, and
// inflates every entry it delivers: neither may read outside the bytes, and whatever
// the reader delivers must be something the extractor can write safely.
#include "archive/ArchiveReader.h"
#include "archive/EntryInflation.h"
#include "archive/EntryName.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct DiscardingSink : WtWriter {
    uint32_t Write(const void*, uint32_t count) override { return count; }
};

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    ArchiveReader reader(data, static_cast<uint32_t>(size), 0);
    ArchiveEntry entry;
    uint32_t delivered = 0;
    while (reader.Next(entry)) {
        ++delivered;
        size_t nameLength = std::strlen(entry.name);
        Require(IsSafeEntryName(entry.name, static_cast<uint32_t>(nameLength), 0));
        Require(entry.data >= data && entry.compressedSize <= size - (entry.data - data));
        DiscardingSink sink;
        InflateEntry(entry, sink);
    }
    Require(delivered == reader.GetEntryCount());
    return 0;
}
