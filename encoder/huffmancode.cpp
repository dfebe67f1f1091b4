#include "huffmancode.h"

#include <algorithm>

namespace rasterpack {

namespace {

using Node = HuffmanScratch::Node;

// Merges the leaves with the packages of the previous list, by weight;
// leaves first among equals, so that shorter codes go to leaves.
void mergeLevel(HuffmanScratch* s) {
    s->packaged.clear();
    for (size_t k = 0; k + 1 < s->current.size(); k += 2) {
        int32_t a = s->current[k], b = s->current[k + 1];
        s->nodes.push_back(Node{s->nodes[size_t(a)].weight + s->nodes[size_t(b)].weight, a, b, -1});
        s->packaged.push_back(int32_t(s->nodes.size() - 1));
    }
    s->current.clear();
    size_t i = 0, j = 0;
    while (i < s->leaves.size() || j < s->packaged.size()) {
        bool leaf = j == s->packaged.size() ||
                    (i < s->leaves.size() &&
                     s->nodes[size_t(s->leaves[i])].weight <= s->nodes[size_t(s->packaged[j])].weight);
        s->current.push_back(leaf ? s->leaves[i++] : s->packaged[j++]);
    }
}

// Each time a leaf appears in the chosen items its code grows by one bit.
void countLeafAppearances(HuffmanScratch* s, size_t items, uint8_t* lengths) {
    for (size_t k = 0; k < items; ++k) {
        s->stack.assign(1, s->current[k]);
        while (!s->stack.empty()) {
            const Node& node = s->nodes[size_t(s->stack.back())];
            s->stack.pop_back();
            if (node.left < 0) {
                ++lengths[node.symbol];
            } else {
                s->stack.push_back(node.left);
                s->stack.push_back(node.right);
            }
        }
    }
}

// The unlimited Huffman code of the sorted leaves (two queues: leaves, and
// the merged nodes, which come out in order of weight); false when a code
// is longer than maxBits.
bool unlimitedCodeLengths(HuffmanScratch* s, size_t used, int maxBits, uint8_t* lengths) {
    std::vector<int32_t>& parent = s->parents;
    parent.assign(2 * used - 1, -1);
    std::vector<uint64_t>& weight = s->weights;
    weight.resize(2 * used - 1);
    for (size_t i = 0; i < used; ++i) weight[i] = s->nodes[i].weight;
    size_t leaf = 0, merged = used;
    auto takeSmallest = [&](size_t made) {
        return leaf < used && (merged >= made || weight[leaf] <= weight[merged]) ? leaf++ : merged++;
    };
    for (size_t made = used; made < 2 * used - 1; ++made) {
        size_t a = takeSmallest(made), b = takeSmallest(made);
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = int32_t(made);
    }
    // Parents come after their children: depths from the root down.
    std::vector<uint8_t>& depth = s->depths;
    depth.assign(2 * used - 1, 0);
    for (size_t k = 2 * used - 1; k-- > 0;) {
        if (parent[k] < 0) continue;
        int d = depth[size_t(parent[k])] + 1;
        if (d > maxBits) return false;
        depth[k] = uint8_t(d);
    }
    for (size_t i = 0; i < used; ++i) lengths[s->nodes[i].symbol] = depth[i];
    return true;
}

}  // namespace

void limitedCodeLengths(const uint32_t* counts, int n, int maxBits, uint8_t* lengths, HuffmanScratch* s) {
    std::fill(lengths, lengths + n, uint8_t(0));
    s->nodes.clear();
    s->leaves.clear();
    for (int i = 0; i < n; ++i)
        if (counts[i] != 0) s->nodes.push_back(Node{counts[i], -1, -1, i});
    if (s->nodes.size() < 2) {
        int used = s->nodes.empty() ? 1 : s->nodes[0].symbol;
        lengths[used] = 1;
        lengths[used == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(s->nodes.begin(), s->nodes.end(), [](const Node& a, const Node& b) {
        return a.weight != b.weight ? a.weight < b.weight : a.symbol < b.symbol;
    });
    size_t used = s->nodes.size();
    if (unlimitedCodeLengths(s, used, maxBits, lengths)) return;
    for (size_t i = 0; i < used; ++i) s->leaves.push_back(int32_t(i));
    s->current = s->leaves;
    for (int level = 1; level < maxBits; ++level) mergeLevel(s);
    countLeafAppearances(s, 2 * used - 2, lengths);
}

void canonicalCodes(const uint8_t* lengths, int n, uint16_t* codes) {
    unsigned countOf[16] = {}, next[16] = {};
    for (int i = 0; i < n; ++i) ++countOf[lengths[i]];
    countOf[0] = 0;
    unsigned code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + countOf[bits - 1]) << 1;
        next[bits] = code;
    }
    for (int i = 0; i < n; ++i) {
        int bits = lengths[i];
        if (bits == 0) {
            codes[i] = 0;
            continue;
        }
        unsigned c = next[bits]++, reversed = 0;
        for (int b = 0; b < bits; ++b) reversed |= ((c >> b) & 1u) << (bits - 1 - b);
        codes[i] = uint16_t(reversed);
    }
}

}  // namespace rasterpack
