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

// Sum of the filtered bytes' magnitudes, given up once it passes limit.
uint64_t filteredMagnitude(int type, const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
                           uint64_t limit) {
    uint64_t sum = 0;
    for (size_t i = 0; i < length; ++i) {
        int a = i >= stride ? row[i - stride] : 0;
        int b = previous ? previous[i] : 0;
        int c = previous && i >= stride ? previous[i - stride] : 0;
        sum += signedMagnitude(static_cast<uint8_t>(row[i] - predictor(type, a, b, c)));
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
    default:
        for (size_t i = 0; i < length; ++i) {
            int a = i >= stride ? row[i - stride] : 0;
            int b = previous ? previous[i] : 0;
            int c = previous && i >= stride ? previous[i - stride] : 0;
            f[i] = static_cast<uint8_t>(row[i] - predictor(type, a, b, c));
        }
    }
}

int chooseAdaptiveFilter(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride) {
    int best = 0;
    uint64_t bestSum = filteredMagnitude(0, row, previous, length, stride, UINT64_MAX);
    for (int type = 1; type < ROW_FILTER_TYPES; ++type) {
        uint64_t sum = filteredMagnitude(type, row, previous, length, stride, bestSum);
        if (sum < bestSum) {
            bestSum = sum;
            best = type;
        }
    }
    return best;
}

int defaultFilterChoice(bool palette, int depth) { return palette || depth < 8 ? 0 : FILTER_ADAPTIVE; }
