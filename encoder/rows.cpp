#include "rows.h"

#include <cstdlib>

namespace {

// Tables above this many entries cost more to fill than they save.
const Sample MAX_TABLE_MAXVAL = 65535;

// A mask value brought to the PNG depth, through the table when there is one.
inline Sample rescaleToPng(Sample v, const png_uint_16* table, Sample maxval, Sample pngMaxval) {
    if (table) return table[v];
    return maxval == pngMaxval ? v : pm_rescalesample(v, maxval, pngMaxval);
}

inline png_bytep putSample(png_bytep out, Sample v, bool wide) {
    if (wide) *out++ = static_cast<png_byte>(v >> 8);
    *out++ = static_cast<png_byte>(v);
    return out;
}

// Which rows Adam7 pass p takes; libpng ignores the others, so they need no encoding.
bool rowInPass(int pass, int y) {
    switch (pass) {
    case 0:
    case 1: return (y & 7) == 0;
    case 2: return (y & 7) == 4;
    case 3: return (y & 3) == 0;
    case 4: return (y & 3) == 2;
    case 5: return (y & 1) == 0;
    default: return (y & 1) == 1;
    }
}

}  // namespace

png_uint_16* makeSampleTable(Sample maxval, Sample pngMaxval, bool* failed) {
    *failed = false;
    if (maxval == pngMaxval || maxval > MAX_TABLE_MAXVAL) return nullptr;
    auto* table = static_cast<png_uint_16*>(malloc((size_t(maxval) + 1) * sizeof(png_uint_16)));
    if (!table) {
        *failed = true;
        return nullptr;
    }
    for (Sample v = 0; v <= maxval; ++v) table[v] = static_cast<png_uint_16>(pm_rescalesample(v, maxval, pngMaxval));
    return table;
}

size_t pngRowBufferSize(int cols) { return (cols > 0 ? size_t(cols) : 1) * 8; }

void encodePngRow(const RowEncoding* e, const Xel* row, int cols, int y, png_bytep out) {
    if (e->colorType == PNG_COLOR_TYPE_PALETTE) {
        const Sample* maskRow = e->mask ? e->mask->rows[y] : nullptr;
        for (int x = 0; x < cols; ++x)
            out[x] = static_cast<png_byte>(lookupPaletteIndex(e->colormap, &row[x], maskRow ? maskRow[x] : 0));
        return;
    }
    const bool wide = e->depth == 16;
    const bool color = (e->colorType & PNG_COLOR_MASK_COLOR) != 0;
    const Sample* maskRow = (e->colorType & PNG_COLOR_MASK_ALPHA) ? e->mask->rows[y] : nullptr;
    const bool unchanged = e->maxval == e->pngMaxval;
    const png_uint_16* table = e->sampleTable;
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

void writeImageRows(png_structp png, int passes, const RasterSource* raster, const RowEncoding* encoding,
                    Xel* xelRow, png_bytep pngRow) {
    // Grey and bit rows are read with their value in all three samples, so
    // they need no promotion before encoding.
    for (int pass = 0; pass < passes; ++pass) {
        rewindRaster(raster);
        for (int y = 0; y < raster->rows; ++y) {
            pnm_readpnmrow(raster->input, xelRow, raster->cols, raster->maxval, raster->format);
            if (passes == 1 || rowInPass(pass, y)) encodePngRow(encoding, xelRow, raster->cols, y, pngRow);
            png_write_row(png, pngRow);
        }
    }
}

bool writeImageRowsTo(ImageDataWriter* writer, int passes, const RasterSource* raster, const RowEncoding* encoding,
                      Xel* xelRow, png_bytep pngRow) {
    for (int pass = 0; pass < passes; ++pass) {
        rewindRaster(raster);
        for (int y = 0; y < raster->rows; ++y) {
            pnm_readpnmrow(raster->input, xelRow, raster->cols, raster->maxval, raster->format);
            if (passes == 1 || rowInPass(pass, y)) encodePngRow(encoding, xelRow, raster->cols, y, pngRow);
            if (!addImageDataRow(writer, pngRow)) return false;
        }
    }
    return true;
}
