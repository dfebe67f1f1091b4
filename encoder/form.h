// The PNG form rasterpack writes, decided in one place from what the image
// analyses observed and what the user asked. Every rule that turns the one
// into the other lives here; the driver only gathers the observations,
// asking these rules which passes are still worth making.
#ifndef RASTERPACK_FORM_H
#define RASTERPACK_FORM_H

#include "palettebuild.h"
#include "paletteplacement.h"

#include <cstddef>
#include <cstdint>

namespace rasterpack {

// What the user asked that bears on the form.
struct FormRequest {
    bool alpha = false;           // -alpha: a mask is given
    bool force = false;           // -force: the file's own form, no analysis, no palette
    bool transparent = false;     // -transparent
    bool background = false;      // -background
    bool hist = false;            // -hist
    bool interlace = false;       // -interlace
    bool orderedPalette = false;  // -palette
    bool optimize = false;        // -optimize: the lossless reductions below are candidates too
};

// What the passes over the input observed, and the colours of the options
// in image units.
struct ImageFacts {
    int cols = 0, rows = 0;
    Sample maxval = 255;
    int format = 0;                // the file's own code
    int imageKind = KIND_UNKNOWN;  // the file's family: PBM, PGM or PPM
    bool allGrey = false;          // a colour image scanned and found to hold grey pixels only
    int significantBits = 8;       // from the analysis when one was made, else from maxval
    Sample maskMaxval = 255;       // 255 without a mask
    bool maskIsOneColor = false;   // the mask could become one transparent colour
    Pixel maskColor = {0, 0, 0};
    Pixel transparentColor = {0, 0, 0};  // -transparent, when given
    bool exactTransparent = false;
    Pixel backgroundColor = {0, 0, 0};   // -background, when given
    PaletteAttempt palette;
    const HistogramCache* histogram = nullptr;  // for hIST; null when not computed

    // Observed for -optimize's reductions alone; the default rules never
    // read them.
    bool maskOpaque = false;        // every mask value is the mask's maxval
    bool maskFitsByte = false;      // every mask value, written at 16 bits, would be a repeated byte
    int maskedGreyBits = 0;         // a grey image with a mask: its significant bits; 0: not scanned
    PaletteAttempt reducedPalette;  // the palette of the reduced image (reducedPaletteWanted)
};

// A colour of tRNS or bKGD at the PNG depth; grey is the blue sample.
struct PngColor {
    uint16_t gray = 0, red = 0, green = 0, blue = 0;
};

struct SignificantBits {
    int gray = 0, red = 0, green = 0, blue = 0, alpha = 0;
};

// Whether the form has a palette, or why not where one was considered.
enum PaletteVerdict {
    PALETTE_NOT_CONSIDERED,  // -force, a bit image, maxval above 255
    PALETTE_USED,
    PALETTE_REFUSED_TOO_MANY_COLORS,
    PALETTE_REFUSED_GREY_INDEX_TOO_WIDE,  // the indexes would be wider than half the grey samples
    PALETTE_REFUSED_TOO_MANY_PAIRS,
};

struct PngForm {
    int width = 0, height = 0;
    int colorType = 0;  // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGB+alpha
    int depth = 8;
    Sample pngMaxval = 255;
    int pixelSize = 8;  // bits, for the report
    bool maskInForce = false;
    bool interlace = false;

    // Palette images.
    bool colormapped = false;
    PaletteVerdict paletteVerdict = PALETTE_NOT_CONSIDERED;
    Colormap colormap;
    uint8_t plte[MAX_PALETTE_COLORS][3] = {};
    uint8_t trns[MAX_PALETTE_COLORS] = {};  // transSize bytes
    bool hasHist = false;
    uint16_t hist[MAX_PALETTE_COLORS] = {};
    TransparentPlacement transparentPlacement = TRANSPARENT_NONE;
    BackgroundPlacement backgroundPlacement = BACKGROUND_NONE;

    // Grey and truecolour images.
    bool hasTransparentColor = false;
    PngColor transparentColor;

    bool hasBackground = false;
    PngColor backgroundColor;  // not for palette images
    int backgroundIndex = 0;   // palette images

    bool hasSignificantBits = false;
    SignificantBits significantBits;
    int sbitValue = 0;  // the value reported
};

// Whether the mask of -alpha stays in force (is not reduced to one
// transparent colour).
bool maskInForce(const ImageFacts* facts, const FormRequest* request);
// Whether the mask of -alpha is reduced to one transparent colour.
bool maskReduced(const ImageFacts* facts, const FormRequest* request);
// Whether a transparent colour is in force: -transparent, or a mask reduced to one.
bool transparentInForce(const ImageFacts* facts, const FormRequest* request);
// Whether the image is written with grey samples: a bit or grey file, or a
// colour file whose pixels are all grey (not under -force).
bool imageIsGrey(const ImageFacts* facts, const FormRequest* request);

// The passes worth making over the raster, each of which -force skips: the
// grey scan of a colour file, the significant-bit analysis, the palette.
bool greyScanWanted(const ImageFacts* facts, const FormRequest* request);
enum SignificantBitsScan { SBIT_SCAN_NONE, SBIT_SCAN_GREY, SBIT_SCAN_COLOR };
SignificantBitsScan significantBitsScan(const ImageFacts* facts, const FormRequest* request);
// Whether a palette is tried on this image at all (its colours counted).
bool paletteTried(const ImageFacts* facts, const FormRequest* request);
// Once the colours are counted: whether the form could still take a palette,
// so that building one is worth its pass.
bool paletteWorthBuilding(const ImageFacts* facts, const FormRequest* request);

// The whole form: colour type, depth, palette and its chunks, tRNS, bKGD, sBIT.
PngForm decidePngForm(const ImageFacts* facts, const FormRequest* request);

// --- -optimize's candidate forms ----------------------------------------------
//
// -optimize writes the smallest of several forms, all holding exactly the
// samples of the default's: the default's own form, and the forms the
// default rules give the image once it is reduced losslessly further than
// they go.

struct FormReductions {
    bool dropMask = false;   // the mask in force is opaque everywhere: no alpha at all
    bool eightBits = false;  // samples above 8 bits (and the mask, and the colours of
                             // -transparent and -background) are repeated bytes: 8 bits
                             // a sample, and a palette may be tried
    bool any() const { return dropMask || eightBits; }
};

FormReductions formReductions(const ImageFacts* facts, const FormRequest* request);

// Whether a value survives 8 bits exactly: a repeated byte written at 16
// bits, and back at maxval unchanged.
bool sampleFitsByte(Sample value, Sample maxval);

// The passes the reductions need beyond the default's, in this order, each
// asked once the facts before it are in: the significant bits of a grey
// image under its mask; then the colours of the reduced image, where the
// default's palette attempt does not serve it (counted, then built with
// the reduced image's mask when the rules could still take a palette).
bool maskedGreyScanWanted(const ImageFacts* facts, const FormRequest* request);
bool reducedPaletteWanted(const ImageFacts* facts, const FormRequest* request);
bool reducedMaskInForce(const ImageFacts* facts, const FormRequest* request);
bool reducedPaletteWorthBuilding(const ImageFacts* facts, const FormRequest* request);

const int MAX_FORM_CANDIDATES = 3;

struct FormCandidates {
    PngForm forms[MAX_FORM_CANDIDATES];  // [0]: the default's form
    int count = 0;
    FormReductions reductions;
};

// The default's form, then (under -optimize) the reduced image's palette
// form and its direct form, each left out when it is the default's.
FormCandidates formCandidates(const ImageFacts* facts, const FormRequest* request);

// Whether -optimize may try orders of the palette's entries: not when a
// -palette file gives the order.
bool paletteOrderFree(const FormRequest* request);

// The form with its palette entries in a new order: order[i] is the old index
// of the entry that goes to index i; it keeps the non-opaque entries first.
void applyPaletteOrder(PngForm* form, const uint8_t* order, int entries);

// Bytes of the chunks that differ between forms of one image (PLTE, tRNS,
// bKGD, hIST, sBIT), headers and checksums included.
uint64_t formChunkBytes(const PngForm* form);

// A form in words for -verbose, by its bits a sample or index, e.g.
// "4-bit palette (9 entries)" or "16-bit gray+alpha".
void describeForm(const PngForm* form, char* text, size_t size);

// With -verbose: the reductions found and the forms they add.
void reportFormCandidates(const FormCandidates* candidates, bool verbose);

// The messages of the decision, in the order the decisions are taken: why a
// palette was refused (with -verbose), the palette's placements (the
// exact-colour warning always, the rest with -verbose), then the depth,
// form, transparency, histogram, background and significant-bit lines (with
// -verbose).
void reportPngForm(const PngForm* form, bool verbose);

}  // namespace rasterpack

#endif
