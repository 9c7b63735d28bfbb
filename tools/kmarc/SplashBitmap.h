// The vendor's splash picture for kmarc embed --splash: a .bmp file checked against
// what the launcher's splash draws, and put in place of the launcher's own picture.
#ifndef KMARC_SPLASH_BITMAP_H
#define KMARC_SPLASH_BITMAP_H

#include "pe/ResourceTree.h"

#include <cstdint>
#include <filesystem>
#include <vector>

// The splash picture's bitmap resource.
const uint16_t kSplashBitmapId = 134;

// The bitmap of a .bmp file as a bitmap resource stores it (the file without its
// 14-byte file header). Throws ToolError(kExitNotPackable) naming the file and the
// reason when it is no BMP file, its pixels do not start right behind the colour table
// (where the splash looks for them), or the splash would not draw it as it is (CheckDib
// in splash/DibCheck.h); kExitFileSystem when it cannot be read.
std::vector<uint8_t> ReadSplashBitmap(const std::filesystem::path& path);

// Replaces bitmap 134 with dib, under the language the launcher's picture had (the
// splash finds it under any).
void SetSplashBitmap(ResourceTree& resources, std::vector<uint8_t> dib);

#endif
