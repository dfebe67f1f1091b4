#include "mediancut.h"

#include <algorithm>
#include <new>
#include <vector>

namespace huecut {

int chooseSplitAxis(Sample redSpan, Sample greenSpan, Sample blueSpan) {
    // Each weighted span is deliberately kept in single precision: that
    // decides which near-equal spans compare equal.
    float rl = static_cast<float>(0.2989 * redSpan);
    float gl = static_cast<float>(0.5866 * greenSpan);
    float bl = static_cast<float>(0.1145 * blueSpan);
    if (rl >= gl && rl >= bl) return 0;
    if (gl >= bl) return 1;
    return 2;
}

namespace {

Sample component(const Pixel& p, int axis) { return axis == 0 ? p.r : axis == 1 ? p.g : p.b; }

int chooseBoxAxis(const ColorHistEntry* entries, int colors) {
    Sample minR = entries[0].color.r, maxR = minR;
    Sample minG = entries[0].color.g, maxG = minG;
    Sample minB = entries[0].color.b, maxB = minB;
    for (int i = 1; i < colors; ++i) {
        const Pixel& c = entries[i].color;
        minR = std::min(minR, c.r), maxR = std::max(maxR, c.r);
        minG = std::min(minG, c.g), maxG = std::max(maxG, c.g);
        minB = std::min(minB, c.b), maxB = std::max(maxB, c.b);
    }
    return chooseSplitAxis(maxR - minR, maxG - minG, maxB - minB);
}

// Number of leading entries that form the lower half by pixel count: at
// least 1 and at most colors - 1. *lower receives their pixel count.
int findMedianSplit(const ColorHistEntry* entries, int colors, int64_t sum, int64_t* lower) {
    const int64_t half = sum / 2;
    int64_t acc = entries[0].value;
    int k = 1;
    while (k < colors - 1 && acc < half) {
        acc += entries[k].value;
        ++k;
    }
    *lower = acc;
    return k;
}

int findSplittableBox(const ColorBox* boxes, int count) {
    for (int i = 0; i < count; ++i)
        if (boxes[i].colors > 1) return i;
    return -1;
}

void splitBox(ColorHist hist, ColorBox* boxes, int* count, int which) {
    ColorBox& box = boxes[which];
    ColorHistEntry* entries = hist + box.index;
    const int axis = chooseBoxAxis(entries, box.colors);
    std::stable_sort(entries, entries + box.colors, [axis](const ColorHistEntry& a, const ColorHistEntry& b) {
        return component(a.color, axis) < component(b.color, axis);
    });
    int64_t lower = 0;
    const int k = findMedianSplit(entries, box.colors, box.sum, &lower);
    ColorBox added = {box.index + k, box.colors - k, box.sum - lower};
    box.colors = k;
    box.sum = lower;
    boxes[*count] = added;
    ++*count;
    reorderBoxesAfterSplit(boxes, *count, which);
}

Pixel boxRepresentative(const ColorHistEntry* entries, int colors, Sample maxval) {
    uint64_t total = 0, r = 0, g = 0, b = 0;
    for (int i = 0; i < colors; ++i) {
        const uint64_t v = static_cast<uint64_t>(entries[i].value);
        total += v;
        r += entries[i].color.r * v;
        g += entries[i].color.g * v;
        b += entries[i].color.b * v;
    }
    // Only an empty image gives a box without pixels; it stays black.
    if (total == 0) return Pixel{0, 0, 0};
    return Pixel{static_cast<Sample>(std::min<uint64_t>(r / total, maxval)),
                 static_cast<Sample>(std::min<uint64_t>(g / total, maxval)),
                 static_cast<Sample>(std::min<uint64_t>(b / total, maxval))};
}

// A table of count zeroed entries; its bytes must fit the 32-bit size limit
// of the tables.
template <typename T>
std::vector<T> allocateTable(int64_t count) {
    if (static_cast<uint64_t>(count) * sizeof(T) > UINT32_MAX) pm_error("out of memory");
    try {
        return std::vector<T>(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        pm_error("out of memory");
    }
}

}  // namespace

void reorderBoxesAfterSplit(ColorBox* boxes, int count, int split) {
    // Everything before the shrunk box has at least its old sum, which is
    // more than its new one, so it can only move towards the end; among equal
    // sums it stays ahead of the boxes that followed it.
    ColorBox shrunk = boxes[split];
    int pos = split;
    while (pos + 1 < count - 1 && boxes[pos + 1].sum > shrunk.sum) {
        boxes[pos] = boxes[pos + 1];
        ++pos;
    }
    boxes[pos] = shrunk;
    // The new box came last, so it goes behind every box of equal sum.
    ColorBox added = boxes[count - 1];
    pos = count - 1;
    while (pos > 0 && boxes[pos - 1].sum < added.sum) {
        boxes[pos] = boxes[pos - 1];
        --pos;
    }
    boxes[pos] = added;
}

std::vector<ColorHistEntry> medianCut(ColorHist hist, int colors, int64_t pixelTotal, Sample maxval,
                                      int requestedColors, int* boxCount) {
    // Splitting stops once every box holds one colour, so no more boxes than
    // colours are ever needed, and a map needs no more than one black entry
    // after them: later ones could never be the nearest colour.
    const int maxBoxes = std::max(1, std::min(requestedColors, colors));
    const int maxEntries = std::min<int64_t>(requestedColors, static_cast<int64_t>(maxBoxes) + 1);
    // Every entry starts black.
    std::vector<ColorHistEntry> map = allocateTable<ColorHistEntry>(maxEntries);
    std::vector<ColorBox> boxes = allocateTable<ColorBox>(maxBoxes);

    int count = 1;
    boxes[0] = ColorBox{0, colors, pixelTotal};
    while (count < requestedColors) {
        const int which = findSplittableBox(boxes.data(), count);
        if (which < 0) break;
        splitBox(hist, boxes.data(), &count, which);
    }
    for (int j = 0; j < count; ++j) {
        if (boxes[j].colors > 0) map[j].color = boxRepresentative(hist + boxes[j].index, boxes[j].colors, maxval);
    }
    *boxCount = count;
    map.resize(std::min(requestedColors, count + 1));
    return map;
}

}  // namespace huecut
