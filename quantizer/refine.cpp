#include "refine.h"

#include <algorithm>
#include <cstdint>

// Each pass walks a k-d tree over the image's colours, carrying the entries
// that may still be nearest to some colour of the node's box; entries that
// lose to another over the whole box drop out, and a node left with one entry
// is assigned whole through its precomputed sums. Every colour still goes to
// its exact nearest entry, ties to the lowest index.

namespace {

typedef __int128 Wide;  // sums of squares of many 16-bit samples

struct Entry {
    int64_t c[3];
    int index;
};

// A box of colours: its bounds, their pixel count, pixel-weighted sums of
// the samples and of their squares, and its children or (for a leaf) its run
// of the reordered colours.
struct Node {
    int64_t lo[3], hi[3];
    uint64_t pixels;
    uint64_t sum[3];
    Wide sumSquares;
    int32_t left, right;  // -1 for a leaf
    int32_t begin, end;
};

const int LEAF_COLORS = 32;

inline int64_t sample(const ColorCount& c, int axis) { return axis == 0 ? c.r : axis == 1 ? c.g : c.b; }

struct Tree {
    std::vector<ColorCount> colors;  // reordered so that each node covers a run
    std::vector<Node> nodes;
};

int buildNode(Tree& tree, int begin, int end) {
    Node node;
    for (int axis = 0; axis < 3; ++axis) {
        node.lo[axis] = INT64_MAX;
        node.hi[axis] = INT64_MIN;
        node.sum[axis] = 0;
    }
    node.pixels = 0;
    node.sumSquares = 0;
    for (int i = begin; i < end; ++i)
        for (int axis = 0; axis < 3; ++axis) {
            const int64_t v = sample(tree.colors[i], axis);
            node.lo[axis] = std::min(node.lo[axis], v);
            node.hi[axis] = std::max(node.hi[axis], v);
        }
    node.begin = begin;
    node.end = end;
    node.left = node.right = -1;
    const int at = static_cast<int>(tree.nodes.size());
    tree.nodes.push_back(node);
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (node.hi[a] - node.lo[a] > node.hi[axis] - node.lo[axis]) axis = a;
    // One colour can only be a leaf.
    if (end - begin <= LEAF_COLORS || node.hi[axis] == node.lo[axis]) {
        Node& leaf = tree.nodes[at];
        for (int i = begin; i < end; ++i) {
            const ColorCount& c = tree.colors[i];
            for (int a = 0; a < 3; ++a) {
                const int64_t v = sample(c, a);
                leaf.sum[a] += static_cast<uint64_t>(v) * c.count;
                leaf.sumSquares += static_cast<Wide>(v * v) * c.count;
            }
            leaf.pixels += c.count;
        }
        return at;
    }
    // Cut the widest side in the middle: boxes stay compact, which is what
    // lets whole boxes go to one entry, and both halves hold colours.
    const int64_t middle = (node.lo[axis] + node.hi[axis]) / 2;
    const int mid = static_cast<int>(
        std::partition(tree.colors.begin() + begin, tree.colors.begin() + end,
                       [axis, middle](const ColorCount& c) { return sample(c, axis) <= middle; }) -
        tree.colors.begin());
    const int left = buildNode(tree, begin, mid);
    const int right = buildNode(tree, mid, end);
    Node& parent = tree.nodes[at];
    const Node& l = tree.nodes[left];
    const Node& r = tree.nodes[right];
    parent.left = left;
    parent.right = right;
    parent.pixels = l.pixels + r.pixels;
    for (int a = 0; a < 3; ++a) parent.sum[a] = l.sum[a] + r.sum[a];
    parent.sumSquares = l.sumSquares + r.sumSquares;
    return at;
}

inline int64_t distance(const ColorCount& c, const Entry& e) {
    const int64_t dr = c.r - e.c[0], dg = c.g - e.c[1], db = c.b - e.c[2];
    return dr * dr + dg * dg + db * db;
}

// Per-entry sums of the colours assigned to it in one pass.
struct EntrySums {
    uint64_t pixels;
    uint64_t sum[3];
};

struct Pass {
    const Tree* tree;
    std::vector<EntrySums> sums;
    Wide error;
    // Candidate lists, one per tree depth, each in index order.
    std::vector<std::vector<const Entry*>> candidates;
};

void assignWhole(Pass& pass, const Node& node, const Entry& e) {
    EntrySums& s = pass.sums[e.index];
    s.pixels += node.pixels;
    Wide cross = 0, norm = 0;
    for (int axis = 0; axis < 3; ++axis) {
        s.sum[axis] += node.sum[axis];
        cross += static_cast<Wide>(node.sum[axis]) * e.c[axis];
        norm += static_cast<Wide>(e.c[axis]) * e.c[axis];
    }
    // sum of count * |x - e|^2 over the node's colours
    pass.error += node.sumSquares - 2 * cross + norm * static_cast<Wide>(node.pixels);
}

void assignLeaf(Pass& pass, const Node& node, const std::vector<const Entry*>& candidates) {
    for (int i = node.begin; i < node.end; ++i) {
        const ColorCount& c = pass.tree->colors[i];
        const Entry* best = candidates[0];
        int64_t bestDistance = distance(c, *best);
        for (size_t k = 1; k < candidates.size(); ++k) {
            const int64_t d = distance(c, *candidates[k]);
            if (d < bestDistance) {
                bestDistance = d;
                best = candidates[k];
            }
        }
        EntrySums& s = pass.sums[best->index];
        s.pixels += c.count;
        s.sum[0] += static_cast<uint64_t>(c.r) * c.count;
        s.sum[1] += static_cast<uint64_t>(c.g) * c.count;
        s.sum[2] += static_cast<uint64_t>(c.b) * c.count;
        pass.error += static_cast<Wide>(bestDistance) * c.count;
    }
}

// Whether entry z loses to entry w at every point of the box: closer to w,
// or as close with w the lower index. |x - z|^2 - |x - w|^2 is linear in x,
// so its least value over the box is at one corner.
bool losesOverBox(const Entry& z, const Entry& w, const Node& node) {
    int64_t least = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const int64_t corner = z.c[axis] > w.c[axis] ? node.hi[axis] : node.lo[axis];
        least += z.c[axis] * z.c[axis] - w.c[axis] * w.c[axis] - 2 * corner * (z.c[axis] - w.c[axis]);
    }
    return least > 0 || (least == 0 && w.index < z.index);
}

void filterNode(Pass& pass, int nodeIndex, int depth) {
    const Node& node = pass.tree->nodes[nodeIndex];
    const std::vector<const Entry*>& in = pass.candidates[depth];
    if (in.size() == 1) {
        assignWhole(pass, node, *in[0]);
        return;
    }
    // The candidate nearest the box's centre (coordinates doubled to stay whole).
    const Entry* w = in[0];
    int64_t wDistance = INT64_MAX;
    for (const Entry* e : in) {
        int64_t d = 0;
        for (int axis = 0; axis < 3; ++axis) {
            const int64_t diff = 2 * e->c[axis] - (node.lo[axis] + node.hi[axis]);
            d += diff * diff;
        }
        if (d < wDistance) {
            wDistance = d;
            w = e;
        }
    }
    std::vector<const Entry*>& out = pass.candidates[depth + 1];
    out.clear();
    for (const Entry* e : pass.candidates[depth])
        if (e == w || !losesOverBox(*e, *w, node)) out.push_back(e);
    if (out.size() == 1) {
        assignWhole(pass, node, *out[0]);
    } else if (node.left < 0) {
        assignLeaf(pass, node, out);
    } else {
        filterNode(pass, node.left, depth + 1);
        filterNode(pass, node.right, depth + 1);
    }
}

// Assigns every colour to its nearest entry; returns the total squared
// error and fills sums.
Wide assignColors(const Tree& tree, const ColorHistEntry* palette, int paletteSize, std::vector<EntrySums>& sums) {
    std::vector<Entry> entries;
    for (int i = 0; i < paletteSize; ++i) {
        const Pixel& p = palette[i].color;
        entries.push_back(Entry{{p.r, p.g, p.b}, i});
    }
    Pass pass;
    pass.tree = &tree;
    pass.sums.assign(paletteSize, EntrySums{0, {0, 0, 0}});
    pass.error = 0;
    // Deeper than any tree: every split halves the widest side of a box of
    // 16-bit samples, so no path holds more than 3 x 17 splits. The lists are
    // never moved while the walk holds them.
    pass.candidates.resize(72);
    for (const Entry& e : entries) pass.candidates[0].push_back(&e);
    filterNode(pass, 0, 0);
    sums.swap(pass.sums);
    return pass.error;
}

// sum / pixels rounded to nearest, halves up.
inline Sample roundedMean(uint64_t sum, uint64_t pixels) {
    return static_cast<Sample>((2 * sum + pixels) / (2 * pixels));
}

// Moves every entry that received colours to their mean; returns whether any
// entry moved.
bool moveEntries(ColorHistEntry* palette, int paletteSize, const std::vector<EntrySums>& sums) {
    bool moved = false;
    for (int j = 0; j < paletteSize; ++j) {
        const EntrySums& s = sums[j];
        if (s.pixels == 0) continue;
        const Pixel mean = {roundedMean(s.sum[0], s.pixels), roundedMean(s.sum[1], s.pixels),
                            roundedMean(s.sum[2], s.pixels)};
        if (mean != palette[j].color) moved = true;
        palette[j].color = mean;
    }
    return moved;
}

}  // namespace

RefineResult refinePalette(const std::vector<ColorCount>& colors, ColorHistEntry* palette, int paletteSize,
                           int maxPasses) {
    RefineResult result = {0, {}};
    if (paletteSize < 1 || colors.empty()) return result;
    Tree tree;
    tree.colors = colors;
    buildNode(tree, 0, static_cast<int>(tree.colors.size()));
    std::vector<EntrySums> sums;
    result.errors.push_back(static_cast<double>(assignColors(tree, palette, paletteSize, sums)));
    while (result.passes < maxPasses && moveEntries(palette, paletteSize, sums)) {
        ++result.passes;
        result.errors.push_back(static_cast<double>(assignColors(tree, palette, paletteSize, sums)));
    }
    return result;
}
