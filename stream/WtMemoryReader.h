// A reader over a block of memory that belongs to the caller and must outlive it.
#ifndef WT_MEMORY_READER_H
#define WT_MEMORY_READER_H

#include "stream/WtStream.h"

#include <cstdint>

class WtMemoryReader final : public WtReader
{
public:
    WtMemoryReader(const void* start, std::uint32_t count);
    // Not virtual: delete through a WtMemoryReader pointer. Frees nothing.
    ~WtMemoryReader() = default;

    // Delivers min(count, bytes left); once the block is used up, 0. Never throws.
    std::uint32_t Read(void* buffer, std::uint32_t count) override;

private:
    const unsigned char* cursor;
    std::uint32_t remaining;
};

#endif
