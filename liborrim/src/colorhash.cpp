// colorhash.cpp - colour -> int maps: the open-addressing colour table shared
// with the histograms, and the public ColorHash calls on top of it.
#include "colorhash_internal.h"

#include <orrim.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

struct ColorHashTable {
    ColorTable table;
};

namespace {

const size_t MIN_SLOTS = 64;
// Slots may fill to half before the table doubles: short probe runs matter
// more than memory here.
const size_t LOAD_NUM = 1, LOAD_DEN = 2;

size_t slotLimit = 0;

bool slotsAllowed(size_t slots) {
    if (slots > SIZE_MAX / sizeof(ColorSlot)) return false;
    return slotLimit == 0 || slots <= slotLimit;
}

// Largest number of colours a table of that many slots holds before growing.
size_t colorsFitting(size_t slots) { return slots / LOAD_DEN * LOAD_NUM; }

int log2Exact(size_t n) {
    int bits = 0;
    while ((size_t(1) << bits) < n) ++bits;
    return bits;
}

// Tables this large go on huge pages where the system offers them: look-ups
// land at random across the table, and small pages would miss the TLB
// on nearly every one.
const size_t HUGE_PAGE = size_t(2) << 20;

// Fresh slot array, every slot empty (all bits set is EMPTY_KEY), or null.
ColorSlot* allocSlots(size_t slots) {
    if (!slotsAllowed(slots)) return nullptr;
    size_t bytes = slots * sizeof(ColorSlot);
    void* s = nullptr;
    // Buckets start on cache lines.
    if (posix_memalign(&s, bytes >= HUGE_PAGE ? HUGE_PAGE : 64, bytes) != 0) return nullptr;
    if (bytes >= HUGE_PAGE) madvise(s, bytes, MADV_HUGEPAGE);
    memset(s, 0xFF, bytes);
    return static_cast<ColorSlot*>(s);
}

bool growTable(ColorTable* t) {
    if (t->capacity > SIZE_MAX / 2) return false;
    size_t newCapacity = t->capacity * 2;
    ColorSlot* fresh = allocSlots(newCapacity);
    if (!fresh) return false;
    ColorSlot* old = t->slots;
    size_t oldCapacity = t->capacity;
    t->slots = fresh;
    t->capacity = newCapacity;
    t->shift = 64 - log2Exact(newCapacity);
    // The slot comes from the code's top bits, so old slots map onto the new
    // array in nearly the same order: this pass runs through both sequentially.
    for (size_t i = 0; i < oldCapacity; ++i) {
        if (isEmptyKey(old[i].key)) continue;
        *colorTableProbe(t, old[i].key, colorHashCode(old[i].key)) = old[i];
    }
    free(old);
    return true;
}

ColorHash newColorHash(size_t minColors, const char* what) {
    ColorHash hash = new (std::nothrow) ColorHashTable;
    if (!hash || !colorTableInit(&hash->table, minColors)) {
        delete hash;
        pm_error("out of memory allocating %s", what);
    }
    return hash;
}

void requireHash(const ColorHash hash, const char* caller) {
    if (!hash) pm_error("%s: no colour hash given", caller);
}

}  // namespace

void colorTableSetSlotLimit(size_t maxSlots) { slotLimit = maxSlots; }

bool colorTableInit(ColorTable* t, size_t minColors) {
    size_t slots = MIN_SLOTS;
    while (colorsFitting(slots) < minColors) {
        if (slots > SIZE_MAX / 2) break;
        slots *= 2;
    }
    t->slots = colorsFitting(slots) >= minColors ? allocSlots(slots) : nullptr;
    t->capacity = t->slots ? slots : 0;
    t->shift = 64 - log2Exact(slots);
    t->count = 0;
    t->hasEmptyKey = false;
    t->emptyKeyValue = 0;
    return t->slots != nullptr;
}

void colorTableFree(ColorTable* t) {
    free(t->slots);
    t->slots = nullptr;
    t->capacity = 0;
    t->count = 0;
    t->hasEmptyKey = false;
}

bool colorTableAddNew(ColorTable* t, const Pixel& color, uint64_t code, uint32_t value) {
    if (isEmptyKey(color)) {
        t->hasEmptyKey = true;
        t->emptyKeyValue = value;
        return true;
    }
    if (t->count + 1 > colorsFitting(t->capacity)) {
        if (!growTable(t)) return false;
    }
    ColorSlot* s = colorTableProbe(t, color, code);
    s->key = color;
    s->value = value;
    ++t->count;
    return true;
}

ColorHash ppm_alloccolorhash() { return newColorHash(0, "a colour hash"); }

ColorHash ppm_colorhisttocolorhash(const ColorHist hist, int colors) {
    if (colors < 0 || (colors > 0 && !hist)) pm_error("ppm_colorhisttocolorhash: invalid histogram (%d colours)", colors);
    ColorHash hash = newColorHash(size_t(colors), "a colour hash for the histogram");
    for (int i = 0; i < colors; ++i) {
        const Pixel& c = hist[i].color;
        uint64_t code = colorHashCode(c);
        // A colour listed twice keeps its first index.
        if (colorTableFind(&hash->table, c, code)) continue;
        if (!colorTableAddNew(&hash->table, c, code, uint32_t(i))) {
            ppm_freecolorhash(hash);
            pm_error("out of memory allocating a colour hash for the histogram");
        }
    }
    return hash;
}

int ppm_addtocolorhash(ColorHash hash, const Pixel* color, int value) {
    requireHash(hash, "ppm_addtocolorhash");
    if (!color) pm_error("ppm_addtocolorhash: no colour given");
    uint64_t code = colorHashCode(*color);
    if (uint32_t* v = colorTableFind(&hash->table, *color, code)) {
        *v = uint32_t(value);
        return 0;
    }
    return colorTableAddNew(&hash->table, *color, code, uint32_t(value)) ? 0 : -1;
}

int ppm_lookupcolor(ColorHash hash, const Pixel* color) {
    requireHash(hash, "ppm_lookupcolor");
    if (!color) pm_error("ppm_lookupcolor: no colour given");
    const uint32_t* v = colorTableFind(&hash->table, *color, colorHashCode(*color));
    return v ? int(*v) : -1;
}

void ppm_freecolorhash(ColorHash hash) {
    if (!hash) return;
    colorTableFree(&hash->table);
    delete hash;
}
