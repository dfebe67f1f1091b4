#include "driver.h"

#include "analyses.h"
#include "commentfile.h"
#include "form.h"
#include "modtime.h"
#include "palette.h"
#include "pngwriter.h"
#include "raster.h"
#include "rows.h"

#include <orrim.h>

#include <cstdarg>
#include <cstdlib>

namespace {

// Everything one conversion holds, at file scope so that the failure path
// can release it from anywhere.
struct Conversion {
    const EncoderSettings* settings = nullptr;
    FILE* alphaStream = nullptr;
    FILE* paletteStream = nullptr;
    FILE* commentStream = nullptr;

    RasterSource raster;
    AlphaMask mask;  // rows stay null without -alpha
    HistogramCache histogram;
    ImageFacts facts;
    PngForm form;
    PngChunkOptions chunks;
    CommentList comments;

    PaletteLookup paletteLookup;
    RowEncoding encoding;
    Xel* xelRow = nullptr;
    uint8_t* pngRow = nullptr;
    uint16_t* sampleTable = nullptr;
    uint16_t* alphaTable = nullptr;
};

Conversion conversion;

void freeAlphaMask(AlphaMask* m) {
    if (m->rows) {
        for (int y = 0; y < m->rowCount; ++y) free(m->rows[y]);
        free(m->rows);
    }
    m->rows = nullptr;
    m->rowCount = 0;
}

// Releases everything the conversion holds but libpng's structures.
void releaseConversion(Conversion* c) {
    if (c->xelRow) pm_freerow(c->xelRow);
    c->xelRow = nullptr;
    free(c->pngRow);
    c->pngRow = nullptr;
    free(c->sampleTable);
    c->sampleTable = nullptr;
    free(c->alphaTable);
    c->alphaTable = nullptr;
    freeAlphaMask(&c->mask);
    releaseHistogram(&c->histogram);
    freeIndexLookup(&c->paletteLookup);
    freeCommentList(&c->comments);
}

// Ends the run: releases the conversion and libpng's structures, closes the
// input and reports.
[[noreturn]] void endConversion(void* context, const char* message) {
    auto* c = static_cast<Conversion*>(context);
    releasePngWriter();
    releaseConversion(c);
    if (c->raster.input) pm_closer(c->raster.input);
    c->raster.input = nullptr;
    pm_error("%s", message);
}

[[noreturn]] __attribute__((format(printf, 2, 3))) void abandonConversion(Conversion* c, const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    endConversion(c, message);
}

bool verbose(const Conversion* c) { return c->settings->verbose; }

// --- reading the facts ---------------------------------------------------------

void readImageHeader(Conversion* c) {
    RasterSource* r = &c->raster;
    pnm_readpnminit(r->input, &r->cols, &r->rows, &r->maxval, &r->format);
    // Nothing may reach standard output for an input shorter than its header
    // promises: refuse it now rather than after the signature and IHDR.
    if (!pnm_rasterpresent(r->input, r->cols, r->rows, r->maxval, r->format))
        abandonConversion(c, "premature end of file in the raster (the header promises %d x %d pixels)", r->cols,
                          r->rows);
    pm_tell2(r->input, &r->rasterPosition, sizeof r->rasterPosition);
    // Nor for one the row reader refuses part way (a stray character, a
    // sample above maxval): the analyses may stop before they reach it.
    if (rasterReadCanFail(r)) readEveryRow(r);
    ImageFacts* f = &c->facts;
    f->cols = r->cols;
    f->rows = r->rows;
    f->maxval = r->maxval;
    f->format = r->format;
    f->imageKind = pnm_formattype(r->format);
    c->xelRow = pnm_allocrow(r->cols);
    // pnm_readpnminit accepts only the three families.
    if (verbose(c)) {
        const char* kind = f->imageKind == KIND_PBM ? "PBM" : f->imageKind == KIND_PGM ? "PGM" : "PPM";
        pm_message("reading a %s file (maxval=%u)", kind, static_cast<unsigned>(r->maxval));
    }
}

// A colour text parsed at 16 bits (8 for a bit image), in image units.
Pixel parseImageColor(const Conversion* c, const char* text) {
    int kind = c->facts.imageKind;
    Sample scale = (kind == KIND_PGM || kind == KIND_PPM) ? 65535 : 255;
    Pixel p = ppm_parsecolor(text, scale);
    Sample maxval = c->raster.maxval;
    return Pixel{pm_rescalesample(p.r, scale, maxval), pm_rescalesample(p.g, scale, maxval),
                 pm_rescalesample(p.b, scale, maxval)};
}

void parseTransparentColor(Conversion* c) {
    if (c->settings->transparent != 1) return;
    const char* text = c->settings->transparentColor;
    if (text[0] == '=') {
        c->facts.exactTransparent = true;
        ++text;
    }
    c->facts.transparentColor = parseImageColor(c, text);
}

// The mask's header is checked against the image before any row is read;
// rows are then allocated as they arrive, so a short mask costs only what
// it holds.
void readMaskRows(Conversion* c) {
    AlphaMask* m = &c->mask;
    int cols = 0, rows = 0, format = 0;
    Sample maxval = 0;
    pnm_readpnminit(c->alphaStream, &cols, &rows, &maxval, &format);
    if (pnm_formattype(format) == PPM_FORMAT) pm_error("the input is a PPM image; a PBM or PGM image is needed");
    if (cols != c->raster.cols || rows != c->raster.rows)
        abandonConversion(c, "dimensions for image and alpha mask do not agree");
    m->cols = cols;
    m->maxval = maxval;
    int room = 0;
    for (int y = 0; y < rows; ++y) {
        if (y == room) {
            room = room == 0 ? (rows < 1024 ? rows : 1024) : (rows - room < room ? rows : room * 2);
            auto* grown = static_cast<Sample**>(realloc(m->rows, size_t(room) * sizeof(Sample*)));
            if (!grown) abandonConversion(c, "out of memory reading the alpha mask");
            m->rows = grown;
        }
        m->rows[y] = static_cast<Sample*>(malloc(size_t(cols > 0 ? cols : 1) * sizeof(Sample)));
        if (!m->rows[y]) abandonConversion(c, "out of memory reading the alpha mask");
        m->rowCount = y + 1;
        pnm_readpnmrow(c->alphaStream, c->xelRow, cols, maxval, format);
        for (int x = 0; x < cols; ++x) m->rows[y][x] = c->xelRow[x].b;
    }
}

void readAlphaMask(Conversion* c) {
    const EncoderSettings* s = c->settings;
    if (!s->alpha) return;
    if (verbose(c)) pm_message("reading alpha-channel image...");
    readMaskRows(c);
    c->facts.maskMaxval = c->mask.maxval;
    MaskColorResult result = findMaskTransparentColor(&c->raster, &c->mask);
    c->facts.maskIsOneColor = result.maskIsOneColor;
    c->facts.maskColor = result.maskColor;
    if (result.maskIsOneColor && !s->force && verbose(c)) pm_message("converting alpha mask to transparency index");
}

void parseBackgroundColor(Conversion* c) {
    if (c->settings->background == 1) c->facts.backgroundColor = parseImageColor(c, c->settings->backgroundColor);
}

void scanForColor(Conversion* c) {
    if (c->facts.imageKind == KIND_PPM && !c->settings->force && allPixelsGrey(&c->raster))
        c->facts.imageKind = KIND_PGM;
}

void checkMaxval(Conversion* c) {
    if (c->raster.maxval > PPM_OVERALLMAXVAL && !c->settings->downscale)
        abandonConversion(c, "can only handle files up to 16-bit (use -downscale to override");
}

void findSignificantBits(Conversion* c) {
    const EncoderSettings* s = c->settings;
    int family = pnm_formattype(c->raster.format);
    int fromMaxval = pm_maxvaltobits(c->raster.maxval);
    int bits = fromMaxval;
    if (family == PPM_FORMAT && !s->force)
        bits = findColorSigBits(&c->raster);
    else if (family == PGM_FORMAT && !s->alpha && !s->force)
        bits = findGraySigBits(&c->raster);
    c->facts.significantBits = bits;
    if (verbose(c) && bits != fromMaxval)
        pm_message("Using only %d rightmost bits of input samples.  The rest are just copies of those.", bits);
}

void tryColormap(Conversion* c) {
    if (!paletteTried(&c->facts, c->settings)) return;
    PaletteRequest request;
    request.raster = &c->raster;
    request.imageKind = c->facts.imageKind;
    request.mask = maskInForce(&c->facts, c->settings) ? &c->mask : nullptr;
    request.paletteFile = c->paletteStream;
    request.verbose = verbose(c);
    attemptColormap(&request, &c->histogram, &c->facts.palette);
    c->facts.histogram = &c->histogram;
}

// --- chunk options -------------------------------------------------------------

void setOptionChunks(Conversion* c) {
    const EncoderSettings* s = c->settings;
    PngChunkOptions* o = &c->chunks;
    if (s->gamma != -1.0f) {
        o->hasGamma = true;
        o->gamma = s->gamma;
    }
    if (s->chroma[0] != -1.0f) {
        o->hasChroma = true;
        for (int i = 0; i < 8; ++i) o->chroma[i] = s->chroma[i];
    }
    if (s->phys[2] != -1) {
        // PNG sizes stop at 2^31 - 1; a negative count would wrap to a huge one.
        if (s->phys[0] < 0 || s->phys[1] < 0)
            abandonConversion(c, "-phys: pixels per unit must not be negative (%d, %d)", s->phys[0], s->phys[1]);
        o->hasPhys = true;
        o->physX = uint32_t(s->phys[0]);
        o->physY = uint32_t(s->phys[1]);
        o->physUnit = s->phys[2] & 0xff;
    }
    if (s->text || s->ztxt) {
        readCommentFile(c->commentStream, s->ztxt, s->verbose, &c->comments);
        o->comments = &c->comments;
    }
    if (s->time) {
        switch (parseModificationTime(s->timeDate, s->timeOfDay, &o->time)) {
        case TIME_UNPARSABLE:
            abandonConversion(c, "-time '%s' '%s' is not a date and time of the form [yy]yy-mm-dd hh:mm:ss",
                              pm_escapetext(s->timeDate).c_str(), pm_escapetext(s->timeOfDay).c_str());
        case TIME_OUT_OF_RANGE:
            abandonConversion(c, "-time '%s' '%s' is out of range for a PNG modification time",
                              pm_escapetext(s->timeDate).c_str(), pm_escapetext(s->timeOfDay).c_str());
        case TIME_OK: break;
        }
        o->hasTime = true;
    }
    o->filter = s->filter;
    o->compression = s->compression;
    o->threads = s->threads;
    o->optimize = s->optimize;
    o->exhaustive = s->exhaustive;
    o->verbose = s->verbose;
}

// --- rows ----------------------------------------------------------------------

void startPass(void* context) { rewindRaster(&static_cast<Conversion*>(context)->raster); }

const uint8_t* produceRow(void* context, int y, bool encode) {
    auto* c = static_cast<Conversion*>(context);
    const RasterSource* r = &c->raster;
    pnm_readpnmrow(r->input, c->xelRow, r->cols, r->maxval, r->format);
    if (encode) encodePngRow(&c->encoding, c->xelRow, r->cols, y, c->pngRow);
    return c->pngRow;
}

void prepareRows(Conversion* c) {
    const PngForm* form = &c->form;
    bool failed = false;
    c->pngRow = static_cast<uint8_t*>(malloc(pngRowBufferSize(c->raster.cols)));
    if (!c->pngRow) abandonConversion(c, "out of memory allocating PNG row buffer");
    RowEncoding* e = &c->encoding;
    e->colorType = form->colorType;
    e->depth = form->depth;
    e->maxval = c->raster.maxval;
    e->pngMaxval = form->pngMaxval;
    e->mask = form->maskInForce ? &c->mask : nullptr;
    if (form->colormapped) {
        buildIndexLookup(&form->colormap, form->maskInForce, &c->paletteLookup);
        e->palette = &c->paletteLookup;
        return;
    }
    c->sampleTable = makeSampleTable(c->raster.maxval, form->pngMaxval, &failed);
    if (failed) abandonConversion(c, "out of memory allocating the sample rescaling table");
    if (form->maskInForce) {
        c->alphaTable = makeSampleTable(c->mask.maxval, form->pngMaxval, &failed);
        if (failed) abandonConversion(c, "out of memory allocating the alpha rescaling table");
    }
    e->sampleTable = c->sampleTable;
    e->alphaTable = c->alphaTable;
}

// Everything before the first byte of output: the passes, the decision, the
// chunk values and the row set-up.
void prepareConversion(PngWriteJob* job) {
    auto* c = static_cast<Conversion*>(job->context);
    readImageHeader(c);
    parseTransparentColor(c);
    readAlphaMask(c);
    parseBackgroundColor(c);
    scanForColor(c);
    checkMaxval(c);
    findSignificantBits(c);
    tryColormap(c);
    c->form = decidePngForm(&c->facts, c->settings);
    reportPngForm(&c->form, &c->facts, verbose(c));
    releaseHistogram(&c->histogram);
    c->facts.histogram = nullptr;
    setOptionChunks(c);
    prepareRows(c);
    job->form = &c->form;
    job->chunks = &c->chunks;
    job->rows.context = c;
    job->rows.startPass = startPass;
    job->rows.produceRow = produceRow;
}

}  // namespace

int convertPnm(const EncoderSettings* settings, FILE* input, FILE* alphaStream, FILE* paletteStream,
               FILE* commentStream) {
    Conversion* c = &conversion;
    *c = Conversion();
    c->settings = settings;
    c->raster.input = input;
    c->alphaStream = alphaStream;
    c->paletteStream = paletteStream;
    c->commentStream = commentStream;

    PngWriteJob job;
    job.context = c;
    job.prepare = prepareConversion;
    job.abandon = endConversion;
    runPngConversion(&job);

    releaseConversion(c);
    return 0;
}

void releasePnmConversion() {
    Conversion* c = &conversion;
    releasePngWriter();
    releaseConversion(c);
    if (c->raster.input) pm_closer(c->raster.input);
    c->raster.input = nullptr;
}
