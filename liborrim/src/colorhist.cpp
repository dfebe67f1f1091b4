// colorhist.cpp - colour histograms of whole images and of streamed rasters.
// Entries come out in the order their colours first occur in raster order.
#include "colorhash_internal.h"

#include <orrim.h>

#include <cstdlib>

namespace {

// A colour whose 32-bit count in the table wrapped around, and how often.
struct CountCarry {
    Pixel color;
    uint64_t wraps;
};

struct HistBuilder {
    ColorTable table;          // colour -> pixel count (modulo 2^32)
    ColorHistEntry* entries;   // colours in first-occurrence order; counts filled at the end
    size_t used;
    size_t allocated;
    size_t limit;              // most distinct colours allowed
    CountCarry* carries;       // only for images with over 2^32 pixels of one colour
    size_t carryCount;
};

// What a colour's table count starts at; only tests move it, to reach the
// 32-bit wrap-around without 2^32 pixels.
uint32_t firstCount = 1;

const size_t FIRST_ENTRIES = 1024;
// The table starts with room for one colour in this many pixels, within the
// limit and up to a cap: growing a large table costs more than the look-ups
// themselves, but a huge image of few colours must not reserve gigabytes.
const uint64_t PIXELS_PER_EXPECTED_COLOR = 8;
const uint64_t MOST_EXPECTED_COLORS = uint64_t(1) << 21;
// Pixels hashed per batch; slots are prefetched AHEAD pixels before use so
// that table misses overlap instead of stalling one by one.
const int BATCH = 256;
const int AHEAD = 16;

// Pixels read at a time from a stream: a multiple of 8, so that a raw PBM
// row splits on whole bytes.
const int HIST_PIECE = 4096;

[[noreturn]] void failHistogramMemory() { pm_error("out of memory allocating the colour histogram"); }

void startHistogram(HistBuilder* h, int maxcolors, int cols, int rows) {
    h->limit = maxcolors > 0 ? size_t(maxcolors) : 0;
    h->used = 0;
    h->allocated = h->limit < FIRST_ENTRIES ? h->limit + 1 : FIRST_ENTRIES;
    h->carries = nullptr;
    h->carryCount = 0;
    h->entries = static_cast<ColorHistEntry*>(malloc(h->allocated * sizeof(ColorHistEntry)));
    if (!h->entries) failHistogramMemory();
    uint64_t expected = uint64_t(cols) * uint64_t(rows) / PIXELS_PER_EXPECTED_COLOR;
    if (expected > MOST_EXPECTED_COLORS) expected = MOST_EXPECTED_COLORS;
    if (expected > h->limit) expected = h->limit;
    if (expected < h->allocated) expected = h->allocated;
    // The guess is only a head start: with less memory, begin small.
    if (!colorTableInit(&h->table, size_t(expected)) && !colorTableInit(&h->table, h->allocated)) {
        free(h->entries);
        failHistogramMemory();
    }
}

void discardHistogram(HistBuilder* h) {
    colorTableFree(&h->table);
    free(h->entries);
    free(h->carries);
    h->entries = nullptr;
}

void appendEntry(HistBuilder* h, const Pixel& color) {
    if (h->used == h->allocated) {
        size_t more = h->allocated * 2;
        if (more > h->limit) more = h->limit;
        if (more <= h->allocated || more > SIZE_MAX / sizeof(ColorHistEntry)) failHistogramMemory();
        void* grown = realloc(h->entries, more * sizeof(ColorHistEntry));
        if (!grown) failHistogramMemory();
        h->entries = static_cast<ColorHistEntry*>(grown);
        h->allocated = more;
    }
    h->entries[h->used].color = color;
    h->entries[h->used].value = 0;
    ++h->used;
}

CountCarry* findCarry(HistBuilder* h, const Pixel& color) {
    for (size_t i = 0; i < h->carryCount; ++i)
        if (h->carries[i].color == color) return &h->carries[i];
    return nullptr;
}

// A colour's table count just wrapped from 2^32 - 1 to 0.
void carryCount(HistBuilder* h, const Pixel& color) {
    if (CountCarry* c = findCarry(h, color)) {
        ++c->wraps;
        return;
    }
    void* grown = realloc(h->carries, (h->carryCount + 1) * sizeof(CountCarry));
    if (!grown) failHistogramMemory();
    h->carries = static_cast<CountCarry*>(grown);
    h->carries[h->carryCount++] = CountCarry{color, 1};
}

// Counts one pixel whose code is known; false when it is one colour too many.
inline bool countPixel(HistBuilder* h, const Pixel& p, uint64_t code) {
    if (uint32_t* count = colorTableFind(&h->table, p, code)) {
        if (++*count == 0) carryCount(h, p);
        return true;
    }
    if (h->used >= h->limit) return false;
    if (!colorTableAddNew(&h->table, p, code, firstCount)) failHistogramMemory();
    appendEntry(h, p);
    return true;
}

// Counts a row of pixels; false as soon as the limit is passed.
bool countRow(HistBuilder* h, const Pixel* row, int cols) {
    uint64_t codes[BATCH];
    for (int start = 0; start < cols; start += BATCH) {
        int n = cols - start < BATCH ? cols - start : BATCH;
        const Pixel* px = row + start;
        for (int j = 0; j < n; ++j) codes[j] = colorHashCode(px[j]);
        for (int j = 0; j < n && j < AHEAD; ++j) colorTablePrefetch(&h->table, codes[j]);
        for (int j = 0; j < n; ++j) {
            if (j + AHEAD < n) colorTablePrefetch(&h->table, codes[j + AHEAD]);
            if (!countPixel(h, px[j], codes[j])) return false;
        }
    }
    return true;
}

// Moves the counts from the table into the entries.
ColorHist finishHistogram(HistBuilder* h, int* colors) {
    uint64_t codes[BATCH];
    for (size_t start = 0; start < h->used; start += BATCH) {
        size_t n = h->used - start < size_t(BATCH) ? h->used - start : size_t(BATCH);
        ColorHistEntry* e = h->entries + start;
        for (size_t j = 0; j < n; ++j) {
            codes[j] = colorHashCode(e[j].color);
            colorTablePrefetch(&h->table, codes[j]);
        }
        for (size_t j = 0; j < n; ++j) {
            uint64_t count = *colorTableFind(&h->table, e[j].color, codes[j]);
            if (h->carryCount)
                if (const CountCarry* c = findCarry(h, e[j].color)) count += c->wraps << 32;
            count -= firstCount - 1;
            e[j].value = long(count);
        }
    }
    colorTableFree(&h->table);
    free(h->carries);
    *colors = int(h->used);
    return h->entries;
}

void checkHistogramArgs(const char* caller, int cols, int rows, int* colors) {
    if (!colors) pm_error("%s: no place for the colour count given", caller);
    if (cols < 0 || rows < 0) pm_error("%s: invalid image size %d x %d", caller, cols, rows);
}

}  // namespace

void colorHistSetFirstCount(uint32_t count) { firstCount = count; }

ColorHist ppm_computecolorhist(Pixel** pixels, int cols, int rows, int maxcolors, int* colors) {
    checkHistogramArgs("ppm_computecolorhist", cols, rows, colors);
    if (!pixels && rows > 0 && cols > 0) pm_error("ppm_computecolorhist: no image given");
    HistBuilder h;
    startHistogram(&h, maxcolors, cols, rows);
    for (int y = 0; y < rows && cols > 0; ++y) {
        if (!countRow(&h, pixels[y], cols)) {
            discardHistogram(&h);
            return nullptr;
        }
    }
    return finishHistogram(&h, colors);
}

ColorHist ppm_computecolorhist2(FILE* f, int cols, int rows, Sample maxval, int format, int maxcolors,
                                int* colors) {
    checkHistogramArgs("ppm_computecolorhist2", cols, rows, colors);
    if (!f) pm_error("ppm_computecolorhist2: no stream given");
    HistBuilder h;
    startHistogram(&h, maxcolors, cols, rows);
    // A bad raster ends the run inside the row reader; when a fatal hook
    // unwinds instead of exiting (a fuzz harness), this gives back the table
    // and the piece.
    struct Unwind {
        HistBuilder* h;
        Xel* piece;
        ~Unwind() {
            if (!h) return;
            pm_freerow(piece);
            discardHistogram(h);
        }
    } unwind{&h, nullptr};
    if (cols > 0 && rows > 0) {
        // The row reader gives grey and bit pixels equal red, green and blue,
        // so they compare as whole colours as they are. Rows are read by the
        // piece, so that a wide header takes no row-wide buffer before its
        // pixels arrive.
        int pieceCols = cols < HIST_PIECE ? cols : HIST_PIECE;
        Xel* piece = unwind.piece = pnm_allocrow(pieceCols);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; x += pieceCols) {
                int n = cols - x < pieceCols ? cols - x : pieceCols;
                pnm_readpnmrow(f, piece, n, maxval, format);
                if (!countRow(&h, piece, n)) return nullptr;  // the table is given back on the way out
            }
        }
        pm_freerow(piece);
        unwind.piece = nullptr;
    }
    unwind.h = nullptr;
    return finishHistogram(&h, colors);
}

void ppm_freecolorhist(ColorHist hist) { free(hist); }
