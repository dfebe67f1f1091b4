// Turning PNM rows into PNG rows and handing them to libpng.
#ifndef RASTERPACK_ROWS_H
#define RASTERPACK_ROWS_H

#include "imagedata.h"
#include "palette.h"
#include "raster.h"

#include <png.h>

// How each row is built: colour type and depth of the IHDR and the tables
// that bring samples to the PNG depth.
struct RowEncoding {
    int colorType = PNG_COLOR_TYPE_GRAY;
    int depth = 8;
    Sample maxval = 255;                     // the input's
    Sample pngMaxval = 255;                  // 2^depth - 1
    const AlphaMask* mask = nullptr;         // with -alpha: alpha channel or palette index
    const Colormap* colormap = nullptr;      // colour type 3
    const png_uint_16* sampleTable = nullptr;  // maxval + 1 rescaled samples, or null
    const png_uint_16* alphaTable = nullptr;   // mask maxval + 1 rescaled mask values, or null
};

// The rescaling table (pm_rescalesample) for maxval to pngMaxval, for image
// samples and mask values alike, or null when values pass unchanged or maxval
// is too large for a table. *failed is set when the allocation fails. Free
// with free().
png_uint_16* makeSampleTable(Sample maxval, Sample pngMaxval, bool* failed);

// Bytes of one encoded row: at most 8 per pixel.
size_t pngRowBufferSize(int cols);

// One PNG row from a row as pnm_readpnmrow leaves it (grey in all three
// samples; y is its row number, for the mask).
void encodePngRow(const RowEncoding* encoding, const Xel* row, int cols, int y, png_bytep out);

// Every row of every pass: rewinds the raster for each pass, reads, encodes
// and writes each row with png_write_row.
void writeImageRows(png_structp png, int passes, const RasterSource* raster, const RowEncoding* encoding,
                    Xel* xelRow, png_bytep pngRow);

// The same rows handed to the threaded or optimising image data writer
// instead of libpng. False when the writer fails (imageDataError says why).
bool writeImageRowsTo(ImageDataWriter* writer, int passes, const RasterSource* raster, const RowEncoding* encoding,
                      Xel* xelRow, png_bytep pngRow);

#endif
