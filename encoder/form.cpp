#include "form.h"

#include <cstdio>

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

// How the rules see the image: as given (the default's view), or as
// -optimize's lossless reductions leave it.
struct ImageView {
    const ImageFacts* facts;
    FormRequest request;           // without -alpha (and -transparent) once the mask is dropped
    int significantBits;           // decides the direct form's depth
    int paletteSampleBits;         // a sample's bits for the palette rules: above 8, no palette
    const PaletteAttempt* palette;
};

ImageView defaultView(const ImageFacts* f, const FormRequest* r) {
    return ImageView{f, *r, f->significantBits, pm_maxvaltobits(f->maxval), &f->palette};
}

bool paletteTriedIn(const ImageView& v) {
    return !v.request.force && v.facts->imageKind != KIND_PBM && v.paletteSampleBits <= 8;
}

// A grey image whose palette indexes would need more than half the bits of
// its samples is smaller written as grey. The order of a -palette file
// overrides the rule.
bool greyIndexTooWide(const ImageView& v) {
    if (v.request.orderedPalette || !imageIsGrey(v.facts, &v.request)) return false;
    int count = v.palette->colorCount;
    if (count == 0) return true;
    return pm_maxvaltobits(Sample(count - 1)) > v.paletteSampleBits / 2;
}

PaletteVerdict paletteVerdict(const ImageView& v) {
    if (!paletteTriedIn(v)) return PALETTE_NOT_CONSIDERED;
    switch (v.palette->outcome) {
    case PALETTE_TOO_MANY_COLORS: return PALETTE_REFUSED_TOO_MANY_COLORS;
    case PALETTE_NOT_TRIED: return PALETTE_NOT_CONSIDERED;  // the colours were not counted
    default: break;
    }
    if (greyIndexTooWide(v)) return PALETTE_REFUSED_GREY_INDEX_TOO_WIDE;
    if (v.palette->outcome == PALETTE_TOO_MANY_PAIRS) return PALETTE_REFUSED_TOO_MANY_PAIRS;
    return v.palette->outcome == PALETTE_BUILT ? PALETTE_USED : PALETTE_NOT_CONSIDERED;
}

void decidePaletteForm(const ImageView& v, PngForm* form) {
    const ImageFacts* f = v.facts;
    const FormRequest* r = &v.request;
    Colormap* cm = &form->colormap;
    *cm = v.palette->base;
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

void decideDirectForm(const ImageView& v, PngForm* form) {
    const ImageFacts* f = v.facts;
    const FormRequest* r = &v.request;
    const bool grey = imageIsGrey(f, r);
    const bool alpha = form->maskInForce;
    const int bits = v.significantBits;
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

// The form in the view: with its palette, or direct.
PngForm formIn(const ImageView& v, bool palette) {
    PngForm form;
    form.width = v.facts->cols;
    form.height = v.facts->rows;
    form.maskInForce = maskInForce(v.facts, &v.request);
    form.interlace = v.request.interlace;
    form.paletteVerdict = paletteVerdict(v);
    form.colormapped = palette;
    if (palette)
        decidePaletteForm(v, &form);
    else
        decideDirectForm(v, &form);
    form.pngMaxval = pm_bitstomaxval(form.depth);
    return form;
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
    return paletteTriedIn(defaultView(facts, request));
}

bool paletteWorthBuilding(const ImageFacts* facts, const FormRequest* request) {
    ImageView v = defaultView(facts, request);
    return paletteTriedIn(v) && facts->palette.outcome == PALETTE_COUNTED && !greyIndexTooWide(v);
}

PngForm decidePngForm(const ImageFacts* facts, const FormRequest* request) {
    ImageView v = defaultView(facts, request);
    return formIn(v, paletteVerdict(v) == PALETTE_USED);
}

// --- -optimize's candidate forms ----------------------------------------------

namespace {

bool pixelFitsByte(Pixel p, Sample maxval) {
    return sampleFitsByte(p.r, maxval) && sampleFitsByte(p.g, maxval) && sampleFitsByte(p.b, maxval);
}

// The significant bits of the image without its mask: the grey scan the
// default skips under a mask, when -optimize made it.
int unmaskedSignificantBits(const ImageFacts* f, const FormRequest* r) {
    if (f->imageKind == KIND_PGM && r->alpha && f->maskedGreyBits > 0) return f->maskedGreyBits;
    return f->significantBits;
}

// The colours the options put in tRNS and bKGD must survive 8 bits too: a
// -transparent colour that lost bits could match pixels it did not match.
bool optionColoursFitByte(const ImageFacts* f, const FormRequest* r) {
    if (r->transparent && !pixelFitsByte(f->transparentColor, f->maxval)) return false;
    if (r->background && !pixelFitsByte(f->backgroundColor, f->maxval)) return false;
    return true;
}

// The default's palette attempt serves the reduced image unless the
// default tried none (samples above 8 bits) or the mask it was built with
// is dropped after refusing it for too many colour/alpha pairs.
bool defaultAttemptServes(const ImageFacts* f, const FormRequest* r, const FormReductions& red) {
    return paletteTried(f, r) && !(red.dropMask && f->palette.outcome == PALETTE_TOO_MANY_PAIRS);
}

ImageView reducedView(const ImageFacts* f, const FormRequest* r, const FormReductions& red) {
    ImageView v = defaultView(f, r);
    if (red.dropMask) {
        // Under a mask in force -transparent is ignored; without the mask it
        // must not come into force.
        v.request.alpha = false;
        v.request.transparent = false;
        v.significantBits = unmaskedSignificantBits(f, r);
    }
    if (red.eightBits) {
        v.significantBits = unmaskedSignificantBits(f, r);
        v.paletteSampleBits = 8;
    }
    v.palette = defaultAttemptServes(f, r, red) ? &f->palette : &f->reducedPalette;
    return v;
}

// Forms that hold the same image the same way (palettes in whatever order:
// -optimize tries orders of its own).
bool sameForm(const PngForm& a, const PngForm& b) {
    if (a.colorType != b.colorType || a.depth != b.depth) return false;
    if (a.colormapped)
        return a.colormap.paletteSize == b.colormap.paletteSize && a.colormap.transSize == b.colormap.transSize;
    return a.maskInForce == b.maskInForce && a.hasTransparentColor == b.hasTransparentColor &&
           a.hasSignificantBits == b.hasSignificantBits;
}

void addCandidate(FormCandidates* c, const PngForm& form) {
    for (int i = 0; i < c->count; ++i)
        if (sameForm(c->forms[i], form)) return;
    if (c->count < MAX_FORM_CANDIDATES) c->forms[c->count++] = form;
}

int sbitChannels(int colorType) {
    static const int CHANNELS[7] = {1, 0, 3, 3, 2, 0, 4};
    return colorType >= 0 && colorType <= 6 ? CHANNELS[colorType] : 0;
}

}  // namespace

bool sampleFitsByte(Sample v, Sample maxval) {
    Sample byte = pm_rescalesample(v, maxval, 255);
    return pm_rescalesample(v, maxval, 65535) == byte * 257 && pm_rescalesample(byte, 255, maxval) == v;
}

FormReductions formReductions(const ImageFacts* facts, const FormRequest* request) {
    FormReductions red;
    if (!request->optimize || request->force) return red;
    red.dropMask = maskInForce(facts, request) && facts->maskOpaque;
    const bool maskStays = maskInForce(facts, request) && !red.dropMask;
    red.eightBits = facts->maxval > 255 && facts->maxval <= 65535 && unmaskedSignificantBits(facts, request) <= 8 &&
                    (!maskStays || facts->maskFitsByte) && optionColoursFitByte(facts, request);
    return red;
}

bool maskedGreyScanWanted(const ImageFacts* facts, const FormRequest* request) {
    return request->optimize && !request->force && request->alpha && facts->imageKind == KIND_PGM &&
           (facts->maskOpaque || facts->maxval > 255);
}

bool reducedPaletteWanted(const ImageFacts* facts, const FormRequest* request) {
    FormReductions red = formReductions(facts, request);
    if (!red.any() || request->orderedPalette || defaultAttemptServes(facts, request, red)) return false;
    return paletteTriedIn(reducedView(facts, request, red)) && facts->reducedPalette.outcome == PALETTE_NOT_TRIED;
}

bool reducedMaskInForce(const ImageFacts* facts, const FormRequest* request) {
    return maskInForce(facts, request) && !formReductions(facts, request).dropMask;
}

bool reducedPaletteWorthBuilding(const ImageFacts* facts, const FormRequest* request) {
    FormReductions red = formReductions(facts, request);
    if (!red.any() || facts->reducedPalette.outcome != PALETTE_COUNTED) return false;
    ImageView v = reducedView(facts, request, red);
    return v.palette == &facts->reducedPalette && !greyIndexTooWide(v);
}

FormCandidates formCandidates(const ImageFacts* facts, const FormRequest* request) {
    FormCandidates c;
    c.forms[0] = decidePngForm(facts, request);
    c.count = 1;
    if (!request->optimize || request->force) return c;
    c.reductions = formReductions(facts, request);
    ImageView v = c.reductions.any() ? reducedView(facts, request, c.reductions) : defaultView(facts, request);
    if (paletteVerdict(v) == PALETTE_USED) addCandidate(&c, formIn(v, true));
    addCandidate(&c, formIn(v, false));
    return c;
}

bool paletteOrderFree(const FormRequest* request) { return !request->orderedPalette; }

void applyPaletteOrder(PngForm* form, const uint8_t* order, int entries) {
    Colormap* cm = &form->colormap;
    if (!form->colormapped || entries != cm->paletteSize) return;
    const PngForm old = *form;
    const Colormap* was = &old.colormap;
    for (int i = 0; i < entries; ++i) {
        int from = order[i];
        cm->palette[i] = was->palette[from];
        cm->paletteAlpha[i] = was->paletteAlpha[from];
        for (int c = 0; c < 3; ++c) form->plte[i][c] = old.plte[from][c];
        form->trns[i] = old.trns[from];
        form->hist[i] = old.hist[from];
        if (from == was->backgroundIndex) cm->backgroundIndex = i;
    }
    form->backgroundIndex = cm->backgroundIndex;
}

uint64_t formChunkBytes(const PngForm* form) {
    const uint64_t CHUNK = 12;  // length, type and checksum
    uint64_t bytes = 0;
    const bool colour = (form->colorType & 2) != 0;
    if (form->colormapped) {
        const Colormap* cm = &form->colormap;
        bytes += CHUNK + 3 * uint64_t(cm->paletteSize);
        if (cm->transSize > 0) bytes += CHUNK + uint64_t(cm->transSize);
        if (form->hasHist) bytes += CHUNK + 2 * uint64_t(cm->paletteSize);
        if (form->hasBackground) bytes += CHUNK + 1;
    } else {
        if (form->hasTransparentColor) bytes += CHUNK + (colour ? 6 : 2);
        if (form->hasBackground) bytes += CHUNK + (colour ? 6 : 2);
    }
    if (form->hasSignificantBits) bytes += CHUNK + uint64_t(sbitChannels(form->colorType));
    return bytes;
}

void describeForm(const PngForm* form, char* text, size_t size) {
    const char* kind = form->colormapped ? "palette" : (form->colorType & 2) ? "RGB" : "gray";
    const char* extra = !form->maskInForce ? "" : form->colormapped ? "+transparency" : "+alpha";
    if (form->colormapped)
        snprintf(text, size, "%d-bit %s%s (%d entries)", form->depth, kind, extra, form->colormap.paletteSize);
    else
        snprintf(text, size, "%d-bit %s%s", form->depth, kind, extra);
}

void reportFormCandidates(const FormCandidates* c, bool verbose) {
    if (!verbose) return;
    if (c->reductions.dropMask) pm_message("-optimize: the alpha mask is opaque everywhere: trying without it");
    if (c->reductions.eightBits) pm_message("-optimize: every sample is a repeated byte: trying 8 bits a sample");
    for (int i = 1; i < c->count; ++i) {
        char text[80];
        describeForm(&c->forms[i], text, sizeof text);
        pm_message("-optimize: also trying the %s form", text);
    }
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
