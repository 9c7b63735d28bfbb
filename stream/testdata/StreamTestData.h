// Test files of stream/testdata, compiled into the test executable.
#ifndef STREAM_TEST_DATA_H
#define STREAM_TEST_DATA_H

#include <cstdint>

struct StreamTestFile
{
    const char* name;
    const unsigned char* bytes;
    std::uint32_t size;
};

// Null when no file of that name was embedded.
const StreamTestFile* FindStreamTestFile(const char* name);

#endif
