#include "splash/Dib.h"

#include "splash/DibFormat.h"
#include "splash/DibPalette.h"

#include <cstring>

namespace {

const WORD kPaletteVersion = 0x300;
// A palette record counts its entries in 16 bits.
const uint32_t kPaletteCountMask = 0xFFFF;
const uint32_t kColorEntryBytes = 4;

// A packed bitmap in a locked movable global block.
class GlobalCopy
{
public:
    explicit GlobalCopy(uint32_t size)
    {
        handle_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        if (handle_)
            bytes_ = static_cast<unsigned char*>(GlobalLock(handle_));
    }
    ~GlobalCopy()
    {
        if (bytes_)
            GlobalUnlock(handle_);
        if (handle_)
            GlobalFree(handle_);
    }
    GlobalCopy(const GlobalCopy&) = delete;
    GlobalCopy& operator=(const GlobalCopy&) = delete;

    unsigned char* Bytes() const { return bytes_; }

    // Hands the block over locked; FreeDib finds it again through GlobalHandle.
    unsigned char* Release()
    {
        unsigned char* bytes = bytes_;
        handle_ = nullptr;
        bytes_ = nullptr;
        return bytes;
    }

private:
    HGLOBAL handle_ = nullptr;
    unsigned char* bytes_ = nullptr;
};

// Global blocks lie in private memory; a resource lies in its mapped module, whether
// that is loaded as an image or as a data file.
bool LiesInPrivateMemory(const void* address)
{
    MEMORY_BASIC_INFORMATION info;
    return VirtualQuery(address, &info, sizeof info) == sizeof info && info.Type == MEM_PRIVATE;
}

} // namespace

BITMAPINFOHEADER* LoadDibResource(UINT resourceId, HMODULE module)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(resourceId), RT_BITMAP);
    if (!found)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    unsigned char* resource = loaded ? static_cast<unsigned char*>(LockResource(loaded)) : nullptr;
    if (!resource)
        return nullptr;
    uint32_t length = SizeofResource(module, found);

    // Resources are mapped read-only: completion happens in a copy.
    if (DibNeedsChange(resource, length)) {
        uint32_t size = DibWritableSize(resource, length);
        GlobalCopy copy(size);
        if (copy.Bytes()) {
            std::memcpy(copy.Bytes(), resource, length);
            // Guards the system's drawing against a header that promises more than
            // the resource holds.
            if (!PrepareDib(copy.Bytes(), size))
                return nullptr;
            return reinterpret_cast<BITMAPINFOHEADER*>(copy.Release());
        }
    }
    if (!DibFitsIn(resource, length))
        return nullptr;
    return reinterpret_cast<BITMAPINFOHEADER*>(resource);
}

HPALETTE CreateDibPalette(const BITMAPINFOHEADER* dib)
{
    if (!dib)
        return nullptr;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(dib);
    bool hasTable = dib->biClrUsed != 0;
    uint32_t count = hasTable ? dib->biClrUsed & kPaletteCountMask : kFullPaletteSize;
    // The loader has checked that this much of the table lies inside the bitmap.
    uint32_t tableEnd = dib->biSize + count * kColorEntryBytes;

    HLOCAL block = LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT,
                              sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
    if (!block)
        return nullptr;
    LOGPALETTE* record = static_cast<LOGPALETTE*>(block);
    record->palVersion = kPaletteVersion;
    record->palNumEntries = WORD(count);
    PALETTEENTRY* entries = record->palPalEntry;
    if (hasTable) {
        for (uint32_t i = 0; i < count; ++i)
            ReadDibColor(bytes, tableEnd, i, entries[i].peRed, entries[i].peGreen, entries[i].peBlue);
    } else {
        UINT stock = GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0,
                                       kFullPaletteSize, entries);
        // The default palette has only its static colours; the other entries get
        // colours near which a true-colour picture can still be shown with 256.
        for (uint32_t i = stock; i < kFullPaletteSize; ++i) {
            HalftoneColor(i - stock, entries[i].peRed, entries[i].peGreen, entries[i].peBlue);
            entries[i].peFlags = 0;
        }
    }
    HPALETTE palette = CreatePalette(record);
    LocalFree(block);
    return palette;
}

int DrawDib(const BITMAPINFOHEADER* dib, HDC dc, int x, int y)
{
    if (!dib)
        return 0;
    DibHeader header;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(dib);
    ReadDibHeader(bytes, dib->biSize, header);
    // A top-down bitmap has a negative height; passed on as it is, the picture would
    // be drawn mirrored above y.
    int rows = header.height < 0 ? -header.height : header.height;
    return StretchDIBits(dc, x, y, header.width, rows, 0, 0, header.width, rows,
                         bytes + DibPixelOffset(header), reinterpret_cast<const BITMAPINFO*>(dib),
                         DIB_RGB_COLORS, SRCCOPY);
}

void FreeDib(BITMAPINFOHEADER* dib)
{
    // GlobalHandle is not defined for a resource, where a bitmap used in place lies.
    if (!dib || !LiesInPrivateMemory(dib))
        return;
    HGLOBAL block = GlobalHandle(dib);
    if (!block)
        return;
    GlobalUnlock(block);
    GlobalFree(block);
}
