#include "rowfilter.h"

#include <cstdlib>
#include <cstring>

namespace rasterpack {

namespace {

inline uint8_t paethPredictor(int a, int b, int c) {
    int pa = abs(b - c), pb = abs(a - c), pc = abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

// The predictor of byte i for a type, from its left (a), upper (b) and
// upper-left (c) neighbours.
inline uint8_t predictor(int type, int a, int b, int c) {
    switch (type) {
    case 1: return static_cast<uint8_t>(a);
    case 2: return static_cast<uint8_t>(b);
    case 3: return static_cast<uint8_t>((a + b) >> 1);
    case 4: return paethPredictor(a, b, c);
    default: return 0;
    }
}

inline unsigned signedMagnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

// The filtered byte i for a type known at compile time, so that each type's
// loop is compiled on its own.
template <int TYPE>
inline uint8_t filteredByte(const uint8_t* row, const uint8_t* previous, size_t i, size_t stride) {
    int a = i >= stride ? row[i - stride] : 0;
    int b = previous ? previous[i] : 0;
    int c = previous && i >= stride ? previous[i - stride] : 0;
    return static_cast<uint8_t>(row[i] - predictor(TYPE, a, b, c));
}

// Sum of the filtered bytes' magnitudes, given up once it passes limit.
template <int TYPE>
uint64_t filteredMagnitude(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
                           uint64_t limit) {
    uint64_t sum = 0;
    size_t i = 0;
    while (i < length) {
        // Checking the limit once per block keeps the inner loop plain.
        size_t end = length - i > 256 ? i + 256 : length;
        unsigned block = 0;
        for (; i < end; ++i) block += signedMagnitude(filteredByte<TYPE>(row, previous, i, stride));
        sum += block;
        if (sum > limit) break;
    }
    return sum;
}

uint64_t filteredMagnitudeOf(int type, const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
                             uint64_t limit) {
    switch (type) {
    case 0: return filteredMagnitude<0>(row, previous, length, stride, limit);
    case 1: return filteredMagnitude<1>(row, previous, length, stride, limit);
    case 2: return filteredMagnitude<2>(row, previous, length, stride, limit);
    case 3: return filteredMagnitude<3>(row, previous, length, stride, limit);
    default: return filteredMagnitude<4>(row, previous, length, stride, limit);
    }
}

}  // namespace

void filterRow(int type, const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
               uint8_t* out) {
    out[0] = static_cast<uint8_t>(type);
    uint8_t* f = out + 1;
    switch (type) {
    case 0: memcpy(f, row, length); return;
    case 1:
        for (size_t i = 0; i < length; ++i) f[i] = static_cast<uint8_t>(row[i] - (i >= stride ? row[i - stride] : 0));
        return;
    case 2:
        if (!previous) {
            memcpy(f, row, length);
            return;
        }
        for (size_t i = 0; i < length; ++i) f[i] = static_cast<uint8_t>(row[i] - previous[i]);
        return;
    case 3:
        for (size_t i = 0; i < length; ++i) f[i] = filteredByte<3>(row, previous, i, stride);
        return;
    default:
        for (size_t i = 0; i < length; ++i) f[i] = filteredByte<4>(row, previous, i, stride);
    }
}

int chooseAdaptiveFilter(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
                         unsigned types) {
    // The first type with the least sum; a sum cut short is above the least.
    uint64_t best = UINT64_MAX;
    int chosen = 0;
    for (int type = 0; type < ROW_FILTER_TYPES; ++type) {
        if (!(types & (1u << type))) continue;
        uint64_t sum = filteredMagnitudeOf(type, row, previous, length, stride, best);
        if (sum < best) {
            best = sum;
            chosen = type;
        }
    }
    return chosen;
}

int chooseFilterType(unsigned types, const uint8_t* row, const uint8_t* previous, size_t length, size_t stride) {
    for (int type = 0; type < ROW_FILTER_TYPES; ++type)
        if (types == 1u << type) return type;
    return chooseAdaptiveFilter(row, previous, length, stride, types);
}

int defaultFilterChoice(bool palette, int depth) { return palette || depth < 8 ? 0 : FILTER_ADAPTIVE; }

unsigned libpngFilterTypes(int filter, uint32_t width, uint32_t height) {
    const unsigned SUB = 1u << 1, UP = 1u << 2, AVERAGE = 1u << 3, PAETH = 1u << 4;
    unsigned types = filter == FILTER_ADAPTIVE ? ALL_FILTER_TYPES : 1u << filter;
    if (width == 1) types &= ~(SUB | AVERAGE | PAETH);
    if (height == 1) types &= ~(UP | AVERAGE | PAETH);
    return types != 0 ? types : 1u;
}

}  // namespace rasterpack
