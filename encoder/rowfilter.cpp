#include "rowfilter.h"

#include <cstdlib>
#include <cstring>

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

int chooseAdaptiveFilter(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride) {
    uint64_t sums[ROW_FILTER_TYPES];
    sums[0] = filteredMagnitude<0>(row, previous, length, stride, UINT64_MAX);
    sums[1] = filteredMagnitude<1>(row, previous, length, stride, sums[0]);
    uint64_t best = sums[0] < sums[1] ? sums[0] : sums[1];
    sums[2] = filteredMagnitude<2>(row, previous, length, stride, best);
    best = best < sums[2] ? best : sums[2];
    sums[3] = filteredMagnitude<3>(row, previous, length, stride, best);
    best = best < sums[3] ? best : sums[3];
    sums[4] = filteredMagnitude<4>(row, previous, length, stride, best);
    // The first type with the least sum; a sum cut short is above the least.
    int chosen = 0;
    for (int type = 1; type < ROW_FILTER_TYPES; ++type)
        if (sums[type] < sums[chosen]) chosen = type;
    return chosen;
}

int defaultFilterChoice(bool palette, int depth) { return palette || depth < 8 ? 0 : FILTER_ADAPTIVE; }
