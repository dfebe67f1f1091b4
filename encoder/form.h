// The PNG form rasterpack writes, decided in one place from what the image
// analyses observed and what the user asked. Every rule that turns the one
// into the other lives here; the driver only gathers the observations,
// asking these rules which passes are still worth making.
#ifndef RASTERPACK_FORM_H
#define RASTERPACK_FORM_H

#include "palettebuild.h"
#include "paletteplacement.h"

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

// The messages of the decision, in the order the decisions are taken: why a
// palette was refused (with -verbose), the palette's placements (the
// exact-colour warning always, the rest with -verbose), then the depth,
// form, transparency, histogram, background and significant-bit lines (with
// -verbose).
void reportPngForm(const PngForm* form, bool verbose);

}  // namespace rasterpack

#endif
