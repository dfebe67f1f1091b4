#include "variancecut.h"

#include <algorithm>

namespace huecut {

// Each split looks at every cut of the box along each axis: the colours are
// gathered by their sample on that axis (into one slot per sample value,
// all three axes in one pass over the colours; with 16-bit samples into
// slots of the box's own span when that is not much wider than its colour
// count, by sorting otherwise), and a running sum over the values gives, for
// every cut, the pixel counts and sums of both halves, hence how much the
// cut lowers the error, in one sweep.

namespace {

inline Sample sampleOf(const ColorCount& c, int axis) { return axis == 0 ? c.r : axis == 1 ? c.g : c.b; }

const Moments NO_MOMENTS = {0, {0, 0, 0}, 0};

Moments difference(const Moments& whole, const Moments& part) {
    Moments m = whole;
    m.pixels -= part.pixels;
    for (int axis = 0; axis < 3; ++axis) m.sum[axis] -= part.sum[axis];
    m.sumSquares -= part.sumSquares;
    return m;
}

}  // namespace

void addColor(Moments& m, const ColorCount& c) {
    m.pixels += c.count;
    uint64_t squares = 0;  // below 2^34
    for (int axis = 0; axis < 3; ++axis) {
        const uint64_t v = sampleOf(c, axis);
        m.sum[axis] += v * c.count;
        squares += v * v;
    }
    m.sumSquares += static_cast<WideSum>(squares) * c.count;
}

Moments momentsOfRun(const ColorCount* colors, int count) {
    Moments m = NO_MOMENTS;
    for (int i = 0; i < count; ++i) addColor(m, colors[i]);
    return m;
}

// The sum of squared errors about the mean: pixels x error = pixels x sum of
// squares - |sum|^2 is a whole number, formed exactly (below 2^99) and
// divided once, so the error keeps full relative precision however large
// the sums.
double errorOf(const Moments& m) {
    if (m.pixels == 0) return 0;
    WideSum scaled = static_cast<WideSum>(m.pixels) * m.sumSquares;
    for (int axis = 0; axis < 3; ++axis) scaled -= static_cast<WideSum>(m.sum[axis]) * m.sum[axis];
    return static_cast<double>(scaled) / static_cast<double>(m.pixels);
}

namespace {

// Pixel count and sums of the samples of a set of colours: all a cut needs.
struct Sums {
    uint64_t pixels;
    uint64_t sum[3];
};

const Sums NO_SUMS = {0, {0, 0, 0}};

inline void addSums(Sums& s, const Sums& other) {
    s.pixels += other.pixels;
    for (int axis = 0; axis < 3; ++axis) s.sum[axis] += other.sum[axis];
}

inline Sums sumsOf(const ColorCount& c) {
    return Sums{c.count, {uint64_t(c.r) * c.count, uint64_t(c.g) * c.count, uint64_t(c.b) * c.count}};
}

// The sums of a run's colours at each sample value present on one axis, in
// ascending order of the value.
struct ValueSums {
    Sample value;
    Sums sums;
};

// Up to this largest sample every value has a slot on each axis, kept from
// one cut to the next: a cut gathers its colours in one pass over them. With
// larger samples (a box may span far more values than it has colours) each
// axis gathers its own slots, or sorts the colours. A single cut keeps the
// dense slots to 8-bit samples, whose table is cheap to set up.
const Sample DENSE_SLOTS_MAX_SAMPLE = 4095;
const Sample SINGLE_CUT_DENSE_MAX_SAMPLE = 255;

// Buffers kept from one cut to the next.
struct CutScratch {
    bool dense;
    std::vector<Sums> slots[3];  // all empty between cuts when dense
    std::vector<ValueSums> values;
    std::vector<ColorCount> sorted;
};

// Dense slots when no sample of the colours passes denseLimit.
CutScratch makeScratch(const ColorCount* colors, size_t count, Sample denseLimit) {
    Sample largest = 0;
    for (size_t i = 0; i < count; ++i)
        largest = std::max({largest, Sample(colors[i].r), Sample(colors[i].g), Sample(colors[i].b)});
    CutScratch scratch;
    scratch.dense = largest <= denseLimit;
    if (scratch.dense)
        for (std::vector<Sums>& axisSlots : scratch.slots) axisSlots.assign(static_cast<size_t>(largest) + 1, NO_SUMS);
    return scratch;
}

// Moves the slots lo..hi that hold pixels to values, in order, emptying
// them; slot v stands for the value v + offset.
void takeSlots(std::vector<Sums>& slots, Sample lo, Sample hi, Sample offset, std::vector<ValueSums>& values) {
    values.clear();
    for (Sample v = lo; v <= hi; ++v)
        if (slots[v].pixels > 0) {
            values.push_back(ValueSums{v + offset, slots[v]});
            slots[v] = NO_SUMS;
        }
}

void gatherBySlots(const ColorCount* colors, int count, int axis, Sample lo, Sample hi, CutScratch& scratch) {
    std::vector<Sums>& slots = scratch.slots[axis];
    slots.assign(static_cast<size_t>(hi - lo) + 1, NO_SUMS);
    for (int i = 0; i < count; ++i) addSums(slots[sampleOf(colors[i], axis) - lo], sumsOf(colors[i]));
    takeSlots(slots, 0, hi - lo, lo, scratch.values);
}

void gatherBySorting(const ColorCount* colors, int count, int axis, CutScratch& scratch) {
    scratch.sorted.assign(colors, colors + count);
    std::sort(scratch.sorted.begin(), scratch.sorted.end(),
              [axis](const ColorCount& a, const ColorCount& b) { return sampleOf(a, axis) < sampleOf(b, axis); });
    scratch.values.clear();
    for (const ColorCount& c : scratch.sorted) {
        const Sample v = sampleOf(c, axis);
        if (scratch.values.empty() || scratch.values.back().value != v) scratch.values.push_back(ValueSums{v, NO_SUMS});
        addSums(scratch.values.back().sums, sumsOf(c));
    }
}

struct Cut {
    int axis;  // -1 while none is found
    Sample value;
    double gain;  // how much less error the two halves have than the whole
};

// Improves best with the best cut among the values of one axis. Cutting a
// set of n pixels with mean m into halves of n1 and n2 pixels with sums s1
// and s2 lowers its error by |s1 - n1 m|^2 n / (n1 n2): the sums about the
// mean keep the gain's precision, where the two errors themselves would be
// differences of nearly equal large numbers.
void findCutAmongValues(const std::vector<ValueSums>& values, const Sums& whole, int axis, Cut& best) {
    const double n = static_cast<double>(whole.pixels);
    double mean[3];
    for (int a = 0; a < 3; ++a) mean[a] = static_cast<double>(whole.sum[a]) / n;
    Sums lower = NO_SUMS;
    for (size_t k = 0; k + 1 < values.size(); ++k) {
        addSums(lower, values[k].sums);
        const double n1 = static_cast<double>(lower.pixels);
        double spread = 0;
        for (int a = 0; a < 3; ++a) {
            const double d = static_cast<double>(lower.sum[a]) - n1 * mean[a];
            spread += d * d;
        }
        const double gain = spread * n / (n1 * (n - n1));
        if (best.axis < 0 || gain > best.gain) best = Cut{axis, values[k].value, gain};
    }
}

void findCutDense(const ColorCount* colors, int count, const Sums& whole, CutScratch& scratch, Cut& best) {
    Sample lo[3], hi[3];
    for (int axis = 0; axis < 3; ++axis) lo[axis] = hi[axis] = sampleOf(colors[0], axis);
    for (int i = 0; i < count; ++i) {
        const Sums own = sumsOf(colors[i]);
        for (int axis = 0; axis < 3; ++axis) {
            const Sample v = sampleOf(colors[i], axis);
            addSums(scratch.slots[axis][v], own);
            lo[axis] = std::min(lo[axis], v);
            hi[axis] = std::max(hi[axis], v);
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        takeSlots(scratch.slots[axis], lo[axis], hi[axis], 0, scratch.values);
        findCutAmongValues(scratch.values, whole, axis, best);
    }
}

void findCutSparse(const ColorCount* colors, int count, const Sums& whole, CutScratch& scratch, Cut& best) {
    for (int axis = 0; axis < 3; ++axis) {
        Sample lo = sampleOf(colors[0], axis), hi = lo;
        for (int i = 1; i < count; ++i) {
            lo = std::min(lo, sampleOf(colors[i], axis));
            hi = std::max(hi, sampleOf(colors[i], axis));
        }
        if (lo == hi) continue;
        // One slot per value costs the span; sorting costs the colours.
        if (static_cast<uint64_t>(hi - lo) < 4 * static_cast<uint64_t>(count) + 256)
            gatherBySlots(colors, count, axis, lo, hi, scratch);
        else
            gatherBySorting(colors, count, axis, scratch);
        findCutAmongValues(scratch.values, whole, axis, best);
    }
}

// Finds the best cut of a run of at least two distinct colours and reorders
// the run so that its lower half comes first; returns the lower half's size.
int cutRun(ColorCount* colors, int count, const Moments& whole, CutScratch& scratch) {
    const Sums wholeSums = {whole.pixels, {whole.sum[0], whole.sum[1], whole.sum[2]}};
    Cut best = {-1, 0, 0};
    if (scratch.dense)
        findCutDense(colors, count, wholeSums, scratch, best);
    else
        findCutSparse(colors, count, wholeSums, scratch, best);
    // Distinct colours differ on some axis, so a cut was found.
    const int axis = best.axis;
    const Sample value = best.value;
    const ColorCount* middle = std::partition(
        colors, colors + count, [axis, value](const ColorCount& c) { return sampleOf(c, axis) <= value; });
    return static_cast<int>(middle - colors);
}

VarianceBox makeBox(int begin, int end, const Moments& m) {
    VarianceBox box = {begin, end, m.pixels, {m.sum[0], m.sum[1], m.sum[2]}, m.sumSquares, errorOf(m)};
    return box;
}

void splitBox(VarianceCut& cut, int which, CutScratch& scratch) {
    VarianceBox& box = cut.boxes[which];
    ColorCount* colors = cut.colors.data() + box.begin;
    const Moments whole = {box.pixels, {box.sum[0], box.sum[1], box.sum[2]}, box.sumSquares};
    const int lowerCount = cutRun(colors, box.end - box.begin, whole, scratch);
    const Moments lower = momentsOfRun(colors, lowerCount);
    const int mid = box.begin + lowerCount;
    const VarianceBox upper = makeBox(mid, box.end, difference(whole, lower));
    box = makeBox(box.begin, mid, lower);
    cut.boxes.push_back(upper);
}

inline bool canSplit(const VarianceBox& box) { return box.end - box.begin > 1; }

// Heap order over box positions: the largest error on top, the first made
// among equal ones.
struct LessWorse {
    const std::vector<VarianceBox>* boxes;
    bool operator()(int a, int b) const {
        const double ea = (*boxes)[a].error, eb = (*boxes)[b].error;
        return ea < eb || (ea == eb && a > b);
    }
};

// Rounded to nearest, halves up.
inline Sample roundedMean(uint64_t sum, uint64_t pixels) {
    return static_cast<Sample>((2 * static_cast<WideSum>(sum) + pixels) / (2 * static_cast<WideSum>(pixels)));
}

std::vector<ColorHistEntry> boxMeans(const VarianceCut& cut) {
    std::vector<int> order(cut.boxes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&cut](int a, int b) { return cut.boxes[a].pixels > cut.boxes[b].pixels; });
    std::vector<ColorHistEntry> palette;
    palette.reserve(order.size());
    for (int i : order) {
        const VarianceBox& box = cut.boxes[i];
        const Pixel mean = {roundedMean(box.sum[0], box.pixels), roundedMean(box.sum[1], box.pixels),
                            roundedMean(box.sum[2], box.pixels)};
        palette.push_back(ColorHistEntry{mean, static_cast<long>(box.pixels)});
    }
    if (palette.empty()) palette.push_back(ColorHistEntry{Pixel{0, 0, 0}, 0});
    return palette;
}

}  // namespace

VarianceCut startVarianceCut(const std::vector<ColorCount>& colors) {
    VarianceCut cut;
    cut.colors = colors;
    if (!colors.empty())
        cut.boxes.push_back(makeBox(0, static_cast<int>(colors.size()),
                                    momentsOfRun(colors.data(), static_cast<int>(colors.size()))));
    return cut;
}

int splitWorstBox(VarianceCut& cut) {
    int worst = -1;
    for (int i = 0; i < static_cast<int>(cut.boxes.size()); ++i)
        if (canSplit(cut.boxes[i]) && (worst < 0 || cut.boxes[i].error > cut.boxes[worst].error)) worst = i;
    CutScratch scratch = makeScratch(cut.colors.data(), cut.colors.size(), SINGLE_CUT_DENSE_MAX_SAMPLE);
    if (worst >= 0) splitBox(cut, worst, scratch);
    return worst;
}

std::vector<ColorHistEntry> varianceCutPalette(const std::vector<ColorCount>& colors, int requested) {
    VarianceCut cut = startVarianceCut(colors);
    const size_t target = static_cast<size_t>(std::min(std::max(requested, 1), MAX_HIST_COLORS));
    // The boxes that can still be split, in a heap: the same choice as
    // splitWorstBox without scanning every box.
    std::vector<int> heap;
    const LessWorse less = {&cut.boxes};
    if (!cut.boxes.empty() && canSplit(cut.boxes[0])) heap.push_back(0);
    CutScratch scratch = makeScratch(cut.colors.data(), cut.colors.size(), DENSE_SLOTS_MAX_SAMPLE);
    while (cut.boxes.size() < target && !heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), less);
        const int which = heap.back();
        heap.pop_back();
        splitBox(cut, which, scratch);
        for (int made : {which, static_cast<int>(cut.boxes.size()) - 1}) {
            if (!canSplit(cut.boxes[made])) continue;
            heap.push_back(made);
            std::push_heap(heap.begin(), heap.end(), less);
        }
    }
    return boxMeans(cut);
}

ColorRunCut cutColorRun(ColorCount* colors, int count) {
    const Moments whole = momentsOfRun(colors, count);
    CutScratch scratch = makeScratch(colors, static_cast<size_t>(count), SINGLE_CUT_DENSE_MAX_SAMPLE);
    const int lowerCount = cutRun(colors, count, whole, scratch);
    const Moments lower = momentsOfRun(colors, lowerCount);
    return ColorRunCut{lowerCount, errorOf(whole), errorOf(lower) + errorOf(difference(whole, lower))};
}

}  // namespace huecut
