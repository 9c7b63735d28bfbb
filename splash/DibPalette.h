// Colours for the palette of a bitmap without a colour table. The system's default
// palette supplies only its 20 static colours; the other entries are filled with a
// uniform 6 by 6 by 6 colour cube followed by a grey ramp, so that a true-colour
// picture still finds near colours on a display with 256 colours.
#ifndef SPLASH_DIB_PALETTE_H
#define SPLASH_DIB_PALETTE_H

#include <cstdint>

// Entries in the palette of a bitmap without a colour table.
const uint32_t kFullPaletteSize = 256;

// Entries of the colour cube; the grey ramp follows it.
const uint32_t kHalftoneCubeSize = 216;
const uint32_t kHalftoneGreySteps = 20;

// The index-th colour of the fill (0 for the first entry after the default palette's
// colours): the cube for 0 to 215 with blue varying fastest, then 20 greys that lie
// between the cube's six. Indexes past the ramp repeat it.
void HalftoneColor(uint32_t index, uint8_t& red, uint8_t& green, uint8_t& blue);

#endif // SPLASH_DIB_PALETTE_H
