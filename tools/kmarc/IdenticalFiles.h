// Files of the same contents, found so that an archive stores their stream once: a
// directory record locates its entry's zlib stream by offset and size alone, so any
// number of records may name one stream, and every reader (the launcher's among them)
// unpacks each of them in full.
#ifndef KMARC_IDENTICAL_FILES_H
#define KMARC_IDENTICAL_FILES_H

#include "tools/kmarc/ParallelPack.h"

#include <cstddef>
#include <vector>

// What FindIdenticalFiles gives a file whose contents no earlier file has.
const size_t kNoEarlierCopy = static_cast<size_t>(-1);

// For each item, the index of the first earlier item whose file holds the same bytes,
// or kNoEarlierCopy. Only files of equal size are read; they are grouped by a checksum
// and then compared byte for byte, so two files are never taken for equal by chance.
// A file that cannot be read or sized counts as unlike every other (packing it then
// reports why).
std::vector<size_t> FindIdenticalFiles(const std::vector<PackItem>& items);

#endif
