// Choosing the output colours from the image itself: a colour histogram
// (coarsening the samples until it fits) and the median cut over it.
#ifndef HUECUT_MEDIANCUT_H
#define HUECUT_MEDIANCUT_H

#include <orrim.h>

#include <cstdint>

// The most distinct colours a histogram (or a map file) may hold.
const int MAX_HIST_COLORS = 32767;

// The candidate colours; only each entry's colour is used.
typedef ColorHistEntry* QuantColormap;

// One box of the median cut: a run of consecutive histogram entries.
struct ColorBox {
    int index;    // first entry in the histogram
    int colors;   // number of entries, at least 1
    int64_t sum;  // pixels those entries stand for
};

// Brings every sample from oldMaxval to newMaxval in place:
// s = (s * newMaxval + oldMaxval / 2) / oldMaxval. Both maxvals at most 65535.
void rescalePixels(Pixel** pixels, int cols, int rows, Sample oldMaxval, Sample newMaxval);

// Counts the distinct colours, halving the maxval (and rescaling the image in
// place) while there are more than MAX_HIST_COLORS. Returns the histogram;
// *colors and *newMaxval receive its size and the maxval the image is now in.
ColorHist computeHistogram(Pixel** pixels, int cols, int rows, Sample maxval, int* colors, Sample* newMaxval);

// The split axis for luminance-weighted spans: 0 red, 1 green, 2 blue.
// Ties go to red, then green.
int chooseSplitAxis(Sample redSpan, Sample greenSpan, Sample blueSpan);

// Restores the largest-sum-first order of boxes[0..count-1] after the box at
// position split shrank and a new box was appended at position count-1, with
// the result a stable sort would give.
void reorderBoxesAfterSplit(ColorBox* boxes, int count, int split);

// Splits the histogram (reordered in place) into at most requestedColors
// boxes and returns a map of exactly requestedColors entries: box j's
// representative in entry j, black beyond the last box. *boxCount receives
// the number of boxes made. Fails with "out of memory" when the map or the
// box list cannot be had.
QuantColormap medianCut(ColorHist hist, int colors, int64_t pixelTotal, Sample maxval, int requestedColors,
                        int* boxCount);

#endif
