// Icons: an .ico file read with every entry checked, and put into a resource tree as
// one icon group with its images.
#ifndef PE_ICON_RESOURCE_H
#define PE_ICON_RESOURCE_H

#include "pe/ResourceTree.h"

#include <cstdint>
#include <vector>

struct IconImage {
    uint8_t width;      // 0 stands for 256
    uint8_t height;
    uint8_t colorCount;
    uint16_t planes;
    uint16_t bitCount;
    std::vector<uint8_t> bytes;  // the image as the file holds it (BMP without file header, or PNG)
};

// The images of an .ico file. Throws PeError(Malformed or Truncated) for a file that
// is not an icon file, whose directory points outside it, or whose images overlap each
// other or the directory (so the images never hold more bytes than the file).
std::vector<IconImage> ReadIconFile(const std::vector<uint8_t>& file);

// Replaces icon group groupId (in every language) and the images it named with these
// images: the group goes under the language the old one had (neutral if none), the
// images under the lowest icon numbers no other group uses.
void SetIconGroup(ResourceTree& tree, uint16_t groupId, const std::vector<IconImage>& images);

// The icon numbers a group resource names; throws PeError(Malformed) for a damaged one.
std::vector<uint16_t> IconGroupMembers(const std::vector<uint8_t>& group);

#endif
