// The deflate format's alphabets: how a match length or distance maps to
// its symbol and extra bits, and the fixed code's lengths.
#ifndef RASTERPACK_DEFLATESYMBOLS_H
#define RASTERPACK_DEFLATESYMBOLS_H

#include <cstdint>

namespace rasterpack {

const int DEFLATE_MIN_MATCH = 3;
const int DEFLATE_MAX_MATCH = 258;
const int DEFLATE_WINDOW = 32768;
const int DEFLATE_END_OF_BLOCK = 256;
const int LITLEN_SYMBOLS = 286;   // the ones a stream may use (286 and 287 never occur)
const int DISTANCE_SYMBOLS = 30;
const int MAX_CODE_BITS = 15;

inline int floorLog2(uint32_t x) { return 31 - __builtin_clz(x); }

// Symbol 257..285 for a match length of 3..258.
inline int lengthSymbol(int length) {
    if (length <= 10) return 254 + length;
    if (length == DEFLATE_MAX_MATCH) return 285;
    uint32_t x = uint32_t(length - 3);
    int log = floorLog2(x);
    return 257 + 4 * (log - 1) + int((x >> (log - 2)) & 3);
}

inline int lengthExtraBits(int symbol) { return symbol < 265 || symbol == 285 ? 0 : (symbol - 261) / 4; }

inline int lengthBase(int symbol) {
    if (symbol < 265) return symbol - 254;
    if (symbol == 285) return DEFLATE_MAX_MATCH;
    return 3 + ((4 + ((symbol - 265) & 3)) << lengthExtraBits(symbol));
}

// Symbol 0..29 for a distance of 1..32768.
inline int distanceSymbol(int distance) {
    if (distance <= 4) return distance - 1;
    uint32_t x = uint32_t(distance - 1);
    int log = floorLog2(x);
    return 2 * log + int((x >> (log - 1)) & 1);
}

inline int distanceExtraBits(int symbol) { return symbol < 4 ? 0 : symbol / 2 - 1; }

inline int distanceBase(int symbol) {
    if (symbol < 4) return symbol + 1;
    return ((2 + (symbol & 1)) << distanceExtraBits(symbol)) + 1;
}

// The fixed code (block type 1): literal/length lengths, then 5 bits for
// every distance.
inline int fixedLitlenBits(int symbol) {
    if (symbol < 144) return 8;
    if (symbol < 256) return 9;
    if (symbol < 280) return 7;
    return 8;
}
const int FIXED_DISTANCE_BITS = 5;

}  // namespace rasterpack

#endif
