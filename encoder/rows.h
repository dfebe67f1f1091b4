// Turning PNM rows into PNG rows of the decided colour type and depth.
#ifndef RASTERPACK_ROWS_H
#define RASTERPACK_ROWS_H

#include "paletteindex.h"
#include "raster.h"

#include <cstddef>
#include <cstdint>

namespace rasterpack {

// How each row is built: colour type and depth of the IHDR and the tables
// that bring samples to the PNG depth.
struct RowEncoding {
    int colorType = 0;
    int depth = 8;
    Sample maxval = 255;                   // the input's
    Sample pngMaxval = 255;                // 2^depth - 1
    const AlphaMask* mask = nullptr;       // a mask in force: alpha channel or palette index
    PaletteLookup* palette = nullptr;      // colour type 3
    const uint16_t* sampleTable = nullptr; // maxval + 1 rescaled samples, or null
    const uint16_t* alphaTable = nullptr;  // mask maxval + 1 rescaled mask values, or null
};

// The rescaling table (pm_rescalesample) for maxval to pngMaxval, for image
// samples and mask values alike, or null when values pass unchanged or maxval
// is too large for a table. *failed is set when the allocation fails. Free
// with free().
uint16_t* makeSampleTable(Sample maxval, Sample pngMaxval, bool* failed);

// Bytes of one encoded row: at most 8 per pixel.
size_t pngRowBufferSize(int cols);

// One PNG row from a row as pnm_readpnmrow leaves it (grey in all three
// samples; y is its row number, for the mask). Below depth 8 each sample
// takes a byte of its own.
void encodePngRow(const RowEncoding* encoding, const Xel* row, int cols, int y, uint8_t* out);

}  // namespace rasterpack

#endif
