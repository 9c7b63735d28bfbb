#include "stream/WtMemoryReader.h"

#include <cstring>

WtMemoryReader::WtMemoryReader(const void* start, std::uint32_t count)
    : cursor(static_cast<const unsigned char*>(start)), remaining(count)
{
}

std::uint32_t WtMemoryReader::Read(void* buffer, std::uint32_t count)
{
    const std::uint32_t delivered = count > remaining ? remaining : count;
    // memcpy must not see the null pointer of an empty block, even for 0 bytes.
    if (delivered == 0)
        return 0;
    std::memcpy(buffer, cursor, delivered);
    cursor += delivered;
    remaining -= delivered;
    return delivered;
}
