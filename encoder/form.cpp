#include "form.h"

namespace rasterpack {

namespace {

PngColor pngColorAt(Pixel p, Sample maxval, Sample pngMaxval) {
    PngColor c;
    c.red = uint16_t(pm_rescalesample(p.r, maxval, pngMaxval));
    c.green = uint16_t(pm_rescalesample(p.g, maxval, pngMaxval));
    c.blue = uint16_t(pm_rescalesample(p.b, maxval, pngMaxval));
    c.gray = c.blue;
    return c;
}

// sBIT may not exceed the depth: a wider input (-downscale), or samples the
// analysis found to be copies of fewer bits, keep at most the depth's bits.
int bitsAtDepth(Sample maxval, int depth) {
    int bits = pm_maxvaltobits(maxval);
    return bits > depth ? depth : bits;
}

// A grey image whose palette indexes would need more than half the bits of
// its samples is smaller written as grey. The order of a -palette file
// overrides the rule.
bool greyIndexTooWide(const ImageFacts* f, const FormRequest* r) {
    if (r->orderedPalette || !imageIsGrey(f, r)) return false;
    int count = f->palette.colorCount;
    if (count == 0) return true;
    return pm_maxvaltobits(Sample(count - 1)) > pm_maxvaltobits(f->maxval) / 2;
}

PaletteVerdict paletteVerdict(const ImageFacts* f, const FormRequest* r) {
    if (!paletteTried(f, r)) return PALETTE_NOT_CONSIDERED;
    switch (f->palette.outcome) {
    case PALETTE_TOO_MANY_COLORS: return PALETTE_REFUSED_TOO_MANY_COLORS;
    case PALETTE_NOT_TRIED: return PALETTE_NOT_CONSIDERED;  // the colours were not counted
    default: break;
    }
    if (greyIndexTooWide(f, r)) return PALETTE_REFUSED_GREY_INDEX_TOO_WIDE;
    if (f->palette.outcome == PALETTE_TOO_MANY_PAIRS) return PALETTE_REFUSED_TOO_MANY_PAIRS;
    return f->palette.outcome == PALETTE_BUILT ? PALETTE_USED : PALETTE_NOT_CONSIDERED;
}

void decidePaletteForm(const ImageFacts* f, const FormRequest* r, PngForm* form) {
    Colormap* cm = &form->colormap;
    *cm = f->palette.base;
    if (!form->maskInForce && transparentInForce(f, r)) {
        bool fromMask = !r->transparent;
        Pixel color = fromMask ? f->maskColor : f->transparentColor;
        form->transparentPlacement = makePaletteColorTransparent(cm, color, fromMask ? false : f->exactTransparent);
    }
    if (r->background) {
        form->backgroundPlacement = placeBackgroundInPalette(f->backgroundColor, cm);
        form->hasBackground = true;
        form->backgroundIndex = cm->backgroundIndex;
    }
    cm->indexBits = chooseIndexBits(cm->paletteSize);
    form->colorType = 3;
    form->depth = cm->indexBits;
    form->pixelSize = form->depth;
    for (int i = 0; i < cm->paletteSize; ++i) {
        form->plte[i][0] = uint8_t(pm_rescalesample(cm->palette[i].r, f->maxval, 255));
        form->plte[i][1] = uint8_t(pm_rescalesample(cm->palette[i].g, f->maxval, 255));
        form->plte[i][2] = uint8_t(pm_rescalesample(cm->palette[i].b, f->maxval, 255));
    }
    for (int i = 0; i < cm->transSize; ++i)
        form->trns[i] = uint8_t(pm_rescalesample(cm->paletteAlpha[i], f->maskMaxval, 255));
    if (r->hist && f->histogram) {
        form->hasHist = true;
        histogramCounts(f->histogram, cm, form->hist);
    }
}

void decideDirectForm(const ImageFacts* f, const FormRequest* r, PngForm* form) {
    const bool grey = imageIsGrey(f, r);
    const bool alpha = form->maskInForce;
    const int bits = f->significantBits;
    if (grey && !alpha)
        form->depth = bits <= 1 ? 1 : bits == 2 ? 2 : bits <= 4 ? 4 : bits <= 8 ? 8 : 16;
    else
        form->depth = bits <= 8 ? 8 : 16;
    form->pixelSize = ((grey ? 1 : 3) + (alpha ? 1 : 0)) * form->depth;
    form->colorType = (grey ? 0 : 2) | (alpha ? 4 : 0);
    form->pngMaxval = pm_bitstomaxval(form->depth);

    if (!alpha && transparentInForce(f, r)) {
        form->hasTransparentColor = true;
        Pixel color = r->transparent ? f->transparentColor : f->maskColor;
        form->transparentColor = pngColorAt(color, f->maxval, form->pngMaxval);
    }
    if (r->background) {
        form->hasBackground = true;
        form->backgroundColor = pngColorAt(f->backgroundColor, f->maxval, form->pngMaxval);
    }
    if (form->pngMaxval != f->maxval || (alpha && form->pngMaxval != f->maskMaxval)) {
        form->hasSignificantBits = true;
        int b = bitsAtDepth(f->maxval, form->depth);
        form->sbitValue = b;
        SignificantBits* sb = &form->significantBits;
        if (grey)
            sb->gray = b;
        else
            sb->red = sb->green = sb->blue = b;
        if (alpha) sb->alpha = bitsAtDepth(f->maskMaxval, form->depth);
    }
}

}  // namespace

bool maskInForce(const ImageFacts* facts, const FormRequest* request) {
    return request->alpha && !maskReduced(facts, request);
}

bool maskReduced(const ImageFacts* facts, const FormRequest* request) {
    return request->alpha && facts->maskIsOneColor && !request->force;
}

bool transparentInForce(const ImageFacts* facts, const FormRequest* request) {
    return request->transparent || maskReduced(facts, request);
}

bool imageIsGrey(const ImageFacts* facts, const FormRequest* request) {
    return facts->imageKind != KIND_PPM || (facts->allGrey && !request->force);
}

bool greyScanWanted(const ImageFacts* facts, const FormRequest* request) {
    return facts->imageKind == KIND_PPM && !request->force;
}

SignificantBitsScan significantBitsScan(const ImageFacts* facts, const FormRequest* request) {
    if (request->force) return SBIT_SCAN_NONE;
    // The file's family decides, not the grey scan: a grey colour file keeps
    // the colour test. A grey image with a mask keeps its bits.
    if (facts->imageKind == KIND_PPM) return SBIT_SCAN_COLOR;
    if (facts->imageKind == KIND_PGM && !request->alpha) return SBIT_SCAN_GREY;
    return SBIT_SCAN_NONE;
}

bool paletteTried(const ImageFacts* facts, const FormRequest* request) {
    return !request->force && facts->imageKind != KIND_PBM && facts->maxval <= 255;
}

bool paletteWorthBuilding(const ImageFacts* facts, const FormRequest* request) {
    return paletteTried(facts, request) && facts->palette.outcome == PALETTE_COUNTED &&
           !greyIndexTooWide(facts, request);
}

PngForm decidePngForm(const ImageFacts* facts, const FormRequest* request) {
    PngForm form;
    form.width = facts->cols;
    form.height = facts->rows;
    form.maskInForce = maskInForce(facts, request);
    form.interlace = request->interlace;
    form.paletteVerdict = paletteVerdict(facts, request);
    form.colormapped = form.paletteVerdict == PALETTE_USED;
    if (form.colormapped)
        decidePaletteForm(facts, request, &form);
    else
        decideDirectForm(facts, request, &form);
    form.pngMaxval = pm_bitstomaxval(form.depth);
    return form;
}

namespace {

void reportPaletteRefusal(PaletteVerdict verdict) {
    switch (verdict) {
    case PALETTE_REFUSED_TOO_MANY_COLORS:
        pm_message("More than %d colors found -- too many for a colormapped PNG", MAX_PALETTE_COLORS);
        break;
    case PALETTE_REFUSED_GREY_INDEX_TOO_WIDE:
        pm_message("palette index would be larger than the indexed value, so not doing colormap");
        break;
    case PALETTE_REFUSED_TOO_MANY_PAIRS:
        pm_message("too many color/transparency pairs, writing a non-mapped file");
        break;
    default: break;
    }
}

}  // namespace

void reportPngForm(const PngForm* form, bool verbose) {
    const Colormap* cm = &form->colormap;
    if (verbose) reportPaletteRefusal(form->paletteVerdict);
    if (form->colormapped) {
        if (form->transparentPlacement == TRANSPARENT_NOT_PRESENT)
            pm_message("specified transparent color not present in palette; ignoring -transparent");
        if (verbose) {
            const Pixel& t = cm->palette[0];
            if (form->transparentPlacement == TRANSPARENT_MADE)
                pm_message("Making all occurences of color (%u, %u, %u) transparent.", t.r, t.g, t.b);
            const Pixel& b = cm->palette[cm->backgroundIndex];
            if (form->backgroundPlacement == BACKGROUND_PRESENT)
                pm_message("background color (%u, %u, %u) appears in image.", b.r, b.g, b.b);
            else if (form->backgroundPlacement == BACKGROUND_ADDED)
                pm_message("added background color (%u, %u, %u) to palette.", b.r, b.g, b.b);
            else if (form->backgroundPlacement == BACKGROUND_CLOSEST)
                pm_message("no room in palette for background color; using closest match (%u, %u, %u) instead",
                           b.r, b.g, b.b);
            pm_message("PNG palette has %u entries, %u of them non-opaque", unsigned(cm->paletteSize),
                       unsigned(cm->transSize));
            pm_message("Writing %d-bit color indexes", cm->indexBits);
        }
    }
    if (!verbose) return;
    if (!form->colormapped) pm_message("Writing %d bits per component per pixel", form->depth);
    const char* kind = form->colormapped ? "palette" : (form->colorType & 2) ? "RGB" : "gray";
    const char* extra = !form->maskInForce ? "" : form->colormapped ? "+transparency" : "+alpha";
    pm_message("writing a%s %d-bit %s%s file%s", form->pixelSize == 8 ? "n" : "", form->pixelSize, kind, extra,
               form->interlace ? " (interlaced)" : "");
    if (!form->colormapped) {
        const PngColor& t = form->transparentColor;
        if (form->hasTransparentColor)
            pm_message("Transparent color {gray, red, green, blue} = {%d, %d, %d, %d}", t.gray, t.red, t.green,
                       t.blue);
        else
            pm_message("No transparent color");
    }
    if (form->hasHist) pm_message("histogram created");
    if (form->hasBackground && !form->colormapped) {
        const PngColor& b = form->backgroundColor;
        pm_message("Writing bKGD chunk with background color  {gray, red, green, blue} = {%d, %d, %d, %d}", b.gray,
                   b.red, b.green, b.blue);
    }
    if (form->hasSignificantBits) pm_message("Writing sBIT chunk with sbitval = %d", form->sbitValue);
}

}  // namespace rasterpack
