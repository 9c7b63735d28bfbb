#include "splash/DibPalette.h"

namespace {

const uint32_t kCubeLevels = 6;
const uint32_t kCubeStep = 51; // 255 / (kCubeLevels - 1)

} // namespace

void HalftoneColor(uint32_t index, uint8_t& red, uint8_t& green, uint8_t& blue)
{
    if (index < kHalftoneCubeSize) {
        red = uint8_t(index / (kCubeLevels * kCubeLevels) * kCubeStep);
        green = uint8_t(index / kCubeLevels % kCubeLevels * kCubeStep);
        blue = uint8_t(index % kCubeLevels * kCubeStep);
        return;
    }
    // Steps of 255/21 never meet a multiple of 51, so no grey repeats one of the cube.
    uint32_t step = (index - kHalftoneCubeSize) % kHalftoneGreySteps + 1;
    uint8_t grey = uint8_t(step * 255 / (kHalftoneGreySteps + 1));
    red = green = blue = grey;
}
