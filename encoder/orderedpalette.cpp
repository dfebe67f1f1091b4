#include "orderedpalette.h"

#include "raster.h"

namespace rasterpack {

void readOrderedPalette(FILE* stream, bool verbose, OrderedPalette* ordered) {
    if (verbose) pm_message("reading ordered palette (colormap)...");
    int cols = 0, rows = 0, format = 0;
    Sample maxval = 0;
    // The header first: a file of the wrong type or size is refused before
    // any of its raster is read or allocated.
    pnm_readpnminit(stream, &cols, &rows, &maxval, &format);
    if (pnm_formattype(format) != PPM_FORMAT) pm_error("ordered palette must be a PPM file, not type %d", format);
    long long pixels = static_cast<long long>(cols) * rows;
    if (pixels > MAX_PALETTE_COLORS)
        pm_error("ordered-palette image contains %lld pixels.  Maximum is %d", pixels, MAX_PALETTE_COLORS);
    if (verbose) pm_message("%d colors found", static_cast<int>(pixels));
    ScopedRow scoped(cols);
    Xel* row = scoped.row;
    ordered->count = 0;
    for (int y = 0; y < rows && cols > 0; ++y) {
        pnm_readpnmrow(stream, row, cols, maxval, format);
        for (int x = 0; x < cols; ++x) ordered->entries[ordered->count++] = row[x];
    }
}

void orderPalette(const ColorHist hist, int count, const OrderedPalette* ordered, Colormap* colormap) {
    if (ordered->count != count)
        pm_error("sizes of ordered palette (%d) and existing palette (%d) differ", ordered->count, count);
    for (int c = 0; c < count; ++c) {
        const Pixel& color = hist[c].color;
        bool found = false;
        for (int i = 0; i < ordered->count && !found; ++i) found = ordered->entries[i] == color;
        if (!found)
            pm_error("failed to find color (%u, %u, %u), which is in the input image, in the ordered palette",
                     color.r, color.g, color.b);
    }
    for (int i = 0; i < ordered->count; ++i) colormap->palette[i] = ordered->entries[i];
    colormap->paletteSize = ordered->count;
    colormap->transSize = 0;
}

}  // namespace rasterpack
