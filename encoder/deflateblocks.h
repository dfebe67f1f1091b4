// Deflate blocks from a parse: their exact size under a dynamic or the
// fixed code, and their bits.
#ifndef RASTERPACK_DEFLATEBLOCKS_H
#define RASTERPACK_DEFLATEBLOCKS_H

#include "deflatesymbols.h"
#include "huffmancode.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rasterpack {

// A literal (distance 0, litlen the byte) or a match (litlen its length).
struct ParsedSymbol {
    uint16_t litlen;
    uint16_t distance;
};

// How often a block uses each symbol; the end-of-block symbol counts once.
struct SymbolCounts {
    uint32_t litlen[LITLEN_SYMBOLS] = {};
    uint32_t distance[DISTANCE_SYMBOLS] = {};
    uint64_t extraBits = 0;
};

// Counts one more symbol (no end-of-block).
void addSymbol(const ParsedSymbol& symbol, SymbolCounts* counts);
// The counts of a whole block, its end-of-block symbol included.
void countSymbols(const ParsedSymbol* symbols, size_t count, SymbolCounts* counts);

// The block's size in bits with the best of its dynamic codes (header
// included) or the fixed code.
uint64_t blockBits(const SymbolCounts& counts, HuffmanScratch* scratch);

// Deflate's bit order, least significant bit first.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}
    void put(uint32_t bits, int count) {
        buffer_ |= uint64_t(bits) << filled_;
        filled_ += count;
        while (filled_ >= 8) {
            out_->push_back(uint8_t(buffer_));
            buffer_ >>= 8;
            filled_ -= 8;
        }
    }
    // Pads the last byte with zeros.
    void finish() {
        if (filled_ > 0) out_->push_back(uint8_t(buffer_));
        buffer_ = 0;
        filled_ = 0;
    }

private:
    std::vector<uint8_t>* out_;
    uint64_t buffer_ = 0;
    int filled_ = 0;
};

// Writes the block with the smaller of its codes.
void writeBlock(const ParsedSymbol* symbols, size_t count, bool last, BitWriter* out, HuffmanScratch* scratch);

}  // namespace rasterpack

#endif
