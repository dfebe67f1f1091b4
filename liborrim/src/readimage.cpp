// readimage.cpp - whole images, and bringing a row to another maxval and
// format.
#include <orrim.h>

#include "internal.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>

namespace {

// Least number of bytes the raster can take: rules out a truncated regular
// file before a large image is allocated for it.
uint64_t minimumRasterBytes(int cols, int rows, Sample maxval, int format) {
    uint64_t pixels = uint64_t(cols) * uint64_t(rows);
    switch (format) {
    case RPBM_FORMAT: return (uint64_t(cols) + 7) / 8 * uint64_t(rows);
    case RPGM_FORMAT: return pixels * (maxval > 255 ? 2 : 1);
    case RPPM_FORMAT: return pixels * (maxval > 255 ? 6 : 3);
    case PBM_FORMAT: return pixels;
    case PGM_FORMAT: return pixels == 0 ? 0 : 2 * pixels - 1;
    case PPM_FORMAT: return pixels == 0 ? 0 : 6 * pixels - 1;
    default: {
        const PamTupleType* type = pm_pamTupleType(format);
        return type ? pixels * uint64_t(pm_pamDepth(*type)) * (maxval > 255 ? 2 : 1) : 0;
    }
    }
}

enum RasterPresence { RASTER_PRESENT, RASTER_SHORT, RASTER_UNKNOWN };

// The size of a stream held in memory (no descriptor, but seekable), found
// by seeking to its end and back; -1 when f is no such stream.
off_t memoryStreamSize(FILE* f, off_t pos) {
    if (fileno(f) >= 0 || fseeko(f, 0, SEEK_END) != 0) return -1;
    off_t size = ftello(f);
    if (fseeko(f, pos, SEEK_SET) != 0) pm_error("cannot return to file position %lld", static_cast<long long>(pos));
    return size;
}

// Whether f holds, from its position on, the least number of bytes the raster
// can take. Known for a regular file and a stream in memory (their sizes) and
// for a rewindable pipe (pulled into its kept copy, on disk); not for a plain
// pipe.
RasterPresence rasterPresence(FILE* f, int cols, int rows, Sample maxval, int format) {
    uint64_t need = minimumRasterBytes(cols, rows, maxval, format);
    if (need == 0) return RASTER_PRESENT;
    off_t pos = ftello(f);
    if (pos < 0) return RASTER_UNKNOWN;
    uint64_t end = uint64_t(pos) + need;  // need < 2^58: no overflow
    int64_t held = pm_lazyStreamFill(f, end);
    if (held >= 0) return uint64_t(held) >= end ? RASTER_PRESENT : RASTER_SHORT;
    off_t size = memoryStreamSize(f, pos);
    struct stat st;
    if (size < 0 && fileno(f) >= 0 && fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
    if (size < 0) return RASTER_UNKNOWN;
    return size >= pos && uint64_t(size - pos) >= need ? RASTER_PRESENT : RASTER_SHORT;
}

// Rows are read this many pixels at a time where no row-wide memory is to
// be taken before the pixels arrive (a multiple of 8, so that a raw PBM row
// splits on whole bytes).
const int PIECE = 4096;

// n pixels of a row into dest: Xels, or (grey) the blue samples alone.
void readPieceInto(FILE* f, void* dest, int n, Sample maxval, int format, bool grey) {
    if (!grey) {
        pnm_readpnmrow(f, static_cast<Xel*>(dest), n, maxval, format);
        return;
    }
    static Xel piece[PIECE];
    pnm_readpnmrow(f, piece, n, maxval, format);
    Sample* out = static_cast<Sample*>(dest);
    for (int i = 0; i < n; ++i) out[i] = piece[i].b;
}

// One row into dest, by the piece.
void readRowInto(FILE* f, char* dest, int cols, Sample maxval, int format, bool grey) {
    size_t elementSize = grey ? sizeof(Sample) : sizeof(Xel);
    for (int x = 0; x < cols; x += PIECE) {
        int n = cols - x < PIECE ? cols - x : PIECE;
        readPieceInto(f, dest + size_t(x) * elementSize, n, maxval, format, grey);
    }
}

// Releases an array unless handed on (a fatal handler may throw through).
struct ArrayGuard {
    void* array;
    int rows;
    ~ArrayGuard() {
        if (array) pm_freearray(array, rows);
    }
};

// The raster's bytes one after another in a block that doubles as pixels
// arrive.
struct GrowingRaster {
    char* data = nullptr;
    size_t capacity = 0;
    ~GrowingRaster() { free(data); }
};

// The first block holds this many bytes.
const size_t FIRST_BLOCK_BYTES = size_t(1) << 16;

void makeRoom(GrowingRaster* g, size_t bytes, size_t total) {
    if (bytes <= g->capacity) return;
    size_t capacity = g->capacity == 0 ? FIRST_BLOCK_BYTES : g->capacity;
    while (capacity < bytes) capacity = capacity > SIZE_MAX / 2 ? SIZE_MAX : capacity * 2;
    if (capacity > total) capacity = total;
    void* grown = realloc(g->data, capacity);
    if (!grown) pm_error("out of memory allocating an image (%zu bytes)", capacity);
    g->data = static_cast<char*>(grown);
    g->capacity = capacity;
}

// The raster as an image array of Xels, or (grey) of samples. The array is
// allocated whole only once the input is known to hold the raster; from a
// plain pipe it grows as the pixels arrive, so a short input fails before
// memory for pixels it lacks is taken.
void* readRaster(FILE* f, int cols, int rows, Sample maxval, int format, bool grey) {
    RasterPresence presence = rasterPresence(f, cols, rows, maxval, format);
    if (presence == RASTER_SHORT)
        pm_error("premature end of file in the raster (the header promises %d x %d pixels)", cols, rows);
    size_t elementSize = grey ? sizeof(Sample) : sizeof(Xel);
    if (cols == 0 || rows == 0) return pm_allocarray(cols, rows, elementSize);
    if (presence == RASTER_PRESENT) {
        ArrayGuard image{pm_allocarray(cols, rows, elementSize), rows};
        char** rowPointers = static_cast<char**>(image.array);
        for (int y = 0; y < rows; ++y) readRowInto(f, rowPointers[y], cols, maxval, format, grey);
        void* done = image.array;
        image.array = nullptr;
        return done;
    }
    const size_t rowBytes = size_t(cols) * elementSize;  // cols < 2^27: no overflow
    const size_t total = pm_checkedBytes(size_t(rows), rowBytes, 0, "an image");
    GrowingRaster g;
    size_t filled = 0;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; x += PIECE) {
            int n = cols - x < PIECE ? cols - x : PIECE;
            makeRoom(&g, filled + size_t(n) * elementSize, total);
            readPieceInto(f, g.data + filled, n, maxval, format, grey);
            filled += size_t(n) * elementSize;
        }
    }
    char* data = g.data;
    g.data = nullptr;
    return pm_arrayOverRows(data, rowBytes, rows);
}

}  // namespace

bool pnm_rasterpresent(FILE* f, int cols, int rows, Sample maxval, int format) {
    if (cols < 0 || rows < 0) pm_error("cannot check a raster of %d x %d pixels", cols, rows);
    return rasterPresence(f, cols, rows, maxval, format) != RASTER_SHORT;
}

Xel** pnm_readpnmraster(FILE* f, int cols, int rows, Sample maxval, int format) {
    if (cols < 0 || rows < 0 || cols > PNM_MAX_DIMENSION || rows > PNM_MAX_DIMENSION)
        pm_error("cannot read a raster of %d x %d pixels", cols, rows);
    if (pnm_formattype(format) < 0) pm_error("unknown PNM format code 0x%x", unsigned(format));
    return static_cast<Xel**>(readRaster(f, cols, rows, maxval, format, false));
}

Xel** pnm_readpnm(FILE* f, int* cols, int* rows, Sample* maxval, int* format) {
    pnm_readpnminit(f, cols, rows, maxval, format);
    return pnm_readpnmraster(f, *cols, *rows, *maxval, *format);
}

Pixel** ppm_readppm(FILE* f, int* cols, int* rows, Sample* maxval) {
    int format;
    // The row reader already gives bit and grey pixels equal red, green and
    // blue, which is their promotion at the same maxval.
    return pnm_readpnm(f, cols, rows, maxval, &format);
}

Sample** pgm_readpgm(FILE* f, int* cols, int* rows, Sample* maxval) {
    int format;
    pnm_readpnminit(f, cols, rows, maxval, &format);
    if (pnm_formattype(format) == PPM_FORMAT) pm_error("the input is a PPM image; a PBM or PGM image is needed");
    return static_cast<Sample**>(readRaster(f, *cols, *rows, *maxval, format, true));
}

void pnm_promoteformatrow(Xel* row, int cols, Sample maxval, int format, Sample newmaxval, int newformat) {
    int family = pnm_formattype(format);
    int newFamily = pnm_formattype(newformat);
    if (family < 0) pm_error("unknown PNM format code 0x%x", unsigned(format));
    if (newFamily < 0) pm_error("unknown PNM format code 0x%x", unsigned(newformat));
    if (newFamily < family) pm_error("cannot convert a row to a format of fewer channels");
    if (maxval == 0 || newmaxval == 0) pm_error("cannot promote a row with maxval 0");
    if (family == PBM_FORMAT) maxval = 1;
    bool grey = family != PPM_FORMAT;
    if (maxval == newmaxval) {
        if (grey)
            for (int x = 0; x < cols; ++x) row[x].r = row[x].g = row[x].b;
        return;
    }
    for (int x = 0; x < cols; ++x) {
        if (grey) {
            Sample v = pm_rescalesample(row[x].b, maxval, newmaxval);
            row[x] = Xel{v, v, v};
        } else {
            row[x] = Xel{pm_rescalesample(row[x].r, maxval, newmaxval), pm_rescalesample(row[x].g, maxval, newmaxval),
                         pm_rescalesample(row[x].b, maxval, newmaxval)};
        }
    }
}
