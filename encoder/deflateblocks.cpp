#include "deflateblocks.h"

#include <algorithm>

namespace rasterpack {

namespace {

const int CODE_LENGTH_SYMBOLS = 19;
const int CODE_LENGTH_BITS = 7;
const uint8_t CODE_LENGTH_ORDER[CODE_LENGTH_SYMBOLS] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
const int CODE_LENGTH_EXTRA[CODE_LENGTH_SYMBOLS] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

struct LengthToken {
    uint8_t symbol;
    uint8_t extra;
};

// A dynamic block's codes and the header that describes them.
struct DynamicCode {
    uint8_t litlen[LITLEN_SYMBOLS];
    uint8_t distance[DISTANCE_SYMBOLS];
    int litlenCount = 0, distanceCount = 0;  // HLIT + 257, HDIST + 1
    std::vector<LengthToken> tokens;
    uint8_t codeLengths[CODE_LENGTH_SYMBOLS];
    int codeLengthCount = 0;                  // HCLEN + 4
    uint64_t headerBits = 0;
};

void pushRepeats(int symbol, int minimum, int maximum, int* run, std::vector<LengthToken>* tokens) {
    while (*run >= minimum) {
        int take = std::min(*run, maximum);
        tokens->push_back(LengthToken{uint8_t(symbol), uint8_t(take - minimum)});
        *run -= take;
    }
}

// The code lengths as the header's run-length tokens; the two switches
// leave out the repeat codes, which some length sequences pay more for
// than they save.
void tokenizeLengths(const uint8_t* lengths, int count, bool repeatPrevious, bool repeatZeros,
                     std::vector<LengthToken>* tokens) {
    tokens->clear();
    for (int i = 0; i < count;) {
        int value = lengths[i], run = 1;
        while (i + run < count && lengths[i + run] == value) ++run;
        i += run;
        if (value == 0 && repeatZeros) {
            pushRepeats(18, 11, 138, &run, tokens);
            pushRepeats(17, 3, 10, &run, tokens);
        } else if (repeatPrevious && run >= 4) {
            tokens->push_back(LengthToken{uint8_t(value), 0});
            --run;
            pushRepeats(16, 3, 6, &run, tokens);
        }
        for (; run > 0; --run) tokens->push_back(LengthToken{uint8_t(value), 0});
    }
}

uint64_t headerBitsFor(DynamicCode* code, HuffmanScratch* scratch) {
    uint32_t counts[CODE_LENGTH_SYMBOLS] = {};
    for (const LengthToken& t : code->tokens) ++counts[t.symbol];
    limitedCodeLengths(counts, CODE_LENGTH_SYMBOLS, CODE_LENGTH_BITS, code->codeLengths, scratch);
    code->codeLengthCount = CODE_LENGTH_SYMBOLS;
    while (code->codeLengthCount > 4 && code->codeLengths[CODE_LENGTH_ORDER[code->codeLengthCount - 1]] == 0)
        --code->codeLengthCount;
    uint64_t bits = 5 + 5 + 4 + 3 * uint64_t(code->codeLengthCount);
    for (const LengthToken& t : code->tokens) bits += code->codeLengths[t.symbol] + CODE_LENGTH_EXTRA[t.symbol];
    return bits;
}

// The code lengths of both alphabets, then the cheapest of the header's
// four ways to write them.
void buildDynamicCode(const SymbolCounts& counts, DynamicCode* code, HuffmanScratch* scratch) {
    limitedCodeLengths(counts.litlen, LITLEN_SYMBOLS, MAX_CODE_BITS, code->litlen, scratch);
    limitedCodeLengths(counts.distance, DISTANCE_SYMBOLS, MAX_CODE_BITS, code->distance, scratch);
    code->litlenCount = LITLEN_SYMBOLS;
    while (code->litlenCount > 257 && code->litlen[code->litlenCount - 1] == 0) --code->litlenCount;
    code->distanceCount = DISTANCE_SYMBOLS;
    while (code->distanceCount > 1 && code->distance[code->distanceCount - 1] == 0) --code->distanceCount;
    uint8_t all[LITLEN_SYMBOLS + DISTANCE_SYMBOLS];
    std::copy(code->litlen, code->litlen + code->litlenCount, all);
    std::copy(code->distance, code->distance + code->distanceCount, all + code->litlenCount);
    int total = code->litlenCount + code->distanceCount;
    int bestVariant = 0;
    uint64_t best = UINT64_MAX;
    for (int variant = 0; variant < 4; ++variant) {
        tokenizeLengths(all, total, variant & 1, variant & 2, &code->tokens);
        uint64_t bits = headerBitsFor(code, scratch);
        if (bits < best) {
            best = bits;
            bestVariant = variant;
        }
    }
    tokenizeLengths(all, total, bestVariant & 1, bestVariant & 2, &code->tokens);
    code->headerBits = headerBitsFor(code, scratch);
}

uint64_t symbolBits(const SymbolCounts& counts, const uint8_t* litlen, const uint8_t* distance) {
    uint64_t bits = counts.extraBits;
    for (int s = 0; s < LITLEN_SYMBOLS; ++s) bits += uint64_t(counts.litlen[s]) * litlen[s];
    for (int s = 0; s < DISTANCE_SYMBOLS; ++s) bits += uint64_t(counts.distance[s]) * distance[s];
    return bits;
}

struct FixedCode {
    uint8_t litlen[288];
    uint8_t distance[DISTANCE_SYMBOLS];
    FixedCode() {
        for (int s = 0; s < 288; ++s) litlen[s] = uint8_t(fixedLitlenBits(s));
        std::fill(distance, distance + DISTANCE_SYMBOLS, uint8_t(FIXED_DISTANCE_BITS));
    }
};

const FixedCode& fixedCode() {
    static const FixedCode fixed;
    return fixed;
}

// The smaller of the block's dynamic code and the fixed code, and its size
// in bits without the block's 3 header bits.
struct BlockCode {
    DynamicCode dynamic;
    bool fixed = false;
    uint64_t bits = 0;
};

void chooseBlockCode(const SymbolCounts& counts, BlockCode* code, HuffmanScratch* scratch) {
    buildDynamicCode(counts, &code->dynamic, scratch);
    uint64_t dynamic = code->dynamic.headerBits + symbolBits(counts, code->dynamic.litlen, code->dynamic.distance);
    uint64_t fixed = symbolBits(counts, fixedCode().litlen, fixedCode().distance);
    code->fixed = fixed < dynamic;
    code->bits = std::min(fixed, dynamic);
}

void writeSymbols(const ParsedSymbol* symbols, size_t count, const uint8_t* litlenLengths,
                  const uint16_t* litlenCodes, const uint8_t* distanceLengths, const uint16_t* distanceCodes,
                  BitWriter* out) {
    for (size_t i = 0; i < count; ++i) {
        const ParsedSymbol& s = symbols[i];
        if (s.distance == 0) {
            out->put(litlenCodes[s.litlen], litlenLengths[s.litlen]);
            continue;
        }
        int ls = lengthSymbol(s.litlen);
        out->put(litlenCodes[ls], litlenLengths[ls]);
        out->put(uint32_t(s.litlen - lengthBase(ls)), lengthExtraBits(ls));
        int ds = distanceSymbol(s.distance);
        out->put(distanceCodes[ds], distanceLengths[ds]);
        out->put(uint32_t(s.distance - distanceBase(ds)), distanceExtraBits(ds));
    }
    out->put(litlenCodes[DEFLATE_END_OF_BLOCK], litlenLengths[DEFLATE_END_OF_BLOCK]);
}

void writeHeader(const DynamicCode& code, BitWriter* out) {
    out->put(uint32_t(code.litlenCount - 257), 5);
    out->put(uint32_t(code.distanceCount - 1), 5);
    out->put(uint32_t(code.codeLengthCount - 4), 4);
    for (int k = 0; k < code.codeLengthCount; ++k) out->put(code.codeLengths[CODE_LENGTH_ORDER[k]], 3);
    uint16_t codes[CODE_LENGTH_SYMBOLS];
    canonicalCodes(code.codeLengths, CODE_LENGTH_SYMBOLS, codes);
    for (const LengthToken& t : code.tokens) {
        out->put(codes[t.symbol], code.codeLengths[t.symbol]);
        out->put(t.extra, CODE_LENGTH_EXTRA[t.symbol]);
    }
}

}  // namespace

void addSymbol(const ParsedSymbol& s, SymbolCounts* counts) {
    if (s.distance == 0) {
        ++counts->litlen[s.litlen];
        return;
    }
    int ls = lengthSymbol(s.litlen), ds = distanceSymbol(s.distance);
    ++counts->litlen[ls];
    ++counts->distance[ds];
    counts->extraBits += uint64_t(lengthExtraBits(ls) + distanceExtraBits(ds));
}

void countSymbols(const ParsedSymbol* symbols, size_t count, SymbolCounts* counts) {
    *counts = SymbolCounts();
    for (size_t i = 0; i < count; ++i) addSymbol(symbols[i], counts);
    ++counts->litlen[DEFLATE_END_OF_BLOCK];
}

uint64_t blockBits(const SymbolCounts& counts, HuffmanScratch* scratch) {
    BlockCode code;
    chooseBlockCode(counts, &code, scratch);
    return 3 + code.bits;
}

void writeBlock(const ParsedSymbol* symbols, size_t count, bool last, BitWriter* out, HuffmanScratch* scratch) {
    SymbolCounts counts;
    countSymbols(symbols, count, &counts);
    BlockCode code;
    chooseBlockCode(counts, &code, scratch);
    out->put(last ? 1u : 0u, 1);
    uint16_t litlenCodes[288], distanceCodes[DISTANCE_SYMBOLS];
    if (code.fixed) {
        const FixedCode& fixed = fixedCode();
        out->put(1, 2);
        canonicalCodes(fixed.litlen, 288, litlenCodes);
        canonicalCodes(fixed.distance, DISTANCE_SYMBOLS, distanceCodes);
        writeSymbols(symbols, count, fixed.litlen, litlenCodes, fixed.distance, distanceCodes, out);
        return;
    }
    out->put(2, 2);
    writeHeader(code.dynamic, out);
    canonicalCodes(code.dynamic.litlen, LITLEN_SYMBOLS, litlenCodes);
    canonicalCodes(code.dynamic.distance, DISTANCE_SYMBOLS, distanceCodes);
    writeSymbols(symbols, count, code.dynamic.litlen, litlenCodes, code.dynamic.distance, distanceCodes, out);
}

}  // namespace rasterpack
