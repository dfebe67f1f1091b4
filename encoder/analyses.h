// Image analyses that let the driver choose a smaller PNG form: whether a
// colour image is all grey, whether the samples carry fewer significant bits
// than maxval suggests, and whether an alpha mask reduces to one transparent
// colour. Each re-reads the raster from its start.
#ifndef RASTERPACK_ANALYSES_H
#define RASTERPACK_ANALYSES_H

#include "raster.h"

namespace rasterpack {

struct MaskColorResult {
    bool maskIsOneColor = false;
    Pixel maskColor = {0, 0, 0};  // in image units; grey in all three samples
};

// True when no pixel has differing red, green and blue (also for no rows);
// stops at the first that has.
bool allPixelsGrey(const RasterSource* raster);
// For a plain or raw PGM file without a mask in force.
int findGraySigBits(const RasterSource* raster);
// For a plain or raw PPM file.
int findColorSigBits(const RasterSource* raster);
// Whether reading the raster can fail even though all its bytes are there: a
// plain raster can end early or hold a stray character, and a raw sample can
// lie above a maxval that its bytes can pass.
bool rasterReadCanFail(const RasterSource* raster);
// Reads every row once, for the row reader's checks alone: a raster that
// fails them ends the run here.
void readEveryRow(const RasterSource* raster);
// Whether every pixel is either fully transparent with one colour or fully
// opaque with another, so the mask can become a single transparent colour.
MaskColorResult findMaskTransparentColor(const RasterSource* raster, const AlphaMask* mask);

}  // namespace rasterpack

#endif
