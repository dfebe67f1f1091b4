// rasterunpack's decisions: from the PNG's header facts and the settings to
// what the pixel conversion does to the samples (gamma correction or shift),
// the output maxval, the palette, the background, and the output format.
// Pure functions over plain records, so that they can be checked as tables.
#ifndef RASTERUNPACK_DECISIONS_H
#define RASTERUNPACK_DECISIONS_H

#include "commandline.h"

#include <cstdint>

namespace rasterunpack {

const int MAX_PALETTE_ENTRIES = 256;

struct PaletteEntry {
    uint8_t red, green, blue;
};

struct Rgb16 {
    uint16_t red, green, blue;
};

// sBIT counts as stored in the file.
struct SignificantBitCounts {
    uint8_t red, green, blue, grey, alpha;
};

// What the PNG's header chunks say, as read before the image data.
struct HeaderFacts {
    uint32_t width = 0, height = 0;
    int bitDepth = 8;
    int colorType = 0;
    int interlaceMethod = 0;

    int paletteCount = 0;
    PaletteEntry palette[MAX_PALETTE_ENTRIES] = {};

    bool hasTrns = false;
    int trnsCount = 0;  // palette alpha bytes
    uint8_t trnsAlpha[MAX_PALETTE_ENTRIES] = {};
    uint16_t trnsGrey = 0;
    Rgb16 trnsColor = {0, 0, 0};

    bool hasBkgd = false;
    uint8_t bkgdIndex = 0;
    uint16_t bkgdGrey = 0;
    Rgb16 bkgdColor = {0, 0, 0};

    bool hasGama = false;
    float imageGamma = 0.0f;

    bool hasSbit = false;
    SignificantBitCounts sbit = {0, 0, 0, 0, 0};

    bool hasPhys = false;
    uint32_t physX = 0, physY = 0;
};

// One report line and whether it shows without -verbose.
const int MAX_NOTES = 4;
const int NOTE_SIZE = 160;
struct Note {
    bool always;
    char text[NOTE_SIZE];
};

// Everything the conversion does differently for this image. Plain data: it
// lives in frames a libpng error jumps across.
//
// libpng delivers the samples as stored; the pixel conversion compares them
// with the tRNS values as they are, then maps them to the output: a gamma
// correction, or a shift down to the significant bits, or neither.
struct DecodePlan {
    bool gamma = false;
    float totalGamma = -1.0f;  // -1.0: no gamma conversion
    bool shift = false;
    int colourShift = 0;  // right shift of every grey, red, green and blue sample
    int alphaShift = 0;   // right shift of every alpha sample

    uint16_t maxval = 255;

    // Palette and palette alpha on the output's scale (shifted, when a
    // significant-bit reduction lowered maxval, and gamma-corrected). Entries
    // beyond the palette are black; palette alphas beyond the tRNS count are
    // opaque.
    PaletteEntry palette[MAX_PALETTE_ENTRIES] = {};
    int paletteShift = 0;  // right shift applied to every palette sample
    uint16_t paletteAlpha[MAX_PALETTE_ENTRIES] = {};

    Rgb16 background = {0, 0, 0};
    int outputFormat = 0;  // PBM_FORMAT, PGM_FORMAT or PPM_FORMAT

    // The gamma and significant-bit lines, in order.
    int noteCount = 0;
    Note notes[MAX_NOTES] = {};
};

// The display correction of one sample: trunc(0.5 + maxval * (v/maxval)^(1/totalGamma)),
// low 16 bits kept.
uint16_t correctGamma(uint16_t v, uint16_t maxval, float totalGamma);

// The two verbose lines describing the header and its background chunk.
void describeHeader(const HeaderFacts& facts, char lines[2][NOTE_SIZE]);

// -gamma 0 leaves a PNG without gAMA uncorrected; for a PNG with one it names
// no display gamma, and the run is refused.
bool displayGammaRefused(const HeaderFacts& facts, const DecoderSettings& settings);

// Works out the plan from the header facts and the settings. The background
// is the file's (or white); overrideBackground applies -background.
DecodePlan planConversion(const HeaderFacts& facts, const DecoderSettings& settings);

// -background's colour, parsed at plan->maxval, replaces the background.
void overrideBackground(DecodePlan* plan, int colorType, uint32_t red, uint32_t green, uint32_t blue);

// The output format; needs the final palette, so it comes after the plan.
int chooseOutputFormat(const HeaderFacts& facts, const DecodePlan& plan, AlphaMode mode);

// The non-square pixel warning, or false when there is none to give.
struct AspectWarning {
    char letter;
    double value;
};
bool aspectWarning(const HeaderFacts& facts, AspectWarning* warning);

}  // namespace rasterunpack

#endif
