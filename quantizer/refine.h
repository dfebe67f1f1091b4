// Refinement of a palette over the image's own colours: Lloyd passes, with
// entries that serve little moved to where they serve more.
#ifndef HUECUT_REFINE_H
#define HUECUT_REFINE_H

#include "histogram.h"

#include <orrim.h>

#include <vector>

namespace huecut {

// The most passes -refine accepts.
const int MAX_REFINE_PASSES = 1000;

struct RefineResult {
    int passes;  // passes that moved at least one entry
    // Total squared error (summed over the three samples, weighted by pixel
    // count) of every colour against its nearest entry: of the palette given,
    // then after each pass (entries then between whole sample values). It
    // never grows.
    std::vector<double> errors;
    // The same for the palette returned: at most errors.front().
    double outputError;
};

// Runs up to maxPasses passes over palette[0..paletteSize-1] (at most
// MAX_HIST_COLORS + 1 entries, samples at most 65535, in the colours' maxval).
// Each pass assigns every colour to its nearest entry by plain squared
// distance (the lowest index on ties) and moves every entry that received
// colours to their pixel-weighted mean, kept to 1/16 of a sample step.
// Entries left without colours are moved onto the colours that contribute
// most to the error, so that with at least paletteSize distinct colours
// every entry ends up in use. On palettes of at most 1024 entries, while
// handing one entry's colours to its nearest neighbour costs less than
// cutting another entry's colours in two gains, the first entry takes half
// of those colours instead. Stops early once nothing moves. The entries are
// then rounded to whole sample values (halves up), the entries left without
// colours by the rounding placed again, and the result written back; should
// that be worse than the palette given (only rounding can make it so), the
// palette given is kept, its unused entries placed. maxPasses 0 leaves the
// palette as it is. When nearest is given, it receives for each colour the
// index of its nearest entry in the palette returned (the lowest on ties).
RefineResult refinePalette(const std::vector<ColorCount>& colors, ColorHistEntry* palette, int paletteSize,
                           int maxPasses, std::vector<int>* nearest = nullptr);

// Refines the first of the palettes that is not empty by refinePalette, then
// each later one whose error as it is already beats the best refined so far
// (a start that is worse may still end better, but rarely: refining every
// start would cost each one's passes). Returns which palette (refined in
// place) ends with the least error, the first among equally good ones, and
// its refinement's result. No colours, or only empty palettes, leave every
// palette as it is and give palette 0 with no errors. nearest as for
// refinePalette, for the chosen palette.
struct RefinedChoice {
    int chosen;
    RefineResult result;
};
RefinedChoice refineBestPalette(const std::vector<ColorCount>& colors,
                                std::vector<std::vector<ColorHistEntry>>& palettes, int maxPasses,
                                std::vector<int>* nearest = nullptr);

}  // namespace huecut

#endif
