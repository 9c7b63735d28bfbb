// Writes a changed copy of a 32-bit executable: new resources, or no certificate
// table. Everything else stays as it was, byte for byte, except the header fields that
// must follow the change (section table, image size, size of initialized data, data
// directories, symbol table position, checksum).
#ifndef PE_PE_WRITER_H
#define PE_PE_WRITER_H

#include "pe/ByteSink.h"
#include "pe/PeImage.h"
#include "pe/ResourceTree.h"

#include <cstdint>
#include <vector>

// The image with its resources replaced by tree. The resource section is laid out
// again where it is, and the sections behind it move up or down when only sections
// whose contents do not depend on their own address follow it (the base relocations,
// discardable sections such as debug data); otherwise a new resource section goes at
// the end of the image and the old one stays unused. Throws PeError(Signed) when the
// image carries a certificate table (the change would break the signature: strip it
// first), PeError(NoRoom) when a new section header does not fit the headers.
std::vector<uint8_t> WithResources(const PeImage& image, const ResourceTree& tree);

// The same file written to out, which must be empty: resources with a source are
// streamed into it, so memory does not grow with their size. The checksum is written
// last, over bytes already written.
void WriteWithResources(const PeImage& image, const ResourceTree& tree, ByteSink& out);

// The image without its certificate table: the table's bytes are cut from the end of
// the file, with the zeros that aligned it when nothing but they lie between the
// sections and the table, and its data directory is cleared. Throws PeError(Malformed) when the table
// is not the last thing in the file.
std::vector<uint8_t> WithoutCertificate(const PeImage& image);

#endif
