// Lloyd refinement of a palette over the image's own colours.
#ifndef HUECUT_REFINE_H
#define HUECUT_REFINE_H

#include "histogram.h"

#include <orrim.h>

#include <vector>

// The most passes -refine accepts.
const int MAX_REFINE_PASSES = 1000;

struct RefineResult {
    int passes;  // passes that moved at least one entry
    // Total squared error (summed over the three samples, weighted by pixel
    // count) of every colour against its nearest entry: before the first pass,
    // then after each pass. It never grows.
    std::vector<double> errors;
};

// Runs up to maxPasses passes over palette[0..paletteSize-1] (at most
// MAX_HIST_COLORS + 1 entries, samples at most 65535, in the colours' maxval):
// each assigns every colour to its nearest entry by plain squared distance
// (the lowest index on ties) and moves every entry that received colours to
// their pixel-weighted mean, rounded; an entry that received none stays. Stops
// early once no entry moves.
RefineResult refinePalette(const std::vector<ColorCount>& colors, ColorHistEntry* palette, int paletteSize,
                           int maxPasses);

#endif
