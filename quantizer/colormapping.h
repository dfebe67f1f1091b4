// Mapping every pixel onto its nearest map colour, remembering answers in a
// colour hash, optionally with Floyd-Steinberg error diffusion.
#ifndef HUECUT_COLORMAPPING_H
#define HUECUT_COLORMAPPING_H

#include "colorsearch.h"
#include "histogram.h"
#include "owners.h"

#include <orrim.h>

#include <cstdint>
#include <vector>

namespace huecut {

// Dithering errors are in units of 1/DITHER_SCALE of a sample step.
const int DITHER_SCALE = 1024;

// Errors per component for the row being mapped and the row below. Entry
// x + 1 belongs to column x; entries 0 and cols + 1 catch what is pushed past
// the edges.
struct DitherState {
    OwnedRow<int32_t> thisRed;
    OwnedRow<int32_t> nextRed;
    OwnedRow<int32_t> thisGreen;
    OwnedRow<int32_t> nextGreen;
    OwnedRow<int32_t> thisBlue;
    OwnedRow<int32_t> nextBlue;
    bool leftToRight;
};

// A small direct-mapped memo of recent answers in front of the colour hash:
// neighbouring pixels reuse few colours, and this table stays in the
// processor's cache where the hash does not. It only holds answers the hash
// holds too (or would, had it not stopped growing), so it changes no result.
const int RECENT_COLORS_BITS = 14;

struct RecentColor {
    Pixel color;  // all samples 0xFFFFFFFF while unused: no image has them
    int32_t index;
};

// At maxvals up to this every possible colour has its own slot in a table of
// answers (2^24 slots of 2 bytes at most, of which only the pages that
// colours reach are ever touched), which replaces the memo and the hash: no
// look-up is cheaper, its size is bounded where a hash of the many colours
// that dithering makes is not, and the answers are the same.
const Sample DIRECT_ANSWERS_MAX_MAXVAL = 255;

static_assert(MAX_HIST_COLORS < UINT16_MAX, "map indices must fit the direct answers");

// Everything the mapping of one run shares from row to row.
struct ColorMapping {
    const ColorHistEntry* map;
    int mapSize;
    Sample maxval;            // the output maxval
    OwnedColorSearch search;  // over map[0..searchSize-1]
    OwnedColorHash hash;      // pixel colour -> map index
    bool useHash;             // false once the hash could not grow
    std::vector<RecentColor> recent;
    // Per colour: its answer plus 1, 0 until searched; from calloc so that
    // untouched pages cost nothing. Null above DIRECT_ANSWERS_MAX_MAXVAL (or
    // when it could not be had: the memo and hash serve then). Answers fit:
    // no map has more than MAX_HIST_COLORS + 1 entries that can be one.
    MallocBlock<uint16_t> direct;
};

// Sets up the hash and the search, replacing whatever mapping held. Only
// map[0..searchSize-1] can ever be the answer (the entries after it repeat
// earlier colours); pass mapSize when unsure. The mapping borrows map.
void initColorMapping(ColorMapping* mapping, const ColorHistEntry* map, int mapSize, int searchSize, Sample maxval);

// Allocates the error rows and fills this row's errors with random values in
// [-DITHER_SCALE, DITHER_SCALE) drawn from random() after srandom(seed).
void initDitherState(DitherState* dither, int cols, unsigned int seed);

// The nearest map entry to pixel (lowest index on ties); remembers the
// answer in the hash while it can grow.
int findNearestColor(ColorMapping* mapping, const Pixel& pixel);

// Spreads the error of column x (adjusted minus chosen) to the neighbours
// not yet mapped, for the current direction.
void diffuseError(DitherState* dither, int x, const Pixel& adjusted, const Pixel& chosen);

// Maps one row in place. dither is used (and may be null otherwise) only
// when floyd is nonzero.
void mapRow(Pixel* row, int cols, ColorMapping* mapping, unsigned int floyd, DitherState* dither);

// Maps one row without dithering when each pixel's colour is known by its
// position in a colour list (colorOfPixel, the row's part of it) and each
// listed colour's nearest entry (nearest, by findNearestColor's rule): the same
// result as mapRow without dithering.
void mapRowByColorList(Pixel* row, int cols, const ColorMapping* mapping, const uint32_t* colorOfPixel,
                       const std::vector<int>& nearest);

}  // namespace huecut

#endif
