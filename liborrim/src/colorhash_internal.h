// colorhash_internal.h - the open-addressing colour table under both the
// colour hashes and the histograms. Private to the library (and its tests).
#ifndef COLORHASH_INTERNAL_H
#define COLORHASH_INTERNAL_H

#include <orrim.h>

#include <cstddef>
#include <cstdint>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// One slot: the colour and its value (a hash's int, or a histogram's pixel
// count). 16 bytes, four to a cache line; slot arrays are 64-byte aligned.
struct alignas(16) ColorSlot {
    Pixel key;
    uint32_t value;
};

// Linear probing by buckets of four slots (one cache line) over a power-of-two
// array; a bucket fills from its first slot. An empty slot holds EMPTY_KEY;
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

// A well-spread 64-bit code of a colour; the table uses its top bits.
inline uint64_t colorHashCode(const Pixel& p) {
    uint64_t x = (uint64_t(p.r) << 32 | p.g) * 0x9E3779B97F4A7C15ull;
    x ^= (uint64_t(p.b) + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
    x ^= x >> 31;
    x *= 0xD6E8FEB86659FD93ull;
    x ^= x >> 32;
    return x;
}

const size_t BUCKET_SLOTS = 4;

// First slot of the bucket where code's probe run starts.
inline size_t colorSlotIndex(const ColorTable* t, uint64_t code) {
    return size_t(code >> t->shift) & ~(BUCKET_SLOTS - 1);
}

// Nibble i (bits 4i..4i+3) of the result is all ones when slot i of the
// bucket holds key, else zero. Computed without branches: the position
// within a bucket is unpredictable per pixel.
#ifdef __SSE2__
typedef __m128i BucketKey;

inline BucketKey bucketKey(const Pixel& p) { return _mm_setr_epi32(int(p.r), int(p.g), int(p.b), 0); }

inline unsigned bucketMatches(const ColorSlot* b, BucketKey key) {
    const __m128i valueLane = _mm_setr_epi32(0, 0, 0, -1);  // the value never takes part
    __m128i m[BUCKET_SLOTS];
    for (size_t i = 0; i < BUCKET_SLOTS; ++i)
        m[i] = _mm_or_si128(_mm_cmpeq_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(&b[i])), key), valueLane);
    __m128i packed = _mm_packs_epi16(_mm_packs_epi32(m[0], m[1]), _mm_packs_epi32(m[2], m[3]));
    unsigned bits = unsigned(_mm_movemask_epi8(packed));
    bits &= bits >> 1;
    bits &= bits >> 2;
    return bits & 0x1111u;
}
#else
typedef Pixel BucketKey;

inline BucketKey bucketKey(const Pixel& p) { return p; }

inline unsigned bucketMatches(const ColorSlot* b, BucketKey key) {
    unsigned bits = 0;
    for (size_t i = 0; i < BUCKET_SLOTS; ++i) {
        const Pixel& k = b[i].key;
        bits |= unsigned(((k.r ^ key.r) | (k.g ^ key.g) | (k.b ^ key.b)) == 0) << (4 * i);
    }
    return bits;
}
#endif

// The slot holding color (not EMPTY_KEY), or else the empty slot that ends
// its probe run. Slots fill in order within a bucket and nothing is ever
// removed, so a bucket with an empty slot ends the run.
inline ColorSlot* probeSlots(ColorSlot* slots, size_t mask, size_t start, const Pixel& color) {
    const BucketKey key = bucketKey(color);
    const BucketKey empty = bucketKey(Pixel{EMPTY_SAMPLE, EMPTY_SAMPLE, EMPTY_SAMPLE});
    for (size_t i = start;; i = (i + BUCKET_SLOTS) & mask) {
        ColorSlot* b = &slots[i];
        if (unsigned m = bucketMatches(b, key)) return &b[__builtin_ctz(m) / 4];
        if (unsigned e = bucketMatches(b, empty)) return &b[__builtin_ctz(e) / 4];
    }
}

// Sets up an empty table with room for at least minColors colours. False
// (table left empty and freeable) when the memory cannot be had.
bool colorTableInit(ColorTable* t, size_t minColors);
void colorTableFree(ColorTable* t);

// The slot holding color, or else the empty slot that ends its probe run.
// color must not be EMPTY_KEY. code = colorHashCode(color).
inline ColorSlot* colorTableProbe(ColorTable* t, const Pixel& color, uint64_t code) {
    return probeSlots(t->slots, t->capacity - 1, colorSlotIndex(t, code), color);
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

// Test hook: the value a histogram's per-colour count starts at in the table
// (normally 1), so that tests can reach the 32-bit wrap-around of the counts.
void colorHistSetFirstCount(uint32_t count);

#endif
