// A start for the refinement: the image's colours split greedily into boxes
// of least sum of squared errors.
#ifndef HUECUT_VARIANCECUT_H
#define HUECUT_VARIANCECUT_H

#include "histogram.h"

#include <orrim.h>

#include <cstdint>
#include <vector>

namespace huecut {

typedef __int128 WideSum;  // sums of squares of many 16-bit samples

// Pixel count and pixel-weighted sums of a set of colours' samples and of
// their squares (all three together).
struct Moments {
    uint64_t pixels;
    uint64_t sum[3];
    WideSum sumSquares;
};

void addColor(Moments& m, const ColorCount& c);
Moments momentsOfRun(const ColorCount* colors, int count);

// The sum of squared errors about the mean, exact up to the one division.
double errorOf(const Moments& m);

// A box: a run of the reordered colours with its pixel count, the
// pixel-weighted sums of each sample and of the squared samples (all three
// together), and its sum of squared errors about its mean.
struct VarianceBox {
    int begin, end;
    uint64_t pixels;
    uint64_t sum[3];
    WideSum sumSquares;
    double error;
};

// The colours (reordered so that every box is one run of them) and the boxes
// made so far, in the order they were made.
struct VarianceCut {
    std::vector<ColorCount> colors;
    std::vector<VarianceBox> boxes;
};

// One box holding every colour. Colours must be distinct, samples at most
// 65535, the pixel total at most 2^32 - 1.
VarianceCut startVarianceCut(const std::vector<ColorCount>& colors);

// Splits the box of largest error (the first made among equal ones) by
// cutColorRun; the lower half keeps the box's place, the upper half is
// appended. Returns the position of the split box, or -1 when no box holds
// two colours.
int splitWorstBox(VarianceCut& cut);

// Splits into min(requested, colours, MAX_HIST_COLORS) boxes by
// splitWorstBox and returns each box's pixel-weighted mean (rounded to
// nearest, halves up), the boxes with most pixels first (the first made
// among equal ones). No colours give one black entry.
std::vector<ColorHistEntry> varianceCutPalette(const std::vector<ColorCount>& colors, int requested);

// The cut of a run of distinct colours, at least two, into the two halves of
// least total error: along one axis, the colours at or below a sample value
// against those above it; ties go to red, then green, then the lower value.
struct ColorRunCut {
    int lowerCount;  // the run is reordered: the lower half comes first
    double error;    // of the whole run
    double cutError;  // of the two halves together
};
ColorRunCut cutColorRun(ColorCount* colors, int count);

}  // namespace huecut

#endif
