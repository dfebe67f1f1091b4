// Huffman codes for the optimal-parse coder: code lengths limited to the
// format's maximum, and the canonical codes they stand for.
#ifndef RASTERPACK_HUFFMANCODE_H
#define RASTERPACK_HUFFMANCODE_H

#include <cstdint>
#include <vector>

namespace rasterpack {

// Work space reused from call to call, so that pricing many candidate
// blocks allocates nothing after the first.
struct HuffmanScratch {
    struct Node {
        uint64_t weight;
        int32_t left, right;  // children; -1 for a leaf
        int32_t symbol;
    };
    std::vector<Node> nodes;
    std::vector<int32_t> leaves, current, packaged, stack, parents;
    std::vector<uint64_t> weights;
    std::vector<uint8_t> depths;
};

// Optimal code lengths of at most maxBits for the n counts (package-merge).
// A symbol with no count gets 0, except that at least two symbols always
// get a length: an inflater refuses a code of one length unless it is the
// only one, and some refuse even that. n must be at least 2 and at most
// 2^maxBits.
void limitedCodeLengths(const uint32_t* counts, int n, int maxBits, uint8_t* lengths, HuffmanScratch* scratch);

// The canonical code of each length, bit-reversed, since deflate writes
// codes from their most significant bit into a stream filled from the least.
void canonicalCodes(const uint8_t* lengths, int n, uint16_t* codes);

}  // namespace rasterpack

#endif
