#include "paletteplacement.h"

namespace rasterpack {

int closestPaletteEntry(const Colormap* colormap, int n, Pixel target, uint32_t* distance) {
    int best = 0;
    uint32_t bestDistance = UINT32_MAX;
    for (int i = 0; i < n; ++i) {
        const Pixel& e = colormap->palette[i];
        // samples are at most 255 here: the sum fits 32 bits
        int64_t dr = int64_t(e.r) - target.r, dg = int64_t(e.g) - target.g, db = int64_t(e.b) - target.b;
        uint32_t d = uint32_t(dr * dr + dg * dg + db * db);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    *distance = bestDistance;
    return best;
}

TransparentPlacement makePaletteColorTransparent(Colormap* colormap, Pixel transparent, bool exact) {
    if (colormap->paletteSize == 0) return TRANSPARENT_NONE;
    uint32_t distance = 0;
    int chosen = closestPaletteEntry(colormap, colormap->paletteSize, transparent, &distance);
    if (distance != 0 && exact) return TRANSPARENT_NOT_PRESENT;
    Pixel first = colormap->palette[0];
    colormap->palette[0] = colormap->palette[chosen];
    colormap->palette[chosen] = first;
    colormap->paletteAlpha[0] = 0;
    colormap->transSize = 1;
    return TRANSPARENT_MADE;
}

BackgroundPlacement placeBackgroundInPalette(Pixel background, Colormap* colormap) {
    int found = -1;
    for (int i = 0; i < colormap->paletteSize; ++i)
        if (colormap->palette[i] == background) found = i;
    if (found >= 0) {
        colormap->backgroundIndex = found;
        return BACKGROUND_PRESENT;
    }
    if (colormap->paletteSize < MAX_PALETTE_COLORS) {
        int at = colormap->paletteSize++;
        colormap->palette[at] = background;
        // beyond the tRNS entries, so opaque; no pixel has this colour
        colormap->paletteAlpha[at] = 0;
        colormap->backgroundIndex = at;
        return BACKGROUND_ADDED;
    }
    uint32_t distance = 0;
    colormap->backgroundIndex = closestPaletteEntry(colormap, colormap->paletteSize, background, &distance);
    return BACKGROUND_CLOSEST;
}

int chooseIndexBits(int paletteSize) {
    if (paletteSize <= 2) return 1;
    if (paletteSize <= 4) return 2;
    if (paletteSize <= 16) return 4;
    return 8;
}

uint16_t histogramEntry(long count, long largest) {
    if (count <= 0) return 0;
    if (largest <= MAX_HIST_ENTRY) return uint16_t(count);
    uint64_t scaled = (uint64_t(count) * MAX_HIST_ENTRY + uint64_t(largest) / 2) / uint64_t(largest);
    return uint16_t(scaled == 0 ? 1 : scaled);
}

}  // namespace rasterpack
