#include "histogram.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace huecut {

void rescalePixels(Pixel** pixels, int cols, int rows, Sample oldMaxval, Sample newMaxval) {
    // One division per possible sample value instead of three per pixel.
    std::vector<Sample> table(static_cast<size_t>(oldMaxval) + 1);
    for (Sample s = 0; s <= oldMaxval; ++s) table[s] = pm_rescalesample(s, oldMaxval, newMaxval);
    for (int y = 0; y < rows; ++y) {
        Pixel* row = pixels[y];
        for (int x = 0; x < cols; ++x) {
            if (std::max(std::max(row[x].r, row[x].g), row[x].b) > oldMaxval)
                pm_error("sample above maxval %u in the image", oldMaxval);
            row[x].r = table[row[x].r];
            row[x].g = table[row[x].g];
            row[x].b = table[row[x].b];
        }
    }
}

namespace {

// Colour -> position in a list of ColorCount, by open addressing over the
// colour packed into one word; the table stays at most three quarters full.
struct IndexSlot {
    uint64_t key;  // EMPTY_KEY where free
    uint32_t position;
};

struct ColorIndex {
    std::vector<IndexSlot> slots;
    size_t used = 0;
};

const uint64_t EMPTY_KEY = UINT64_MAX;

inline uint64_t packColor(Sample r, Sample g, Sample b) {
    return static_cast<uint64_t>(r) << 32 | static_cast<uint64_t>(g) << 16 | b;
}

inline size_t slotOf(uint64_t key, size_t mask) {
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 29) & mask;
}

void resetIndex(ColorIndex& index, size_t slots) {
    index.slots.assign(slots, IndexSlot{EMPTY_KEY, 0});
    index.used = 0;
}

void growIndex(ColorIndex& index) {
    std::vector<IndexSlot> old;
    old.swap(index.slots);
    resetIndex(index, old.size() * 2);
    const size_t mask = index.slots.size() - 1;
    for (const IndexSlot& s : old) {
        if (s.key == EMPTY_KEY) continue;
        size_t slot = slotOf(s.key, mask);
        while (index.slots[slot].key != EMPTY_KEY) slot = (slot + 1) & mask;
        index.slots[slot] = s;
        ++index.used;
    }
}

// Adds count pixels of the colour to list (appending it when new) and
// returns the colour's position in list.
uint32_t addColor(ColorIndex& index, std::vector<ColorCount>& list, Sample r, Sample g, Sample b, uint32_t count) {
    const uint64_t key = packColor(r, g, b);
    const size_t mask = index.slots.size() - 1;
    size_t slot = slotOf(key, mask);
    while (index.slots[slot].key != EMPTY_KEY) {
        if (index.slots[slot].key == key) {
            list[index.slots[slot].position].count += count;
            return index.slots[slot].position;
        }
        slot = (slot + 1) & mask;
    }
    if (4 * (index.used + 1) > 3 * index.slots.size()) {
        growIndex(index);
        return addColor(index, list, r, g, b, count);
    }
    const uint32_t position = static_cast<uint32_t>(list.size());
    index.slots[slot] = IndexSlot{key, position};
    ++index.used;
    list.push_back(ColorCount{static_cast<uint16_t>(r), static_cast<uint16_t>(g), static_cast<uint16_t>(b), count});
    return position;
}

// Below this maxval every colour gets its own counter: no hashing at all.
const Sample DIRECT_COUNT_MAX_MAXVAL = 63;

void checkPixelTotal(int cols, int rows) {
    if (static_cast<uint64_t>(cols) * static_cast<uint64_t>(rows) > UINT32_MAX)
        pm_error("image too large to count its colors: %d x %d pixels", cols, rows);
}

[[noreturn]] void sampleAboveMaxval(Sample maxval) { pm_error("sample above maxval %u in the image", maxval); }

// Counts the colours into list in order of first pixel; false as soon as
// there are more than limit.
bool countColorsDirectly(Pixel** pixels, int cols, int rows, Sample maxval, size_t limit,
                         std::vector<ColorCount>& list) {
    const size_t side = static_cast<size_t>(maxval) + 1;
    std::vector<uint32_t> counts(side * side * side, 0);
    std::vector<uint32_t> order;  // keys, in order of first pixel
    for (int y = 0; y < rows; ++y) {
        const Pixel* row = pixels[y];
        for (int x = 0; x < cols; ++x) {
            const Pixel& p = row[x];
            if (p.r > maxval || p.g > maxval || p.b > maxval) sampleAboveMaxval(maxval);
            const size_t key = (p.r * side + p.g) * side + p.b;
            if (counts[key]++ == 0) {
                if (order.size() == limit) return false;
                order.push_back(static_cast<uint32_t>(key));
            }
        }
    }
    list.clear();
    list.reserve(order.size());
    for (uint32_t key : order)
        list.push_back(ColorCount{static_cast<uint16_t>(key / side / side), static_cast<uint16_t>(key / side % side),
                                  static_cast<uint16_t>(key % side), counts[key]});
    return true;
}

bool countColorsHashed(Pixel** pixels, int cols, int rows, size_t limit, std::vector<ColorCount>& list,
                       uint32_t* position) {
    list.clear();
    ColorIndex index;
    resetIndex(index, 1024);
    for (int y = 0; y < rows; ++y) {
        const Pixel* row = pixels[y];
        int x = 0;
        while (x < cols) {
            // Runs of one colour are common and cost one look-up.
            int end = x + 1;
            while (end < cols && row[end] == row[x]) ++end;
            const uint32_t at = addColor(index, list, row[x].r, row[x].g, row[x].b, static_cast<uint32_t>(end - x));
            if (list.size() > limit) return false;
            if (position) position = std::fill_n(position, end - x, at);
            x = end;
        }
    }
    return true;
}

// At maxval 255 and below a colour fits 24 bits: a bitmap of all of them
// (2 MiB) and a count of set bits before each word give every colour present
// a dense number, without hashing. This is much faster than the hash for
// images of very many colours, whose tables outgrow the caches.
const Sample BITMAP_COUNT_MAX_MAXVAL = 255;

inline uint32_t key24(const Pixel& p) { return p.r << 16 | p.g << 8 | p.b; }

void countColorsByBitmap(Pixel** pixels, int cols, int rows, Sample maxval, std::vector<ColorCount>& list,
                         uint32_t* position) {
    std::vector<uint64_t> present(static_cast<size_t>(1) << 18, 0);
    for (int y = 0; y < rows; ++y) {
        const Pixel* row = pixels[y];
        for (int x = 0; x < cols; ++x) {
            const Pixel& p = row[x];
            if (p.r > maxval || p.g > maxval || p.b > maxval) sampleAboveMaxval(maxval);
            const uint32_t key = key24(p);
            present[key >> 6] |= static_cast<uint64_t>(1) << (key & 63);
        }
    }
    std::vector<uint32_t> before(present.size());
    uint32_t distinct = 0;
    for (size_t w = 0; w < present.size(); ++w) {
        before[w] = distinct;
        distinct += static_cast<uint32_t>(__builtin_popcountll(present[w]));
    }
    // Dense numbers follow the colours' order; the list follows first pixels.
    const uint32_t UNSEEN = UINT32_MAX;
    std::vector<uint32_t> listed(distinct, UNSEEN);
    list.clear();
    list.reserve(distinct);
    for (int y = 0; y < rows; ++y) {
        const Pixel* row = pixels[y];
        for (int x = 0; x < cols; ++x) {
            const Pixel& p = row[x];
            const uint32_t key = key24(p);
            const uint64_t below = present[key >> 6] & ((static_cast<uint64_t>(1) << (key & 63)) - 1);
            const uint32_t dense = before[key >> 6] + static_cast<uint32_t>(__builtin_popcountll(below));
            uint32_t& at = listed[dense];
            if (at == UNSEEN) {
                at = static_cast<uint32_t>(list.size());
                list.push_back(ColorCount{static_cast<uint16_t>(p.r), static_cast<uint16_t>(p.g),
                                          static_cast<uint16_t>(p.b), 0});
            }
            ++list[at].count;
            if (position) *position++ = at;
        }
    }
}

}  // namespace

std::vector<ColorHistEntry> computeHistogram(Pixel** pixels, int cols, int rows, Sample maxval, int* colors,
                                             Sample* newMaxval) {
    checkPixelTotal(cols, rows);
    std::vector<ColorCount> list;
    for (;;) {
        pm_message("making histogram...");
        const bool fits = maxval <= DIRECT_COUNT_MAX_MAXVAL
                              ? countColorsDirectly(pixels, cols, rows, maxval, MAX_HIST_COLORS, list)
                              : countColorsHashed(pixels, cols, rows, MAX_HIST_COLORS, list, nullptr);
        if (fits) break;
        // Fewer levels per sample merge near colours until they can be counted;
        // at maxval 1 there are at most 8 colours, so this ends.
        pm_message("too many colors!");
        Sample halved = maxval / 2;
        pm_message("scaling colors from maxval=%d to maxval=%d to improve clustering...", static_cast<int>(maxval),
                   static_cast<int>(halved));
        rescalePixels(pixels, cols, rows, maxval, halved);
        maxval = halved;
    }
    *colors = static_cast<int>(list.size());
    pm_message("%d colors found", *colors);
    *newMaxval = maxval;
    std::vector<ColorHistEntry> hist;
    hist.reserve(list.size());
    for (const ColorCount& c : list) hist.push_back(ColorHistEntry{Pixel{c.r, c.g, c.b}, static_cast<long>(c.count)});
    return hist;
}

std::vector<ColorCount> countImageColors(Pixel** pixels, int cols, int rows, Sample maxval,
                                         std::vector<uint32_t>* pixelColors) {
    checkPixelTotal(cols, rows);
    if (pixelColors) pixelColors->resize(static_cast<size_t>(cols) * rows);
    uint32_t* position = pixelColors ? pixelColors->data() : nullptr;
    std::vector<ColorCount> list;
    if (maxval <= BITMAP_COUNT_MAX_MAXVAL)
        countColorsByBitmap(pixels, cols, rows, maxval, list, position);
    else
        countColorsHashed(pixels, cols, rows, SIZE_MAX, list, position);
    return list;
}

std::vector<ColorHistEntry> histogramFromColors(const std::vector<ColorCount>& colors, Sample maxval,
                                                Sample* newMaxval) {
    std::vector<ColorCount> level = colors;
    for (;;) {
        pm_message("making histogram...");
        if (level.size() <= static_cast<size_t>(MAX_HIST_COLORS)) break;
        pm_message("too many colors!");
        const Sample halved = maxval / 2;
        pm_message("scaling colors from maxval=%d to maxval=%d to improve clustering...", static_cast<int>(maxval),
                   static_cast<int>(halved));
        // The first colour in list order to reach a coarse colour is the one
        // whose first pixel comes first, so the merged list keeps the image's
        // order of first occurrence.
        std::vector<Sample> table(static_cast<size_t>(maxval) + 1);
        for (Sample s = 0; s <= maxval; ++s) table[s] = pm_rescalesample(s, maxval, halved);
        std::vector<ColorCount> merged;
        ColorIndex index;
        resetIndex(index, 1024);
        for (const ColorCount& c : level) addColor(index, merged, table[c.r], table[c.g], table[c.b], c.count);
        level.swap(merged);
        maxval = halved;
    }
    pm_message("%d colors found", static_cast<int>(level.size()));
    // Same list-to-histogram step as computeHistogram.
    std::vector<ColorHistEntry> hist;
    hist.reserve(level.size());
    for (const ColorCount& c : level) hist.push_back(ColorHistEntry{Pixel{c.r, c.g, c.b}, static_cast<long>(c.count)});
    *newMaxval = maxval;
    return hist;
}

}  // namespace huecut
