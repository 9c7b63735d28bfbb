// The splash picture as the system sees it: a packed device-independent bitmap
// loaded from the module's resources, its logical palette, and drawing it.
#ifndef SPLASH_DIB_H
#define SPLASH_DIB_H

#include <windows.h>

// Returns bitmap resource resourceId of module, or null when it is missing, cannot be
// loaded or locked, or its colour table or pixels do not lie inside the resource.
// A bitmap that needs no completion is returned where it lies in the resource, which
// is read-only. Otherwise the header is completed (CompleteDibHeader) and RLE8 pixels
// are expanded (NormalizeDib) in a writable copy, a locked movable global block that
// FreeDib releases; when that block cannot be had, the resource is used unchanged.
BITMAPINFOHEADER* LoadDibResource(UINT resourceId, HMODULE module);

// Returns a new logical palette for a bitmap from LoadDibResource, owned by the
// caller (DeleteObject), or null when the bitmap is null or no memory is left for the
// palette record. A bitmap with a colour table gets its biClrUsed entries (taken as 16
// bits); one without gets 256 entries: the default palette's colours, then the
// halftone fill of DibPalette.h.
HPALETTE CreateDibPalette(const BITMAPINFOHEADER* dib);

// Draws the bitmap unscaled with its top left corner at x, y in dc. Returns the number
// of scan lines drawn, 0 for a null bitmap.
int DrawDib(const BITMAPINFOHEADER* dib, HDC dc, int x, int y);

// Releases the writable copy that LoadDibResource made. A bitmap that still lies in
// its resource is left alone, and null is ignored.
void FreeDib(BITMAPINFOHEADER* dib);

#endif // SPLASH_DIB_H
