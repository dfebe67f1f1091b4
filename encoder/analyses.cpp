#include "analyses.h"

namespace rasterpack {

namespace {

// One pass over the raster that stops at the first pixel the test refuses.
// Returns whether every pixel passed.
template <typename PixelTest>
bool everyPixel(const RasterSource* raster, PixelTest test) {
    ScopedRow scoped(raster->cols);
    Xel* row = scoped.row;
    rewindRaster(raster);
    bool passed = true;
    for (int y = 0; y < raster->rows && passed; ++y) {
        pnm_readpnmrow(raster->input, row, raster->cols, raster->maxval, raster->format);
        for (int x = 0; x < raster->cols; ++x) {
            if (!test(y, x, row[x])) {
                passed = false;
                break;
            }
        }
    }
    return passed;
}

// Every sample the width of 'bits' and made of copies of its low 'narrow' bits.
bool isCopyOfLowBits(Sample v, Sample lowMask, Sample factor) { return v == (v & lowMask) * factor; }

bool everyGreyValue(const RasterSource* raster, Sample lowMask, Sample factor) {
    return everyPixel(raster, [&](int, int, const Xel& p) { return isCopyOfLowBits(p.b, lowMask, factor); });
}

}  // namespace

bool rasterReadCanFail(const RasterSource* raster) {
    bool plain = raster->format == pnm_formattype(raster->format);
    bool rawSamples = raster->format == RPGM_FORMAT || raster->format == RPPM_FORMAT;
    return plain || (rawSamples && raster->maxval != 255 && raster->maxval != 65535);
}

void readEveryRow(const RasterSource* raster) {
    ScopedRow scoped(raster->cols);
    rewindRaster(raster);
    for (int y = 0; y < raster->rows; ++y)
        pnm_readpnmrow(raster->input, scoped.row, raster->cols, raster->maxval, raster->format);
}

bool allPixelsGrey(const RasterSource* raster) {
    return everyPixel(raster, [](int, int, const Xel& p) { return p.r == p.g && p.g == p.b; });
}

int findGraySigBits(const RasterSource* raster) {
    const Sample maxval = raster->maxval;
    int bits = pm_maxvaltobits(maxval);
    // Each test looks at the raw values, also when reached through a bit
    // count an earlier test lowered: it then passes only for an all-zero image.
    if (maxval == 65535 && everyGreyValue(raster, 0xFF, 257)) bits = 8;
    if ((maxval == 255 || bits == 8) && everyGreyValue(raster, 15, 17)) bits = 4;
    if ((maxval == 15 || bits == 4) && everyGreyValue(raster, 3, 5)) bits = 2;
    if ((maxval == 3 || bits == 2) && everyGreyValue(raster, 1, 3)) bits = 1;
    return bits;
}

int findColorSigBits(const RasterSource* raster) {
    if (raster->maxval != 65535) return pm_maxvaltobits(raster->maxval);
    bool bytePairs = everyPixel(raster, [](int, int, const Xel& p) {
        return isCopyOfLowBits(p.r, 0xFF, 257) && isCopyOfLowBits(p.g, 0xFF, 257) && isCopyOfLowBits(p.b, 0xFF, 257);
    });
    return bytePairs ? 8 : 16;
}

MaskColorResult findMaskTransparentColor(const RasterSource* raster, const AlphaMask* mask) {
    MaskColorResult result;
    // The first fully transparent pixel gives the candidate colour.
    bool found = !everyPixel(raster, [&](int y, int x, const Xel& p) {
        if (mask->rows[y][x] != 0) return true;
        result.maskColor = xeltopixel(p);
        return false;
    });
    if (!found) return result;
    // Grey and bit files compare their grey value only.
    const bool colour = pnm_formattype(raster->format) == PPM_FORMAT;
    const Pixel key = result.maskColor;
    auto same = [&](const Xel& p) { return colour ? p == key : p.b == key.b; };
    result.maskIsOneColor = everyPixel(raster, [&](int y, int x, const Xel& p) {
        Sample m = mask->rows[y][x];
        if (m == 0) return same(p);
        if (m == mask->maxval) return !same(p);
        return false;
    });
    return result;
}

}  // namespace rasterpack
