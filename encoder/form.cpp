#include "form.h"

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

void decidePaletteForm(const ImageFacts* f, const EncoderSettings* s, PngForm* form) {
    Colormap* cm = &form->colormap;
    *cm = f->palette.base;
    if (!form->maskInForce && transparentInForce(f, s)) {
        bool fromMask = s->transparent != 1;
        Pixel color = fromMask ? f->maskColor : f->transparentColor;
        form->transparentPlacement = makePaletteColorTransparent(cm, color, fromMask ? false : f->exactTransparent);
    }
    if (s->background == 1) {
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
    if (s->hist && f->histogram) {
        form->hasHist = true;
        histogramCounts(f->histogram, cm, form->hist);
    }
}

void decideDirectForm(const ImageFacts* f, const EncoderSettings* s, PngForm* form) {
    const bool grey = f->imageKind != KIND_PPM;
    const bool alpha = form->maskInForce;
    const int bits = f->significantBits;
    if (grey && !alpha)
        form->depth = bits <= 1 ? 1 : bits == 2 ? 2 : bits <= 4 ? 4 : bits <= 8 ? 8 : 16;
    else
        form->depth = bits <= 8 ? 8 : 16;
    form->pixelSize = ((grey ? 1 : 3) + (alpha ? 1 : 0)) * form->depth;
    form->colorType = (grey ? 0 : 2) | (alpha ? 4 : 0);
    form->pngMaxval = pm_bitstomaxval(form->depth);

    if (!alpha && transparentInForce(f, s)) {
        form->hasTransparentColor = true;
        Pixel color = s->transparent == 1 ? f->transparentColor : f->maskColor;
        form->transparentColor = pngColorAt(color, f->maxval, form->pngMaxval);
    }
    if (s->background == 1) {
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

bool maskInForce(const ImageFacts* facts, const EncoderSettings* settings) {
    return settings->alpha && !(facts->maskIsOneColor && !settings->force);
}

bool transparentInForce(const ImageFacts* facts, const EncoderSettings* settings) {
    if (settings->transparent == 1) return true;
    return settings->alpha && facts->maskIsOneColor && !settings->force;
}

bool paletteTried(const ImageFacts* facts, const EncoderSettings* settings) {
    return !settings->force && facts->imageKind != KIND_PBM && facts->maxval <= 255;
}

PngForm decidePngForm(const ImageFacts* facts, const EncoderSettings* settings) {
    PngForm form;
    form.width = facts->cols;
    form.height = facts->rows;
    form.maskInForce = maskInForce(facts, settings);
    form.interlace = settings->interlace;
    form.colormapped = paletteTried(facts, settings) && facts->palette.outcome == PALETTE_BUILT;
    if (form.colormapped)
        decidePaletteForm(facts, settings, &form);
    else
        decideDirectForm(facts, settings, &form);
    form.pngMaxval = pm_bitstomaxval(form.depth);
    return form;
}

void reportPngForm(const PngForm* form, const ImageFacts* facts, bool verbose) {
    const Colormap* cm = &form->colormap;
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
    const char* kind = form->colormapped ? "palette" : facts->imageKind == KIND_PPM ? "RGB" : "gray";
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
