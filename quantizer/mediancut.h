// Choosing the output colours from the image itself: the median cut over the
// image's colour histogram.
#ifndef HUECUT_MEDIANCUT_H
#define HUECUT_MEDIANCUT_H

#include "histogram.h"

#include <orrim.h>

#include <cstdint>
#include <vector>

namespace huecut {

// One box of the median cut: a run of consecutive histogram entries.
struct ColorBox {
    int index;    // first entry in the histogram
    int colors;   // number of entries, at least 1
    int64_t sum;  // pixels those entries stand for
};

// The split axis for luminance-weighted spans: 0 red, 1 green, 2 blue.
// Ties go to red, then green.
int chooseSplitAxis(Sample redSpan, Sample greenSpan, Sample blueSpan);

// Restores the largest-sum-first order of boxes[0..count-1] after the box at
// position split shrank and a new box was appended at position count-1, with
// the result a stable sort would give.
void reorderBoxesAfterSplit(ColorBox* boxes, int count, int split);

// Splits the histogram (reordered in place) into at most requestedColors
// boxes and returns the map: box j's representative in entry j, then, when
// there are fewer boxes than asked, one black entry (a map of requestedColors
// entries would repeat it to the end; the repeats can never be the nearest
// colour, so they are not made). *boxCount receives the number of boxes.
// Fails with "out of memory" when the map or the box list cannot be had.
std::vector<ColorHistEntry> medianCut(ColorHist hist, int colors, int64_t pixelTotal, Sample maxval,
                                      int requestedColors, int* boxCount);

}  // namespace huecut

#endif
