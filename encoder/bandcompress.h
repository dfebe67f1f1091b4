// Filtering and compressing the image data in bands on several threads, as
// one zlib stream. Each band is compressed on its own, primed with the last
// 32 KB of the data before it, so matches reach back across band edges as in
// one stream; the bands end on byte boundaries (sync flush) and follow each
// other in order; the checksums of the bands are combined for the trailer.
// Memory: a fixed number of bands in flight, whatever the image size.
#ifndef RASTERPACK_BANDCOMPRESS_H
#define RASTERPACK_BANDCOMPRESS_H

#include "imagelayout.h"
#include "zlibstream.h"

#include <cstdint>

namespace rasterpack {

struct BandSettings {
    int threads = 2;                // workers, 1 or more
    unsigned filterTypes = 1;       // the types rows choose from (rowfilter.h): one, or adaptively
    DeflateChoice deflate;
    uint64_t bandBytes = 256 * 1024;  // unfiltered bytes a band collects, in whole rows; best at 32 KB or more
};

struct BandWriter;

// Starts the workers. Returns null with *error set when that fails.
BandWriter* startBandWriter(const ImageDataLayout* layout, const BandSettings* settings, ImageDataSink sink,
                            const char** error);
// One row, png_write_row's way: every row of every pass, one sample a byte
// below depth 8. False once the writer has failed (bandWriterError says why).
bool addBandRow(BandWriter* writer, const uint8_t* row);
// After the last row: the rest of the stream and its trailer.
bool finishBandWriter(BandWriter* writer);
const char* bandWriterError(const BandWriter* writer);
// Stops the workers and frees everything; null is fine.
void destroyBandWriter(BandWriter* writer);

}  // namespace rasterpack

#endif
