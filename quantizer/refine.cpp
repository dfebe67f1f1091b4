#include "refine.h"

#include "variancecut.h"

#include <algorithm>
#include <cstdint>

namespace huecut {

// Each pass walks a k-d tree over the image's colours, carrying the entries
// that may still be nearest to some colour of the node's box; entries that
// lose to another over the whole box drop out, and a node left with one entry
// is assigned whole through its precomputed sums. Every colour still goes to
// its exact nearest entry, ties to the lowest index.
//
// During the passes the entries sit at their means to 1/SUBSTEPS of a sample
// step: rounded to whole steps after every pass, the entries of a smooth
// gradient often stop short of where the next pass would have taken them.
// Colours stay whole; they are compared with the entries at SUBSTEPS times
// their value. The passes end with the entries rounded to whole steps and
// the colours assigned once more, which gives the error of the palette
// returned.
//
// Lloyd passes only move each entry within its own neighbourhood: an entry
// holding a few colours that a neighbour could take over at little cost
// stays there, while elsewhere one entry holds colours that two would serve
// much better. While such pairs exist (mostly in the first passes), each
// pass moves the cheap entry's colours to its nearest neighbour and lets
// the cheap entry take half of the colours of the entry that gains most from
// a cut (the same cut as the start's boxes), whenever the gain exceeds the
// cost.

namespace {

const int64_t SUBSTEPS = 16;

struct Entry {
    int64_t c[3];  // in 1/SUBSTEPS of a sample step
    int index;
};

// A box of colours: its bounds, their pixel count, pixel-weighted sums of
// the samples and of their squares, and its children or (for a leaf) its run
// of the reordered colours.
struct Node {
    int64_t lo[3], hi[3];
    uint64_t pixels;
    uint64_t sum[3];
    WideSum sumSquares;
    int32_t left, right;  // -1 for a leaf
    int32_t begin, end;
};

const int LEAF_COLORS = 32;

inline int64_t sample(const ColorCount& c, int axis) { return axis == 0 ? c.r : axis == 1 ? c.g : c.b; }

// A colour and its position in the list the refinement was given.
struct TreeColor {
    ColorCount color;
    uint32_t position;
};

struct Tree {
    std::vector<TreeColor> colors;  // reordered so that each node covers a run
    std::vector<Node> nodes;
};

// The least and greatest sample on each axis of a set of colours.
struct Bounds {
    int64_t lo[3], hi[3];
};

const Bounds NO_BOUNDS = {{INT64_MAX, INT64_MAX, INT64_MAX}, {INT64_MIN, INT64_MIN, INT64_MIN}};

inline void extendBounds(Bounds& b, const ColorCount& c) {
    for (int axis = 0; axis < 3; ++axis) {
        b.lo[axis] = std::min(b.lo[axis], sample(c, axis));
        b.hi[axis] = std::max(b.hi[axis], sample(c, axis));
    }
}

void sumLeaf(Node& leaf, const Tree& tree) {
    for (int i = leaf.begin; i < leaf.end; ++i) {
        const ColorCount& c = tree.colors[i].color;
        for (int a = 0; a < 3; ++a) {
            const int64_t v = sample(c, a);
            leaf.sum[a] += static_cast<uint64_t>(v) * c.count;
            leaf.sumSquares += static_cast<WideSum>(v * v) * c.count;
        }
        leaf.pixels += c.count;
    }
}

// Builds the node over colors[begin, end), whose bounds are given, and its
// subtree; returns its position in nodes.
int buildNode(Tree& tree, int begin, int end, const Bounds& bounds) {
    Node node;
    for (int axis = 0; axis < 3; ++axis) {
        node.lo[axis] = bounds.lo[axis];
        node.hi[axis] = bounds.hi[axis];
        node.sum[axis] = 0;
    }
    node.pixels = 0;
    node.sumSquares = 0;
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
        sumLeaf(tree.nodes[at], tree);
        return at;
    }
    // Cut the widest side in the middle: boxes stay compact, which is what
    // lets whole boxes go to one entry, and both halves hold colours.
    const int64_t middle = (node.lo[axis] + node.hi[axis]) / 2;
    Bounds lowerBounds = NO_BOUNDS, upperBounds = NO_BOUNDS;
    const int mid = static_cast<int>(
        std::partition(tree.colors.begin() + begin, tree.colors.begin() + end,
                       [axis, middle](const TreeColor& c) { return sample(c.color, axis) <= middle; }) -
        tree.colors.begin());
    for (int i = begin; i < mid; ++i) extendBounds(lowerBounds, tree.colors[i].color);
    for (int i = mid; i < end; ++i) extendBounds(upperBounds, tree.colors[i].color);
    const int left = buildNode(tree, begin, mid, lowerBounds);
    const int right = buildNode(tree, mid, end, upperBounds);
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

// Squared distance in (1/SUBSTEPS)^2 units: below 3 x 2^40.
inline int64_t distance(const ColorCount& c, const Entry& e) {
    const int64_t dr = SUBSTEPS * c.r - e.c[0], dg = SUBSTEPS * c.g - e.c[1], db = SUBSTEPS * c.b - e.c[2];
    return dr * dr + dg * dg + db * db;
}

// Per-entry sums of the colours assigned to it in one pass.
struct Pass {
    const Tree* tree;
    std::vector<Moments> sums;
    WideSum error;  // in (1/SUBSTEPS)^2 units
    // When not null: each colour's share of the error and its entry's index,
    // by tree position.
    std::vector<WideSum>* colorErrors;
    std::vector<int>* colorEntries;
    // Candidate lists, one per tree depth, each in index order.
    std::vector<std::vector<const Entry*>> candidates;
};

void recordColor(Pass& pass, int position, const Entry& e) {
    const ColorCount& c = pass.tree->colors[position].color;
    if (pass.colorErrors) (*pass.colorErrors)[position] = static_cast<WideSum>(distance(c, e)) * c.count;
    if (pass.colorEntries) (*pass.colorEntries)[position] = e.index;
}

inline bool recordsColors(const Pass& pass) { return pass.colorErrors || pass.colorEntries; }

void assignWhole(Pass& pass, const Node& node, const Entry& e) {
    Moments& s = pass.sums[e.index];
    s.pixels += node.pixels;
    s.sumSquares += node.sumSquares;
    WideSum cross = 0, norm = 0;
    for (int axis = 0; axis < 3; ++axis) {
        s.sum[axis] += node.sum[axis];
        cross += static_cast<WideSum>(node.sum[axis]) * e.c[axis];
        norm += static_cast<WideSum>(e.c[axis]) * e.c[axis];
    }
    // sum of count * |SUBSTEPS x - e|^2 over the node's colours
    pass.error += SUBSTEPS * SUBSTEPS * node.sumSquares - 2 * SUBSTEPS * cross + norm * static_cast<WideSum>(node.pixels);
    if (recordsColors(pass))
        for (int i = node.begin; i < node.end; ++i) recordColor(pass, i, e);
}

void assignLeaf(Pass& pass, const Node& node, const std::vector<const Entry*>& candidates) {
    for (int i = node.begin; i < node.end; ++i) {
        const ColorCount& c = pass.tree->colors[i].color;
        const Entry* best = candidates[0];
        int64_t bestDistance = distance(c, *best);
        for (size_t k = 1; k < candidates.size(); ++k) {
            const int64_t d = distance(c, *candidates[k]);
            if (d < bestDistance) {
                bestDistance = d;
                best = candidates[k];
            }
        }
        addColor(pass.sums[best->index], c);
        pass.error += static_cast<WideSum>(bestDistance) * c.count;
        if (recordsColors(pass)) recordColor(pass, i, *best);
    }
}

// Whether entry z loses to entry w at every point of the box: closer to w,
// or as close with w the lower index. |x - z|^2 - |x - w|^2 is linear in x,
// so its least value over the box is at one corner.
bool losesOverBox(const Entry& z, const Entry& w, const Node& node) {
    int64_t least = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const int64_t corner = SUBSTEPS * (z.c[axis] > w.c[axis] ? node.hi[axis] : node.lo[axis]);
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
            const int64_t diff = 2 * e->c[axis] - SUBSTEPS * (node.lo[axis] + node.hi[axis]);
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

// Assigns every colour to its nearest of the entries for which use is set
// (all when it is empty); returns the total squared error in
// (1/SUBSTEPS)^2 units, fills sums (per entry index) and, when asked, each
// colour's share of the error and its entry, by tree position.
WideSum assignColors(const Tree& tree, const std::vector<Entry>& entries, const std::vector<bool>& use,
                  std::vector<Moments>& sums, std::vector<WideSum>* colorErrors = nullptr,
                  std::vector<int>* colorEntries = nullptr) {
    Pass pass;
    pass.tree = &tree;
    pass.sums.assign(entries.size(), Moments{0, {0, 0, 0}, 0});
    pass.error = 0;
    pass.colorErrors = colorErrors;
    pass.colorEntries = colorEntries;
    if (colorErrors) colorErrors->assign(tree.colors.size(), 0);
    if (colorEntries) colorEntries->assign(tree.colors.size(), -1);
    // Deeper than any tree: every split halves the widest side of a box of
    // 16-bit samples, so no path holds more than 3 x 17 splits. The lists are
    // never moved while the walk holds them.
    pass.candidates.resize(72);
    for (size_t i = 0; i < entries.size(); ++i)
        if (use.empty() || use[i]) pass.candidates[0].push_back(&entries[i]);
    if (!pass.candidates[0].empty()) filterNode(pass, 0, 0);
    sums.swap(pass.sums);
    return pass.error;
}

// sum / pixels in 1/SUBSTEPS of a step, rounded to nearest, halves up.
inline int64_t meanInSubsteps(uint64_t sum, uint64_t pixels) {
    return static_cast<int64_t>((2 * SUBSTEPS * static_cast<WideSum>(sum) + pixels) / (2 * static_cast<WideSum>(pixels)));
}

// Moves every entry that received colours, except those already placed, to
// their mean; returns whether any entry moved.
bool moveEntries(std::vector<Entry>& entries, const std::vector<Moments>& sums, const std::vector<bool>& placed) {
    bool moved = false;
    for (Entry& e : entries) {
        const Moments& s = sums[e.index];
        if (s.pixels == 0 || placed[e.index]) continue;
        for (int axis = 0; axis < 3; ++axis) {
            const int64_t mean = meanInSubsteps(s.sum[axis], s.pixels);
            if (mean != e.c[axis]) moved = true;
            e.c[axis] = mean;
        }
    }
    return moved;
}

// Places the entries that received no colours at the colours contributing
// most to the error, the largest first, one colour each; a colour that lies
// on an entry contributes nothing and is never taken. Returns whether any
// entry was placed.
bool reseedEmptyEntries(const Tree& tree, std::vector<Entry>& entries, const std::vector<Moments>& sums) {
    std::vector<bool> used(entries.size());
    std::vector<int> empty;
    for (size_t i = 0; i < entries.size(); ++i) {
        used[i] = sums[i].pixels > 0;
        if (!used[i]) empty.push_back(static_cast<int>(i));
    }
    if (empty.empty()) return false;
    // Each colour's error against the entries in use: an empty entry is
    // nearest to no colour, so this is the error of the assignment just made.
    std::vector<WideSum> colorErrors;
    std::vector<Moments> unused;
    assignColors(tree, entries, used, unused, &colorErrors);
    std::vector<int> worst;
    for (size_t i = 0; i < colorErrors.size(); ++i)
        if (colorErrors[i] > 0) worst.push_back(static_cast<int>(i));
    const size_t placed = std::min(worst.size(), empty.size());
    std::partial_sort(worst.begin(), worst.begin() + placed, worst.end(), [&colorErrors](int a, int b) {
        return colorErrors[a] > colorErrors[b] || (colorErrors[a] == colorErrors[b] && a < b);
    });
    for (size_t k = 0; k < placed; ++k) {
        const ColorCount& c = tree.colors[worst[k]].color;
        Entry& e = entries[empty[k]];
        e.c[0] = SUBSTEPS * c.r, e.c[1] = SUBSTEPS * c.g, e.c[2] = SUBSTEPS * c.b;
    }
    return placed > 0;
}

// While the assignment just made (of the given error) leaves an entry
// without colours and some colour is not on an entry, moves such entries
// onto the colours of largest error and assigns again; returns the error of
// the last assignment. Every round lowers the error (each moved entry takes
// at least the colour it sits on, nothing else gets farther), so this ends;
// with at least as many distinct colours as entries it ends with every entry
// in use. colorEntries as for assignColors.
WideSum fillEmptyEntries(const Tree& tree, std::vector<Entry>& entries, std::vector<Moments>& sums, WideSum error,
                      std::vector<int>* colorEntries) {
    while (reseedEmptyEntries(tree, entries, sums))
        error = assignColors(tree, entries, {}, sums, nullptr, colorEntries);
    return error;
}

WideSum assignAndFill(const Tree& tree, std::vector<Entry>& entries, std::vector<Moments>& sums,
                   std::vector<int>* colorEntries) {
    const WideSum error = assignColors(tree, entries, {}, sums, nullptr, colorEntries);
    return fillEmptyEntries(tree, entries, sums, error, colorEntries);
}

// Relocation looks for the cheapest entry to give up among all pairs of
// entries, which costs too much on large palettes; they go without it.
const int RELOCATION_MAX_ENTRIES = 1024;

Entry entryAtMean(const uint64_t sum[3], uint64_t pixels, int index) {
    return Entry{{meanInSubsteps(sum[0], pixels), meanInSubsteps(sum[1], pixels), meanInSubsteps(sum[2], pixels)},
                 index};
}

// The colours grouped by the entry they went to: entry i's colours are
// colors[start[i] .. start[i + 1]).
struct ColorGroups {
    std::vector<ColorCount> colors;
    std::vector<int> start;
};

// entryOf: each colour's entry, by tree position.
ColorGroups groupColorsByEntry(const Tree& tree, const std::vector<int>& entryOf, size_t entryCount) {
    ColorGroups groups;
    groups.start.assign(entryCount + 1, 0);
    for (int e : entryOf) ++groups.start[e + 1];
    for (size_t i = 0; i < entryCount; ++i) groups.start[i + 1] += groups.start[i];
    std::vector<int> next(groups.start.begin(), groups.start.end() - 1);
    groups.colors.resize(tree.colors.size());
    for (size_t i = 0; i < entryOf.size(); ++i) groups.colors[next[entryOf[i]]++] = tree.colors[i].color;
    return groups;
}

// What cutting an entry's colours in two would gain, or (until the cut is
// made) the most it could gain: all of their error.
struct SplitGain {
    double gain;
    int entry;
    bool exact;
    int lowerCount;  // of the entry's colours, reordered lower half first
};

// Heap order: the largest gain on top, the lower entry among equal ones.
bool smallerGain(const SplitGain& a, const SplitGain& b) {
    return a.gain < b.gain || (a.gain == b.gain && a.entry > b.entry);
}


// The entries whose colours could be cut, by the most each cut could gain;
// the exact gains are found only for the entries that come to the top.
struct SplitQueue {
    std::vector<SplitGain> heap;
    const Tree* tree;
    const std::vector<int>* entryOf;
    size_t entryCount;
    ColorGroups groups;  // made when the first cut is needed
};

SplitQueue makeSplitQueue(const Tree& tree, const std::vector<int>& entryOf, const std::vector<Moments>& sums) {
    SplitQueue queue = {{}, &tree, &entryOf, sums.size(), {}};
    for (size_t i = 0; i < sums.size(); ++i) {
        const double bound = errorOf(sums[i]);
        if (bound > 0) queue.heap.push_back(SplitGain{bound, static_cast<int>(i), false, 0});
    }
    std::make_heap(queue.heap.begin(), queue.heap.end(), smallerGain);
    return queue;
}

void pushSplit(SplitQueue& queue, const SplitGain& split) {
    queue.heap.push_back(split);
    std::push_heap(queue.heap.begin(), queue.heap.end(), smallerGain);
}

SplitGain exactSplit(SplitQueue& queue, int entry) {
    if (queue.groups.start.empty()) queue.groups = groupColorsByEntry(*queue.tree, *queue.entryOf, queue.entryCount);
    ColorGroups& g = queue.groups;
    const ColorRunCut cut = cutColorRun(g.colors.data() + g.start[entry], g.start[entry + 1] - g.start[entry]);
    return SplitGain{cut.error - cut.cutError, entry, true, cut.lowerCount};
}

// Finds the largest gain among the entries neither placed nor excluded;
// returns false when there is none.
bool findBestSplit(SplitQueue& queue, const std::vector<bool>& placed, int excluded1, int excluded2,
                   SplitGain& best) {
    std::vector<SplitGain> held;
    bool found = false;
    while (!found && !queue.heap.empty()) {
        std::pop_heap(queue.heap.begin(), queue.heap.end(), smallerGain);
        const SplitGain top = queue.heap.back();
        queue.heap.pop_back();
        if (placed[top.entry]) continue;
        if (top.entry == excluded1 || top.entry == excluded2) {
            held.push_back(top);
        } else if (!top.exact) {
            pushSplit(queue, exactSplit(queue, top.entry));
        } else {
            best = top;
            found = true;
            held.push_back(top);
        }
    }
    for (const SplitGain& h : held) pushSplit(queue, h);
    return found;
}

// What handing an entry's colours to another would cost: the growth of the
// error when the two sets of colours share their common mean.
struct MergeCost {
    double cost;
    int entry, into;
};

double squaredMeanDistance(const Moments& a, const Moments& b) {
    double d = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const double diff = static_cast<double>(a.sum[axis]) / static_cast<double>(a.pixels) -
                            static_cast<double>(b.sum[axis]) / static_cast<double>(b.pixels);
        d += diff * diff;
    }
    return d;
}

std::vector<MergeCost> findMergeCosts(const std::vector<Moments>& sums) {
    std::vector<MergeCost> costs;
    for (size_t j = 0; j < sums.size(); ++j) {
        if (sums[j].pixels == 0) continue;
        MergeCost best = {0, static_cast<int>(j), -1};
        for (size_t k = 0; k < sums.size(); ++k) {
            if (k == j || sums[k].pixels == 0) continue;
            const double nj = static_cast<double>(sums[j].pixels), nk = static_cast<double>(sums[k].pixels);
            const double cost = nj * nk / (nj + nk) * squaredMeanDistance(sums[j], sums[k]);
            if (best.into < 0 || cost < best.cost) best = MergeCost{cost, static_cast<int>(j), static_cast<int>(k)};
        }
        if (best.into >= 0) costs.push_back(best);
    }
    std::stable_sort(costs.begin(), costs.end(),
                     [](const MergeCost& a, const MergeCost& b) { return a.cost < b.cost; });
    return costs;
}

// Places merge.into at the mean of its own and merge.entry's colours, then
// split.entry at the mean of the lower half of its colours and merge.entry
// at the mean of the upper half.
void relocate(const MergeCost& merge, const SplitGain& split, const ColorGroups& groups,
              const std::vector<Moments>& sums, std::vector<Entry>& entries) {
    const Moments& a = sums[merge.entry];
    const Moments& b = sums[merge.into];
    const uint64_t merged[3] = {a.sum[0] + b.sum[0], a.sum[1] + b.sum[1], a.sum[2] + b.sum[2]};
    entries[merge.into] = entryAtMean(merged, a.pixels + b.pixels, merge.into);
    const Moments& whole = sums[split.entry];
    const Moments lower = momentsOfRun(groups.colors.data() + groups.start[split.entry], split.lowerCount);
    const uint64_t upper[3] = {whole.sum[0] - lower.sum[0], whole.sum[1] - lower.sum[1], whole.sum[2] - lower.sum[2]};
    entries[split.entry] = entryAtMean(lower.sum, lower.pixels, split.entry);
    entries[merge.entry] = entryAtMean(upper, whole.pixels - lower.pixels, merge.entry);
}

// Pairs the cheapest merges with the largest gains, each entry in one move
// at most, while the gain exceeds the cost by more than placing three
// entries at means rounded to 1/SUBSTEPS can add (each axis of each pixel
// at most (1/(2 SUBSTEPS))^2), so the error cannot grow. Marks the entries
// it placed; returns whether it placed any. sums and entryOf (each colour's
// entry, by tree position) are those of the entries' last assignment.
bool relocateEntries(const Tree& tree, std::vector<Entry>& entries, const std::vector<Moments>& sums,
                     const std::vector<int>& entryOf, std::vector<bool>& placed) {
    SplitQueue splits = makeSplitQueue(tree, entryOf, sums);
    bool any = false;
    for (const MergeCost& merge : findMergeCosts(sums)) {
        if (placed[merge.entry] || placed[merge.into]) continue;
        SplitGain split;
        if (!findBestSplit(splits, placed, merge.entry, merge.into, split)) continue;
        const double pixels = static_cast<double>(sums[merge.entry].pixels + sums[merge.into].pixels +
                                                  sums[split.entry].pixels);
        const double slack = 3.0 * pixels / (4.0 * SUBSTEPS * SUBSTEPS);
        if (split.gain <= merge.cost + slack) break;
        relocate(merge, split, splits.groups, sums, entries);
        placed[merge.entry] = placed[merge.into] = placed[split.entry] = true;
        any = true;
    }
    return any;
}

void roundEntriesToSteps(std::vector<Entry>& entries) {
    for (Entry& e : entries)
        for (int axis = 0; axis < 3; ++axis) e.c[axis] = (e.c[axis] + SUBSTEPS / 2) / SUBSTEPS * SUBSTEPS;
}

inline double inSquaredSteps(WideSum error) { return static_cast<double>(error) / (SUBSTEPS * SUBSTEPS); }

Tree buildTree(const std::vector<ColorCount>& colors) {
    Tree tree;
    tree.colors.reserve(colors.size());
    Bounds bounds = NO_BOUNDS;
    for (size_t i = 0; i < colors.size(); ++i) {
        tree.colors.push_back(TreeColor{colors[i], static_cast<uint32_t>(i)});
        extendBounds(bounds, colors[i]);
    }
    if (!colors.empty()) buildNode(tree, 0, static_cast<int>(tree.colors.size()), bounds);
    return tree;
}

// refinePalette over a tree of at least one colour, with at least one
// entry; entryOf receives each colour's entry in the palette returned, by
// tree position.
RefineResult refineOnTree(const Tree& tree, ColorHistEntry* palette, int paletteSize, int maxPasses,
                          std::vector<int>& entryOf) {
    RefineResult result = {0, {}, 0};
    std::vector<Entry> entries;
    for (int i = 0; i < paletteSize; ++i) {
        const Pixel& p = palette[i].color;
        entries.push_back(Entry{{SUBSTEPS * p.r, SUBSTEPS * p.g, SUBSTEPS * p.b}, i});
    }
    std::vector<Moments> sums;
    const WideSum startError = assignColors(tree, entries, {}, sums, nullptr, &entryOf);
    result.errors.push_back(inSquaredSteps(startError));
    result.outputError = result.errors.front();
    if (maxPasses == 0) return result;
    const std::vector<Entry> start = entries;
    bool relocating = entries.size() <= static_cast<size_t>(RELOCATION_MAX_ENTRIES);
    // entryOf follows the assignments from here on only while relocation
    // needs it, and again at the end.
    fillEmptyEntries(tree, entries, sums, startError, &entryOf);
    std::vector<bool> placed;
    while (result.passes < maxPasses) {
        placed.assign(entries.size(), false);
        // Once a pass finds nothing worth relocating, later ones rarely do.
        relocating = relocating && relocateEntries(tree, entries, sums, entryOf, placed);
        const bool moved = moveEntries(entries, sums, placed);
        if (!moved && !relocating) break;
        ++result.passes;
        result.errors.push_back(inSquaredSteps(assignAndFill(tree, entries, sums, relocating ? &entryOf : nullptr)));
    }
    roundEntriesToSteps(entries);
    WideSum output = assignAndFill(tree, entries, sums, &entryOf);
    // Rounding may in rare cases undo more than the passes gained: the start
    // is then kept, with its empty entries filled.
    if (output > startError) {
        entries = start;
        output = assignAndFill(tree, entries, sums, &entryOf);
    }
    result.outputError = inSquaredSteps(output);
    for (const Entry& e : entries)
        palette[e.index].color = Pixel{static_cast<Sample>(e.c[0] / SUBSTEPS), static_cast<Sample>(e.c[1] / SUBSTEPS),
                                       static_cast<Sample>(e.c[2] / SUBSTEPS)};
    return result;
}

void listNearest(const Tree& tree, const std::vector<int>& entryOf, std::vector<int>* nearest) {
    if (!nearest) return;
    nearest->assign(tree.colors.size(), 0);
    for (size_t i = 0; i < tree.colors.size(); ++i) (*nearest)[tree.colors[i].position] = entryOf[i];
}

}  // namespace

RefineResult refinePalette(const std::vector<ColorCount>& colors, ColorHistEntry* palette, int paletteSize,
                           int maxPasses, std::vector<int>* nearest) {
    if (paletteSize < 1 || colors.empty()) {
        if (nearest) nearest->clear();
        return RefineResult{0, {}, 0};
    }
    const Tree tree = buildTree(colors);
    std::vector<int> entryOf;
    const RefineResult result = refineOnTree(tree, palette, paletteSize, maxPasses, entryOf);
    listNearest(tree, entryOf, nearest);
    return result;
}

RefinedChoice refineBestPalette(const std::vector<ColorCount>& colors,
                                std::vector<std::vector<ColorHistEntry>>& palettes, int maxPasses,
                                std::vector<int>* nearest) {
    RefinedChoice choice = {0, RefineResult{0, {}, 0}};
    if (nearest) nearest->clear();
    if (colors.empty()) return choice;
    const Tree tree = buildTree(colors);
    std::vector<int> entryOf, bestEntryOf;
    for (size_t i = 0; i < palettes.size(); ++i) {
        if (palettes[i].empty()) continue;
        const int size = static_cast<int>(palettes[i].size());
        const bool first = choice.result.errors.empty();
        if (!first) {
            std::vector<ColorHistEntry> unrefined = palettes[i];
            const double startError = refineOnTree(tree, unrefined.data(), size, 0, entryOf).outputError;
            if (startError >= choice.result.outputError) continue;
        }
        const RefineResult result = refineOnTree(tree, palettes[i].data(), size, maxPasses, entryOf);
        if (!first && result.outputError >= choice.result.outputError) continue;
        choice = RefinedChoice{static_cast<int>(i), result};
        bestEntryOf.swap(entryOf);
    }
    if (!choice.result.errors.empty()) listNearest(tree, bestEntryOf, nearest);
    return choice;
}

}  // namespace huecut
