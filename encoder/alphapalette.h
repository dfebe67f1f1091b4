// The colour/alpha palette: one entry per distinct pair of colour and mask
// value, non-opaque entries first, and the table that finds a pixel's entry.
#ifndef RASTERPACK_ALPHAPALETTE_H
#define RASTERPACK_ALPHAPALETTE_H

#include "paletteplacement.h"
#include "raster.h"

namespace rasterpack {

const int COLOR_ALPHA_HASH_SIZE = 20023;

// Fills palette, paletteAlpha, paletteSize and transSize from one pass over
// the raster, or returns false when there are more than 256 pairs.
// hist holds the image's count colours (at most 256).
bool buildAlphaPalette(const RasterSource* raster, const AlphaMask* mask, const ColorHist hist, int count,
                       Colormap* colormap);

unsigned colorAlphaHashValue(const Pixel& color);

struct ColorAlphaHash;

// The table over entries 0..paletteSize-1; free with freeColorAlphaHash.
ColorAlphaHash* buildColorAlphaHash(const Colormap* colormap);
// The index of the entry with this colour and alpha, or -1.
int lookupColorAlpha(const ColorAlphaHash* table, Sample red, Sample green, Sample blue, Sample alpha);
void freeColorAlphaHash(ColorAlphaHash* table);

}  // namespace rasterpack

#endif
