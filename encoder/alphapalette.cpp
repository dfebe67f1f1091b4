#include "alphapalette.h"

#include <cstdlib>

namespace rasterpack {

struct ColorAlphaNode {
    uint32_t red, green, blue;
    uint32_t alpha;  // mask units
    int index;
    ColorAlphaNode* next;
};

struct ColorAlphaHash {
    ColorAlphaNode* buckets[COLOR_ALPHA_HASH_SIZE];
};

namespace {

// The distinct mask values of one histogram colour, in order of first
// appearance. A colour with more than 256 of them already means more than
// 256 pairs, so the list stops growing there and the pass ends.
struct AlphaList {
    Sample values[MAX_PALETTE_COLORS];
    int length;
};

// Adds value to the list unless present; false when the list is full.
bool noteAlpha(AlphaList* list, Sample value) {
    for (int i = 0; i < list->length; ++i)
        if (list->values[i] == value) return true;
    if (list->length == MAX_PALETTE_COLORS) return false;
    list->values[list->length++] = value;
    return true;
}

// Collects every colour's mask values; false as soon as there are more than
// 256 pairs.
bool collectAlphas(const RasterSource* raster, const AlphaMask* mask, ColorHash colorIndex, AlphaList* lists) {
    ScopedRow scoped(raster->cols);
    Xel* row = scoped.row;
    rewindRaster(raster);
    int pairs = 0;
    bool fits = true;
    for (int y = 0; y < raster->rows && fits; ++y) {
        pnm_readpnmrow(raster->input, row, raster->cols, raster->maxval, raster->format);
        const Sample* maskRow = mask->rows[y];
        for (int x = 0; x < raster->cols; ++x) {
            // every colour of the image is in the histogram
            AlphaList* list = &lists[ppm_lookupcolor(colorIndex, &row[x])];
            int before = list->length;
            if (!noteAlpha(list, maskRow[x])) {
                fits = false;
                break;
            }
            pairs += list->length - before;
            if (pairs > MAX_PALETTE_COLORS) {
                fits = false;
                break;
            }
        }
    }
    return fits;
}

}  // namespace

bool buildAlphaPalette(const RasterSource* raster, const AlphaMask* mask, const ColorHist hist, int count,
                       Colormap* colormap) {
    // Given back however the pass ends (see ScopedRow).
    struct Holdings {
        ColorHash colorIndex = nullptr;
        AlphaList* lists = nullptr;
        ~Holdings() {
            if (colorIndex) ppm_freecolorhash(colorIndex);
            free(lists);
        }
    } held;
    held.colorIndex = ppm_colorhisttocolorhash(hist, count);
    AlphaList* lists = held.lists = static_cast<AlphaList*>(calloc(size_t(count > 0 ? count : 1), sizeof(AlphaList)));
    if (!lists) pm_error("out of memory allocating alpha/palette entries");
    if (!collectAlphas(raster, mask, held.colorIndex, lists)) return false;
    int pairs = 0;
    for (int c = 0; c < count; ++c) pairs += lists[c].length;
    // Non-opaque pairs from the front in enumeration order, opaque ones from
    // the back: tRNS then needs bytes only for the front.
    int bottom = 0, top = pairs - 1;
    for (int c = 0; c < count; ++c) {
        for (int i = 0; i < lists[c].length; ++i) {
            Sample alpha = lists[c].values[i];
            int index = alpha == mask->maxval ? top-- : bottom++;
            colormap->palette[index] = hist[c].color;
            colormap->paletteAlpha[index] = alpha;
        }
    }
    colormap->paletteSize = pairs;
    colormap->transSize = bottom;
    return true;
}

unsigned colorAlphaHashValue(const Pixel& color) {
    uint32_t sum = color.r * 33023u + color.g * 30013u + color.b * 27011u;
    return (sum & 0x7FFFFFFFu) % COLOR_ALPHA_HASH_SIZE;
}

ColorAlphaHash* buildColorAlphaHash(const Colormap* colormap) {
    auto* table = static_cast<ColorAlphaHash*>(calloc(1, sizeof(ColorAlphaHash)));
    if (!table) pm_error("out of memory allocating hash table");
    for (int i = 0; i < colormap->paletteSize; ++i) {
        auto* node = static_cast<ColorAlphaNode*>(malloc(sizeof(ColorAlphaNode)));
        if (!node) {
            freeColorAlphaHash(table);
            pm_error("Out of memory building hash table");
        }
        const Pixel& p = colormap->palette[i];
        unsigned bucket = colorAlphaHashValue(p);
        *node = ColorAlphaNode{p.r, p.g, p.b, colormap->paletteAlpha[i], i, table->buckets[bucket]};
        table->buckets[bucket] = node;
    }
    return table;
}

int lookupColorAlpha(const ColorAlphaHash* table, Sample red, Sample green, Sample blue, Sample alpha) {
    for (const ColorAlphaNode* n = table->buckets[colorAlphaHashValue(Pixel{red, green, blue})]; n; n = n->next)
        if (n->red == red && n->green == green && n->blue == blue && n->alpha == alpha) return n->index;
    return -1;
}

void freeColorAlphaHash(ColorAlphaHash* table) {
    if (!table) return;
    for (ColorAlphaNode*& head : table->buckets) {
        while (head) {
            ColorAlphaNode* next = head->next;
            free(head);
            head = next;
        }
    }
    free(table);
}

}  // namespace rasterpack
