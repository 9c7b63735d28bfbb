// PNG encoding of a true-colour picture, for saving screenshots of the splash.
#ifndef SPLASH_PNG_IMAGE_H
#define SPLASH_PNG_IMAGE_H

#include <cstdint>
#include <vector>

// Encodes width by height pixels given as red, green, blue bytes, rows top first and
// without padding, as a complete PNG file: 8 bits per channel, no alpha, not
// interlaced, every row unfiltered, one compressed data chunk. Returns an empty
// vector when the picture is empty, rgb holds fewer bytes than it needs, or
// compression fails.
std::vector<unsigned char> EncodePng(uint32_t width, uint32_t height, const std::vector<unsigned char>& rgb);

#endif // SPLASH_PNG_IMAGE_H
