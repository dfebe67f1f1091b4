#include "decisions.h"

#include <orrim.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace rasterunpack {

namespace {

const int GREY = 0, TRUECOLOR = 2, PALETTE = 3, GREY_ALPHA = 4, TRUECOLOR_ALPHA = 6;

bool hasAlphaChannel(int colorType) { return colorType == GREY_ALPHA || colorType == TRUECOLOR_ALPHA; }
bool isGreyType(int colorType) { return colorType == GREY || colorType == GREY_ALPHA; }
bool isColourType(int colorType) {
    return colorType == TRUECOLOR || colorType == PALETTE || colorType == TRUECOLOR_ALPHA;
}

uint16_t bitsToMaxval(int bits) { return static_cast<uint16_t>((1u << bits) - 1); }

__attribute__((format(printf, 3, 4))) void addNote(DecodePlan* plan, bool always, const char* format, ...) {
    if (plan->noteCount >= MAX_NOTES) return;
    Note* note = &plan->notes[plan->noteCount++];
    note->always = always;
    va_list args;
    va_start(args, format);
    vsnprintf(note->text, sizeof note->text, format, args);
    va_end(args);
}

}  // namespace

void describeHeader(const HeaderFacts& f, char lines[2][NOTE_SIZE]) {
    const char* typeName = isGreyType(f.colorType)                                     ? "gray"
                           : f.colorType == TRUECOLOR || f.colorType == TRUECOLOR_ALPHA ? "truecolor"
                           : f.colorType == PALETTE                                     ? "palette"
                                                                                        : "";
    const char* alphaSuffix = f.hasTrns ? "+transparency" : hasAlphaChannel(f.colorType) ? "+alpha" : "";
    char gammaText[48] = "";
    if (f.hasGama) snprintf(gammaText, sizeof gammaText, ", image gamma = %4.2f", f.imageGamma);
    snprintf(lines[0], NOTE_SIZE, "reading a %ldw x %ldh image, %d bit%s %s%s%s%s", long(f.width),
             long(f.height), f.bitDepth, f.bitDepth > 1 ? "s" : "", typeName, alphaSuffix, gammaText,
             f.interlaceMethod != 0 ? ", Adam7 interlaced" : "");
    snprintf(lines[1], NOTE_SIZE, "background {index, gray, red, green, blue} = {%d, %d, %d, %d, %d}",
             f.bkgdIndex, f.bkgdGrey, f.bkgdColor.red, f.bkgdColor.green, f.bkgdColor.blue);
}

namespace {

// An sBIT count of 0, or above what the channel holds, says nothing usable:
// such a chunk counts as absent rather than steering a shift.
bool sbitUsable(const HeaderFacts& f) {
    int depth = f.colorType == PALETTE ? 8 : f.bitDepth;
    auto fits = [depth](int count) { return count >= 1 && count <= depth; };
    const SignificantBitCounts& s = f.sbit;
    bool ok = isGreyType(f.colorType) ? fits(s.grey) : fits(s.red) && fits(s.green) && fits(s.blue);
    if (hasAlphaChannel(f.colorType)) ok = ok && fits(s.alpha);
    return ok;
}

// Returns whether the file's sBIT is still in force afterwards.
bool planGamma(const HeaderFacts& f, const DecoderSettings& s, DecodePlan* plan) {
    float display = s.displayGamma;
    if (display == -1.0f) return true;
    float image = f.hasGama ? f.imageGamma : 0.0f;
    if (display == image) return true;
    plan->gamma = true;
    if (f.hasGama) {
        plan->totalGamma = display * image;
        addNote(plan, false, "image gamma is %4.2f, converted for display gamma of %4.2f", image, display);
    } else {
        plan->totalGamma = display;
        addNote(plan, false, "image gamma assumed 1.0, converted for display gamma of %4.2f", display);
    }
    return false;
}

// Every grey or colour sample loses depth - colourBits bits; an alpha sample
// loses depth - alphaBits.
void shiftSamples(const HeaderFacts& f, DecodePlan* plan, int colourBits, int alphaBits) {
    plan->shift = true;
    plan->colourShift = f.bitDepth - colourBits;
    plan->alphaShift = hasAlphaChannel(f.colorType) ? f.bitDepth - alphaBits : 0;
}

int colourCount(const HeaderFacts& f) { return isGreyType(f.colorType) ? f.sbit.grey : f.sbit.red; }

bool paletteHasPartialAlpha(const HeaderFacts& f) {
    for (int i = 0; i < f.trnsCount; ++i)
        if (f.trnsAlpha[i] != 0 && f.trnsAlpha[i] != 255) return true;
    return false;
}

void planSignificantBits(const HeaderFacts& f, const DecoderSettings& s, DecodePlan* plan) {
    const SignificantBitCounts& bits = f.sbit;
    int depth = f.bitDepth;
    if (s.alphaMode == ALPHA_ONLY) {
        if (hasAlphaChannel(f.colorType) && bits.alpha < depth) {
            shiftSamples(f, plan, colourCount(f), bits.alpha);
            plan->maxval = bitsToMaxval(bits.alpha);
            addNote(plan, false, "image has fewer significant bits, writing file with %d bits", bits.alpha);
        }
        return;
    }
    if (s.alphaMode == ALPHA_MIX && hasAlphaChannel(f.colorType)) return;
    if (s.alphaMode == ALPHA_MIX && f.colorType == PALETTE && f.hasTrns && paletteHasPartialAlpha(f)) return;

    bool unequal = isColourType(f.colorType) && (bits.red != bits.green || bits.red != bits.blue);
    if (unequal && s.alphaMode == ALPHA_NONE) {
        addNote(plan, true, "different bit depths for color channels not supported");
        addNote(plan, true, "writing file with %d bit resolution", depth);
        return;
    }
    // Unequal counts under -mix: every colour channel takes the red count,
    // so that no channel's samples exceed the maxval the red count gives.
    if (f.colorType == PALETTE) {
        plan->paletteShift = 8 - bits.red;
        plan->maxval = bitsToMaxval(bits.red);
        addNote(plan, false, "image has fewer significant bits, writing file with %d bits per channel", bits.red);
    } else if (f.colorType == TRUECOLOR || f.colorType == TRUECOLOR_ALPHA) {
        if (bits.red < depth) {
            shiftSamples(f, plan, bits.red, bits.alpha);
            plan->maxval = bitsToMaxval(bits.red);
            addNote(plan, false, "image has fewer significant bits, writing file with %d bits per channel",
                    bits.red);
        }
    } else if (bits.grey < depth) {
        shiftSamples(f, plan, bits.grey, bits.alpha);
        plan->maxval = bitsToMaxval(bits.grey);
        addNote(plan, false, "image has fewer significant bits, writing file with %d bits", bits.grey);
    }
}

// Palette colours and alphas brought to the scale the output has. The tRNS
// colour or grey value is compared with the samples as stored and stays as
// the file gives it.
void planPalette(const HeaderFacts& f, DecodePlan* plan) {
    int shift = plan->paletteShift;
    for (int i = 0; i < f.paletteCount && i < MAX_PALETTE_ENTRIES; ++i) {
        plan->palette[i].red = static_cast<uint8_t>(f.palette[i].red >> shift);
        plan->palette[i].green = static_cast<uint8_t>(f.palette[i].green >> shift);
        plan->palette[i].blue = static_cast<uint8_t>(f.palette[i].blue >> shift);
    }
    for (int i = 0; i < MAX_PALETTE_ENTRIES; ++i)
        plan->paletteAlpha[i] =
            f.hasTrns && i < f.trnsCount ? static_cast<uint16_t>(f.trnsAlpha[i] >> shift) : plan->maxval;
}

void planBackground(const HeaderFacts& f, DecodePlan* plan) {
    uint16_t m = plan->maxval;
    if (!f.hasBkgd) {
        plan->background = {m, m, m};
        return;
    }
    int s = plan->colourShift;
    Rgb16 bg;
    if (isGreyType(f.colorType)) {
        uint16_t grey = static_cast<uint16_t>(f.bkgdGrey >> s);
        bg = {grey, grey, grey};
    } else if (f.colorType == PALETTE) {
        // An index beyond the palette reads as black, like such a pixel.
        PaletteEntry e = f.bkgdIndex < f.paletteCount ? plan->palette[f.bkgdIndex] : PaletteEntry{0, 0, 0};
        bg = {e.red, e.green, e.blue};
    } else {
        bg = {static_cast<uint16_t>(f.bkgdColor.red >> s), static_cast<uint16_t>(f.bkgdColor.green >> s),
              static_cast<uint16_t>(f.bkgdColor.blue >> s)};
    }
    if (plan->totalGamma != -1.0f) {
        float g = plan->totalGamma;
        bg = {correctGamma(bg.red, m, g), correctGamma(bg.green, m, g), correctGamma(bg.blue, m, g)};
    }
    plan->background = bg;
}

// Under a gamma conversion the entries are corrected like any sample (the
// background took its entry uncorrected).
void correctPalette(const HeaderFacts& f, DecodePlan* plan) {
    if (plan->totalGamma == -1.0f || f.colorType != PALETTE) return;
    for (int i = 0; i < f.paletteCount && i < MAX_PALETTE_ENTRIES; ++i) {
        PaletteEntry& e = plan->palette[i];
        e = {uint8_t(correctGamma(e.red, 255, plan->totalGamma)), uint8_t(correctGamma(e.green, 255, plan->totalGamma)),
             uint8_t(correctGamma(e.blue, 255, plan->totalGamma))};
    }
}

}  // namespace

uint16_t correctGamma(uint16_t v, uint16_t maxval, float totalGamma) {
    double corrected = 0.5 + maxval * pow(double(v) / maxval, 1.0 / double(totalGamma));
    // A total gamma that overflowed or underflowed the float must not make
    // the conversion to an integer undefined.
    if (!(corrected >= 0.0 && corrected < 4294967296.0)) return maxval;
    return static_cast<uint16_t>(static_cast<uint32_t>(corrected));
}

bool displayGammaRefused(const HeaderFacts& f, const DecoderSettings& s) {
    return s.displayGamma == 0.0f && f.hasGama && f.imageGamma != 0.0f;
}

DecodePlan planConversion(const HeaderFacts& f, const DecoderSettings& s) {
    DecodePlan plan;
    plan.maxval = f.colorType == PALETTE ? 255 : bitsToMaxval(f.bitDepth);
    bool sbitInForce = planGamma(f, s, &plan) && f.hasSbit && sbitUsable(f);
    if (sbitInForce) planSignificantBits(f, s, &plan);
    planPalette(f, &plan);
    planBackground(f, &plan);
    correctPalette(f, &plan);
    return plan;
}

void overrideBackground(DecodePlan* plan, int colorType, uint32_t red, uint32_t green, uint32_t blue) {
    if (isGreyType(colorType))
        plan->background = {uint16_t(blue), uint16_t(blue), uint16_t(blue)};
    else
        plan->background = {uint16_t(red), uint16_t(green), uint16_t(blue)};
}

int chooseOutputFormat(const HeaderFacts& f, const DecodePlan& plan, AlphaMode mode) {
    if (mode == ALPHA_ONLY) {
        if (hasAlphaChannel(f.colorType)) return plan.maxval == 1 ? PBM_FORMAT : PGM_FORMAT;
        if (f.colorType == PALETTE && f.hasTrns && paletteHasPartialAlpha(f)) return PGM_FORMAT;
        return PBM_FORMAT;
    }
    if (isGreyType(f.colorType)) return f.bitDepth == 1 ? PBM_FORMAT : PGM_FORMAT;
    if (f.colorType == PALETTE) {
        for (int i = 0; i < f.paletteCount && i < MAX_PALETTE_ENTRIES; ++i) {
            const PaletteEntry& e = plan.palette[i];
            if (e.red != e.green || e.red != e.blue) return PPM_FORMAT;
        }
        return PGM_FORMAT;
    }
    return PPM_FORMAT;
}

bool aspectWarning(const HeaderFacts& f, AspectWarning* warning) {
    // A zero density says nothing about the pixels' shape.
    if (!f.hasPhys || f.physX == 0 || f.physY == 0) return false;
    double ratio = double(f.physX) / double(f.physY);
    if (ratio == 1.0) return false;
    *warning = ratio < 1.0 ? AspectWarning{'x', 1.0 / ratio} : AspectWarning{'y', ratio};
    return true;
}

}  // namespace rasterunpack
