#include "rows.h"

#include <cstdlib>

namespace rasterpack {

namespace {

// Tables above this many entries cost more to fill than they save.
const Sample MAX_TABLE_MAXVAL = 65535;

// A mask value brought to the PNG depth, through the table when there is one.
inline Sample rescaleToPng(Sample v, const uint16_t* table, Sample maxval, Sample pngMaxval) {
    if (table) return table[v];
    return maxval == pngMaxval ? v : pm_rescalesample(v, maxval, pngMaxval);
}

inline uint8_t* putSample(uint8_t* out, Sample v, bool wide) {
    if (wide) *out++ = static_cast<uint8_t>(v >> 8);
    *out++ = static_cast<uint8_t>(v);
    return out;
}

}  // namespace

uint16_t* makeSampleTable(Sample maxval, Sample pngMaxval, bool* failed) {
    *failed = false;
    if (maxval == pngMaxval || maxval > MAX_TABLE_MAXVAL) return nullptr;
    auto* table = static_cast<uint16_t*>(malloc((size_t(maxval) + 1) * sizeof(uint16_t)));
    if (!table) {
        *failed = true;
        return nullptr;
    }
    for (Sample v = 0; v <= maxval; ++v) table[v] = static_cast<uint16_t>(pm_rescalesample(v, maxval, pngMaxval));
    return table;
}

size_t pngRowBufferSize(int cols) { return (cols > 0 ? size_t(cols) : 1) * 8; }

void encodePngRow(const RowEncoding* e, const Xel* row, int cols, int y, uint8_t* out) {
    if (e->colorType == 3) {
        const Sample* maskRow = e->mask ? e->mask->rows[y] : nullptr;
        for (int x = 0; x < cols; ++x)
            out[x] = static_cast<uint8_t>(lookupPaletteIndex(e->palette, &row[x], maskRow ? maskRow[x] : 0));
        return;
    }
    const bool wide = e->depth == 16;
    const bool color = (e->colorType & 2) != 0;
    const Sample* maskRow = (e->colorType & 4) ? e->mask->rows[y] : nullptr;
    const bool unchanged = e->maxval == e->pngMaxval;
    const uint16_t* table = e->sampleTable;
    for (int x = 0; x < cols; ++x) {
        Sample r = row[x].r, g = row[x].g, b = row[x].b;
        if (!unchanged) {
            if (table) {
                r = table[r], g = table[g], b = table[b];
            } else {
                r = pm_rescalesample(r, e->maxval, e->pngMaxval);
                g = pm_rescalesample(g, e->maxval, e->pngMaxval);
                b = pm_rescalesample(b, e->maxval, e->pngMaxval);
            }
        }
        if (color) {
            out = putSample(out, r, wide);
            out = putSample(out, g, wide);
        }
        out = putSample(out, b, wide);
        if (maskRow)
            out = putSample(out, rescaleToPng(maskRow[x], e->alphaTable, e->mask->maxval, e->pngMaxval), wide);
    }
}

}  // namespace rasterpack
