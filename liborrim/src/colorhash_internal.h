// colorhash_internal.h - the open-addressing colour table under both the
// colour hashes and the histograms. Private to the library (and its tests).
#ifndef COLORHASH_INTERNAL_H
#define COLORHASH_INTERNAL_H

#include <orrim.h>

#include <cstddef>
#include <cstdint>

// One slot: the colour and its value (a hash's int, or a histogram's pixel
// count). 16 bytes, four to a cache line.
struct ColorSlot {
    Pixel key;
    uint32_t value;
};

// Linear probing over a power-of-two array. An empty slot holds EMPTY_KEY;
// the one real colour equal to EMPTY_KEY (possible only with 32-bit maxvals)
// is kept aside in hasEmptyKey / emptyKeyValue.
struct ColorTable {
    ColorSlot* slots;
    size_t capacity;   // number of slots, a power of two
    int shift;         // 64 - log2(capacity): the hash's top bits pick the slot
    size_t count;      // colours stored in slots (not counting the aside one)
    bool hasEmptyKey;
    uint32_t emptyKeyValue;
};

const Sample EMPTY_SAMPLE = 0xFFFFFFFFu;

inline bool isEmptyKey(const Pixel& p) {
    return (p.r & p.g & p.b) == EMPTY_SAMPLE;
}

// Compared without branches: probing runs per pixel on unpredictable data.
inline bool sameColor(const Pixel& a, const Pixel& b) {
    return ((a.r ^ b.r) | (a.g ^ b.g) | (a.b ^ b.b)) == 0;
}

// A well-spread 64-bit code of a colour; the table uses its top bits.
inline uint64_t colorHashCode(const Pixel& p) {
    uint64_t x = (uint64_t(p.r) << 32 | p.g) * 0x9E3779B97F4A7C15ull;
    x ^= (uint64_t(p.b) + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
    x ^= x >> 31;
    x *= 0xD6E8FEB86659FD93ull;
    x ^= x >> 32;
    return x;
}

inline size_t colorSlotIndex(const ColorTable* t, uint64_t code) {
    return size_t(code >> t->shift);
}

// Sets up an empty table with room for at least minColors colours. False
// (table left empty and freeable) when the memory cannot be had.
bool colorTableInit(ColorTable* t, size_t minColors);
void colorTableFree(ColorTable* t);

// The slot holding color, or else the empty slot that ends its probe run.
// color must not be EMPTY_KEY. code = colorHashCode(color).
inline ColorSlot* colorTableProbe(ColorTable* t, const Pixel& color, uint64_t code) {
    size_t mask = t->capacity - 1;
    for (size_t i = colorSlotIndex(t, code);; i = (i + 1) & mask) {
        ColorSlot* s = &t->slots[i];
        if (sameColor(s->key, color) || isEmptyKey(s->key)) return s;
    }
}

// The value of color, or null when absent.
inline uint32_t* colorTableFind(ColorTable* t, const Pixel& color, uint64_t code) {
    if (isEmptyKey(color)) return t->hasEmptyKey ? &t->emptyKeyValue : nullptr;
    ColorSlot* s = colorTableProbe(t, color, code);
    return isEmptyKey(s->key) ? nullptr : &s->value;
}

// Adds color, known to be absent, with value. Grows the table first when it
// is full enough; returns false, with the table unchanged, when it cannot.
bool colorTableAddNew(ColorTable* t, const Pixel& color, uint64_t code, uint32_t value);

inline void colorTablePrefetch(const ColorTable* t, uint64_t code) {
    __builtin_prefetch(&t->slots[colorSlotIndex(t, code)]);
}

// Test hook: the largest number of slots a table may grow to (0: no limit
// but memory). Lets tests make growth fail without exhausting memory.
void colorTableSetSlotLimit(size_t maxSlots);

#endif
