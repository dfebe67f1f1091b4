// The PNG form rasterpack writes, decided in one place from what the image
// analyses found and what the user asked.
#ifndef RASTERPACK_FORM_H
#define RASTERPACK_FORM_H

#include "commandline.h"
#include "palettebuild.h"

#include <cstdint>

// What the passes over the input found, and the colours of the options in
// image units.
struct ImageFacts {
    int cols = 0, rows = 0;
    Sample maxval = 255;
    int format = 0;              // the file's own code
    int imageKind = KIND_UNKNOWN;  // after the grey scan
    int significantBits = 8;
    Sample maskMaxval = 255;     // 255 without a mask
    bool maskIsOneColor = false; // the mask reduces to one transparent colour
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
bool maskInForce(const ImageFacts* facts, const EncoderSettings* settings);
// Whether a transparent colour is in force: -transparent, or a mask reduced to one.
bool transparentInForce(const ImageFacts* facts, const EncoderSettings* settings);
// Whether a palette is tried on this image at all.
bool paletteTried(const ImageFacts* facts, const EncoderSettings* settings);

// The whole form: colour type, depth, palette and its chunks, tRNS, bKGD, sBIT.
PngForm decidePngForm(const ImageFacts* facts, const EncoderSettings* settings);

// The messages of the decision, in the order the decisions are taken: the
// palette's placements (the exact-colour warning always, the rest with
// -verbose), then the depth, form, transparency, histogram, background and
// significant-bit lines (with -verbose).
void reportPngForm(const PngForm* form, const ImageFacts* facts, bool verbose);

#endif
