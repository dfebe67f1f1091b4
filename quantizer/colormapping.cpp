#include "colormapping.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace huecut {

void initColorMapping(ColorMapping* mapping, const ColorHistEntry* map, int mapSize, int searchSize, Sample maxval) {
    mapping->map = map;
    mapping->mapSize = mapSize;
    mapping->maxval = maxval;
    mapping->search = buildColorSearch(map, searchSize < mapSize ? searchSize : mapSize, maxval);
    mapping->hash.reset(ppm_alloccolorhash());
    mapping->useHash = true;
    mapping->direct.reset();
    mapping->recent.clear();
    if (maxval <= DIRECT_ANSWERS_MAX_MAXVAL) {
        const size_t side = static_cast<size_t>(maxval) + 1;
        mapping->direct.reset(static_cast<uint16_t*>(calloc(side * side * side, sizeof(uint16_t))));
    }
    if (!mapping->direct) {
        mapping->recent.assign(static_cast<size_t>(1) << RECENT_COLORS_BITS,
                               RecentColor{Pixel{UINT32_MAX, UINT32_MAX, UINT32_MAX}, 0});
    }
}

namespace {

OwnedRow<int32_t> allocateErrorRow(int width) {
    return OwnedRow<int32_t>(static_cast<int32_t*>(pm_allocrow(width, sizeof(int32_t))));
}

}  // namespace

void initDitherState(DitherState* dither, int cols, unsigned int seed) {
    if (cols > INT_MAX - 2) pm_error("image too wide to dither: %d columns", cols);
    const int width = cols + 2;
    dither->thisRed = allocateErrorRow(width);
    dither->nextRed = allocateErrorRow(width);
    dither->thisGreen = allocateErrorRow(width);
    dither->nextGreen = allocateErrorRow(width);
    dither->thisBlue = allocateErrorRow(width);
    dither->nextBlue = allocateErrorRow(width);
    srandom(seed);
    for (int x = 0; x < width; ++x) {
        dither->thisRed[x] = static_cast<int32_t>(random() % (2 * DITHER_SCALE)) - DITHER_SCALE;
        dither->thisGreen[x] = static_cast<int32_t>(random() % (2 * DITHER_SCALE)) - DITHER_SCALE;
        dither->thisBlue[x] = static_cast<int32_t>(random() % (2 * DITHER_SCALE)) - DITHER_SCALE;
    }
    dither->leftToRight = true;
}

int findNearestColor(ColorMapping* mapping, const Pixel& pixel) {
    const int answer = searchNearestColor(mapping->search.get(), pixel);
    if (mapping->useHash && ppm_addtocolorhash(mapping->hash.get(), &pixel, answer) < 0) {
        pm_message("out of memory adding to hash table; proceeding without it");
        mapping->useHash = false;
    }
    return answer;
}

namespace {

// The shares of one component's error, each truncating toward zero on its
// own: 7/16 to the next pixel on the path, 3/16 below and behind, 5/16
// straight below, 1/16 below and ahead.
inline void spreadComponent(int32_t* thisRow, int32_t* nextRow, int x, bool leftToRight, Sample adjusted,
                            Sample chosen) {
    const int32_t err = (static_cast<int32_t>(adjusted) - static_cast<int32_t>(chosen)) * DITHER_SCALE;
    const int32_t sevens = err * 7 / 16, threes = err * 3 / 16, fives = err * 5 / 16, ones = err / 16;
    nextRow[x + 1] += fives;
    if (leftToRight) {
        thisRow[x + 2] += sevens;
        nextRow[x] += threes;
        nextRow[x + 2] += ones;
    } else {
        thisRow[x] += sevens;
        nextRow[x] += ones;
        nextRow[x + 2] += threes;
    }
}

// sample + error (in whole steps, truncating toward zero), kept within
// 0..maxval.
inline Sample adjustSample(Sample sample, int32_t error, Sample maxval) {
    const int32_t v = static_cast<int32_t>(sample) + error / DITHER_SCALE;
    if (v < 0) return 0;
    if (static_cast<Sample>(v) > maxval) return maxval;
    return static_cast<Sample>(v);
}

inline size_t recentSlot(const Pixel& p) {
    const uint32_t h = p.r * 0x9E3779B1u ^ p.g * 0x85EBCA77u ^ p.b * 0xC2B2AE3Du;
    return h >> (32 - RECENT_COLORS_BITS);
}

// The map index for pixel: from the recent answers, else the hash, else a
// search (which adds it to the hash).
inline int lookUpOrSearch(ColorMapping* mapping, const Pixel& pixel) {
    if (mapping->direct) {
        const size_t side = static_cast<size_t>(mapping->maxval) + 1;
        uint16_t& answer = mapping->direct[(pixel.r * side + pixel.g) * side + pixel.b];
        if (answer == 0) answer = static_cast<uint16_t>(searchNearestColor(mapping->search.get(), pixel) + 1);
        return answer - 1;
    }
    RecentColor& recent = mapping->recent[recentSlot(pixel)];
    if (recent.color == pixel) return recent.index;
    int index = ppm_lookupcolor(mapping->hash.get(), &pixel);
    if (index == -1) index = findNearestColor(mapping, pixel);
    recent.color = pixel;
    recent.index = index;
    return index;
}

}  // namespace

void diffuseError(DitherState* dither, int x, const Pixel& adjusted, const Pixel& chosen) {
    spreadComponent(dither->thisRed.get(), dither->nextRed.get(), x, dither->leftToRight, adjusted.r, chosen.r);
    spreadComponent(dither->thisGreen.get(), dither->nextGreen.get(), x, dither->leftToRight, adjusted.g, chosen.g);
    spreadComponent(dither->thisBlue.get(), dither->nextBlue.get(), x, dither->leftToRight, adjusted.b, chosen.b);
}

namespace {

void mapRowPlain(Pixel* row, int cols, ColorMapping* mapping) {
    for (int x = 0; x < cols; ++x) row[x] = mapping->map[lookUpOrSearch(mapping, row[x])].color;
}

// One component at column x: the pixel ahead on the path gets 7/16 of the
// error, the pixels below behind, below and below ahead 3/16, 5/16 and 1/16,
// each share truncating toward zero on its own (as diffuseError does).
template <bool LEFT_TO_RIGHT>
inline void spreadAlongPath(int32_t* thisRow, int32_t* nextRow, int x, Sample adjusted, Sample chosen) {
    const int32_t err = (static_cast<int32_t>(adjusted) - static_cast<int32_t>(chosen)) * DITHER_SCALE;
    const int ahead = LEFT_TO_RIGHT ? x + 2 : x, behind = LEFT_TO_RIGHT ? x : x + 2;
    thisRow[ahead] += err * 7 / 16;
    nextRow[behind] += err * 3 / 16;
    nextRow[x + 1] += err * 5 / 16;
    nextRow[ahead] += err / 16;
}

// The dithered row for one direction, which the compiler can then settle once
// instead of at every pixel.
template <bool LEFT_TO_RIGHT>
void ditherRow(Pixel* row, int cols, ColorMapping* mapping, DitherState* d) {
    int32_t *thisRed = d->thisRed.get(), *thisGreen = d->thisGreen.get(), *thisBlue = d->thisBlue.get();
    int32_t *nextRed = d->nextRed.get(), *nextGreen = d->nextGreen.get(), *nextBlue = d->nextBlue.get();
    const Sample maxval = mapping->maxval;
    const ColorHistEntry* map = mapping->map;
    for (int i = 0; i < cols; ++i) {
        const int x = LEFT_TO_RIGHT ? i : cols - 1 - i;
        Pixel& p = row[x];
        p.r = adjustSample(p.r, thisRed[x + 1], maxval);
        p.g = adjustSample(p.g, thisGreen[x + 1], maxval);
        p.b = adjustSample(p.b, thisBlue[x + 1], maxval);
        const Pixel chosen = map[lookUpOrSearch(mapping, p)].color;
        spreadAlongPath<LEFT_TO_RIGHT>(thisRed, nextRed, x, p.r, chosen.r);
        spreadAlongPath<LEFT_TO_RIGHT>(thisGreen, nextGreen, x, p.g, chosen.g);
        spreadAlongPath<LEFT_TO_RIGHT>(thisBlue, nextBlue, x, p.b, chosen.b);
        p = chosen;
    }
}

void mapRowDithered(Pixel* row, int cols, ColorMapping* mapping, DitherState* d) {
    const size_t bytes = static_cast<size_t>(cols + 2) * sizeof(int32_t);
    memset(d->nextRed.get(), 0, bytes);
    memset(d->nextGreen.get(), 0, bytes);
    memset(d->nextBlue.get(), 0, bytes);
    if (d->leftToRight)
        ditherRow<true>(row, cols, mapping, d);
    else
        ditherRow<false>(row, cols, mapping, d);
    std::swap(d->thisRed, d->nextRed);
    std::swap(d->thisGreen, d->nextGreen);
    std::swap(d->thisBlue, d->nextBlue);
    d->leftToRight = !d->leftToRight;
}

}  // namespace

void mapRow(Pixel* row, int cols, ColorMapping* mapping, unsigned int floyd, DitherState* dither) {
    if (floyd)
        mapRowDithered(row, cols, mapping, dither);
    else
        mapRowPlain(row, cols, mapping);
}

void mapRowByColorList(Pixel* row, int cols, const ColorMapping* mapping, const uint32_t* colorOfPixel,
                       const std::vector<int>& nearest) {
    for (int x = 0; x < cols; ++x) row[x] = mapping->map[nearest[colorOfPixel[x]]].color;
}

}  // namespace huecut
