#include "imagelayout.h"

#include <cstring>

namespace rasterpack {

namespace {

const uint32_t ADAM7_X_START[ADAM7_PASSES] = {0, 4, 0, 2, 0, 1, 0};
const uint32_t ADAM7_X_STEP[ADAM7_PASSES] = {8, 8, 4, 4, 2, 2, 1};
const uint32_t ADAM7_Y_START[ADAM7_PASSES] = {0, 0, 4, 0, 2, 0, 1};
const uint32_t ADAM7_Y_STEP[ADAM7_PASSES] = {8, 8, 8, 4, 4, 2, 2};

uint32_t takenCount(uint32_t size, uint32_t start, uint32_t step) {
    return size > start ? (size - start + step - 1) / step : 0;
}

}  // namespace

int passCount(const ImageDataLayout* layout) { return layout->interlaced ? ADAM7_PASSES : 1; }

int bitsPerPixel(const ImageDataLayout* layout) { return layout->depth * layout->channels; }

size_t filterStride(const ImageDataLayout* layout) {
    int bits = bitsPerPixel(layout);
    return bits < 8 ? 1 : size_t(bits / 8);
}

PassGeometry passGeometry(const ImageDataLayout* layout, int pass) {
    PassGeometry g;
    if (layout->interlaced) {
        g.xStart = ADAM7_X_START[pass];
        g.xStep = ADAM7_X_STEP[pass];
        g.yStart = ADAM7_Y_START[pass];
        g.yStep = ADAM7_Y_STEP[pass];
    }
    g.width = takenCount(layout->width, g.xStart, g.xStep);
    g.height = takenCount(layout->height, g.yStart, g.yStep);
    if (g.width == 0) g.height = 0;
    if (g.height == 0) g.width = 0;
    g.rowBytes = (uint64_t(g.width) * uint64_t(bitsPerPixel(layout)) + 7) / 8;
    return g;
}

bool passTakesRow(const PassGeometry* pass, uint32_t y) {
    return pass->height > 0 && y >= pass->yStart && (y - pass->yStart) % pass->yStep == 0;
}

uint64_t storedRowCount(const ImageDataLayout* layout) {
    uint64_t count = 0;
    for (int p = 0; p < passCount(layout); ++p) count += passGeometry(layout, p).height;
    return count;
}

uint64_t filteredDataSize(const ImageDataLayout* layout) {
    uint64_t size = 0;
    for (int p = 0; p < passCount(layout); ++p) {
        PassGeometry g = passGeometry(layout, p);
        size += uint64_t(g.height) * (g.rowBytes + 1);
    }
    return size;
}

uint64_t inputRowBytes(const ImageDataLayout* layout) {
    // Below depth 8 each sample still takes a byte.
    int bytesPerSample = layout->depth == 16 ? 2 : 1;
    return uint64_t(layout->width) * uint64_t(layout->channels) * uint64_t(bytesPerSample);
}

void extractPassRow(const ImageDataLayout* layout, const PassGeometry* pass, const uint8_t* row, uint8_t* out) {
    if (layout->depth < 8) {
        const int depth = layout->depth;
        const unsigned mask = (1u << depth) - 1;
        memset(out, 0, pass->rowBytes);
        int shift = 8 - depth;
        uint8_t* byte = out;
        for (uint64_t x = pass->xStart; x < layout->width; x += pass->xStep) {
            *byte = static_cast<uint8_t>(*byte | ((row[x] & mask) << shift));
            if (shift == 0) {
                shift = 8 - depth;
                ++byte;
            } else {
                shift -= depth;
            }
        }
        return;
    }
    const size_t pixelBytes = size_t(bitsPerPixel(layout) / 8);
    if (pass->xStep == 1) {
        memcpy(out, row, pass->rowBytes);
        return;
    }
    for (uint64_t x = pass->xStart; x < layout->width; x += pass->xStep, out += pixelBytes)
        memcpy(out, row + x * pixelBytes, pixelBytes);
}

RowCursor startRowCursor(const ImageDataLayout* layout) {
    RowCursor c;
    c.geometry = passGeometry(layout, 0);
    return c;
}

bool cursorDone(const ImageDataLayout* layout, const RowCursor* cursor) { return cursor->pass >= passCount(layout); }

bool cursorTakesRow(const RowCursor* cursor) { return passTakesRow(&cursor->geometry, cursor->y); }

void advanceRowCursor(const ImageDataLayout* layout, RowCursor* cursor) {
    if (++cursor->y < layout->height) return;
    cursor->y = 0;
    ++cursor->pass;
    if (cursor->pass < passCount(layout)) cursor->geometry = passGeometry(layout, cursor->pass);
    cursor->firstOfPass = true;
}

}  // namespace rasterpack
