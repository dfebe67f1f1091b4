// The image data written without libpng's row writer, on several threads
// (-threads). The caller hands over the rows as it would to png_write_row and
// the stream goes out through the sink as IDAT chunks; the caller then ends
// the file with IEND. Also what libpng's row writer would choose, which the
// band writer matches and -optimize keeps as a candidate.
#ifndef RASTERPACK_IMAGEDATA_H
#define RASTERPACK_IMAGEDATA_H

#include "imagelayout.h"
#include "zlibstream.h"

#include <cstdint>

namespace rasterpack {

struct ImageDataOptions {
    int threads = 1;       // 0: one per available core
    int filter = -1;       // -filter, or -1
    int compression = -1;  // -compression, or -1
    bool palette = false;  // colour type 3
};

// True when these options leave the image data to this writer rather than libpng.
bool usesImageDataWriter(int threads);

// libpng's row writer on the same request: the filter types its rows choose
// from (rowfilter.h) and its zlib settings.
struct LibpngChoice {
    unsigned filterTypes = 1;
    DeflateChoice deflate;
};
LibpngChoice libpngChoice(const ImageDataLayout* layout, const ImageDataOptions* options);

// Threads for a -threads value: 0 means one per available core.
int resolveThreadCount(int threads);

struct ImageDataWriter;

// Returns null with *error set on failure.
ImageDataWriter* startImageDataWriter(const ImageDataLayout* layout, const ImageDataOptions* options,
                                      ImageDataSink sink, const char** error);
// png_write_row's contract: every row of every pass, one sample a byte below
// depth 8. False on failure; imageDataError says why.
bool addImageDataRow(ImageDataWriter* writer, const uint8_t* row);
bool finishImageData(ImageDataWriter* writer);
const char* imageDataError(const ImageDataWriter* writer);
// Stops any threads and frees; null is fine.
void destroyImageDataWriter(ImageDataWriter* writer);

}  // namespace rasterpack

#endif
