#include "paletteindex.h"

#include "alphapalette.h"

namespace rasterpack {

void buildIndexLookup(const Colormap* colormap, bool maskInForce, PaletteLookup* lookup) {
    if (maskInForce) {
        lookup->withAlpha = buildColorAlphaHash(colormap);
        return;
    }
    lookup->plain = ppm_alloccolorhash();
    for (int i = 0; i < colormap->paletteSize; ++i) ppm_addtocolorhash(lookup->plain, &colormap->palette[i], i);
}

int lookupPaletteIndex(PaletteLookup* lookup, const Pixel* pixel, Sample maskValue) {
    if (lookup->lastIndex >= 0 && *pixel == lookup->lastColor && maskValue == lookup->lastAlpha)
        return lookup->lastIndex;
    int index = lookup->withAlpha ? lookupColorAlpha(lookup->withAlpha, pixel->r, pixel->g, pixel->b, maskValue)
                                  : ppm_lookupcolor(lookup->plain, pixel);
    // Every pixel is in the palette by construction; the check guards the
    // row encoder against a broken table rather than the input.
    if (index < 0) pm_error("internal error: colour (%u, %u, %u) missing from the palette", pixel->r, pixel->g,
                            pixel->b);
    lookup->lastColor = *pixel;
    lookup->lastAlpha = maskValue;
    lookup->lastIndex = index;
    return index;
}

PaletteLookup::~PaletteLookup() {
    if (plain) ppm_freecolorhash(plain);
    freeColorAlphaHash(withAlpha);
}

}  // namespace rasterpack
