// The input raster as every encoder pass sees it: a seekable stream, the
// position of its first row and the header values. The image is never held
// in memory; each pass rewinds to the raster and reads it again.
#ifndef RASTERPACK_RASTER_H
#define RASTERPACK_RASTER_H

#include <orrim.h>

#include <cstdint>
#include <cstdio>

namespace rasterpack {

enum ImageKind { KIND_UNKNOWN = -1, KIND_PBM = PBM_FORMAT, KIND_PGM = PGM_FORMAT, KIND_PPM = PPM_FORMAT };

struct RasterSource {
    FILE* input = nullptr;
    uint64_t rasterPosition = 0;  // token of pm_tell2/pm_seek2, taken right after the header
    int cols = 0;
    int rows = 0;
    Sample maxval = 0;
    int format = 0;               // the file's own format code, plain or raw
};

// The alpha mask, read whole, with its own maxval. rows holds rowCount rows
// of cols values, each allocated as it is read.
struct AlphaMask {
    Sample** rows = nullptr;
    int cols = 0;
    int rowCount = 0;
    Sample maxval = 255;
};

// A pass's row buffer, given back however the pass ends: a bad raster ends
// the run inside the row reader, and a caller's fatal hook may unwind
// through the pass instead of exiting (a fuzz harness).
struct ScopedRow {
    Xel* row;
    explicit ScopedRow(int cols) : row(pnm_allocrow(cols > 0 ? cols : 1)) {}
    ~ScopedRow() { pm_freerow(row); }
    ScopedRow(const ScopedRow&) = delete;
    ScopedRow& operator=(const ScopedRow&) = delete;
};

inline void rewindRaster(const RasterSource* raster) {
    pm_seek2(raster->input, &raster->rasterPosition, sizeof raster->rasterPosition);
}

}  // namespace rasterpack

#endif
