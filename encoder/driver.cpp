#include "driver.h"

#include "analyses.h"
#include "commentfile.h"
#include "form.h"
#include "formtrials.h"
#include "modtime.h"
#include "palettebuild.h"
#include "paletteindex.h"
#include "pngwriter.h"
#include "raster.h"
#include "rows.h"

#include <orrim.h>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace rasterpack {

namespace {

// A block from malloc, given back however the run ends.
struct FreeMemory {
    void operator()(void* p) const { free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeMemory>;

// The alpha mask, read whole: its rows are given back however the run ends
// (pm_error may unwind through a caller's fatal hook instead of exiting).
struct MaskHolder {
    AlphaMask mask;  // rows stay null without -alpha

    MaskHolder() = default;
    MaskHolder(const MaskHolder&) = delete;
    MaskHolder& operator=(const MaskHolder&) = delete;
    ~MaskHolder() {
        for (int y = 0; y < mask.rowCount; ++y) free(mask.rows[y]);
        free(mask.rows);
    }
};

// What every step of one conversion reads.
struct RunContext {
    const EncoderSettings* settings;
    FormRequest request;
    const ConversionStreams* streams;
    bool verbose;
};

// A PAM with alpha is the image and its mask in one: the form is decided as
// for -alpha with a mask of its alpha samples.
FormRequest formRequest(const EncoderSettings* s, const RasterSource* raster) {
    FormRequest r;
    r.alpha = s->alpha || pnm_formathasalpha(raster->format);
    r.force = s->force;
    r.transparent = s->transparent == 1;
    r.background = s->background == 1;
    r.hist = s->hist;
    r.interlace = s->interlace;
    r.orderedPalette = s->paletteFile != nullptr;
    r.optimize = s->optimize;
    return r;
}

// --- reading the facts ---------------------------------------------------------

RasterSource readImageHeader(FILE* input) {
    RasterSource r;
    r.input = input;
    pnm_readpaminit(r.input, &r.cols, &r.rows, &r.maxval, &r.format);
    // Nothing may reach the output for an input shorter than its header
    // promises: refuse it now rather than after the signature and IHDR.
    if (!pnm_rasterpresent(r.input, r.cols, r.rows, r.maxval, r.format))
        pm_error("premature end of file in the raster (the header promises %d x %d pixels)", r.cols, r.rows);
    pm_tell2(r.input, &r.rasterPosition, sizeof r.rasterPosition);
    // Nor for one the row reader refuses part way (a stray character, a
    // sample above maxval): the analyses may stop before they reach it.
    if (rasterReadCanFail(&r)) readEveryRow(&r);
    return r;
}

ImageFacts headerFacts(const RasterSource* r) {
    ImageFacts f;
    f.cols = r->cols;
    f.rows = r->rows;
    f.maxval = r->maxval;
    f.format = r->format;
    f.imageKind = pnm_formattype(r->format);
    return f;
}

// The options that would take the alpha from elsewhere, refused for a PAM
// that brings its own.
void refuseSecondAlpha(const EncoderSettings* s, const RasterSource* r) {
    if (!pnm_formathasalpha(r->format)) return;
    if (s->alpha)
        pm_error("-alpha cannot be used with a PAM image that has alpha (tuple type %s)", pnm_tupletype(r->format));
    if (s->transparent > 0)
        pm_error("-transparent cannot be used with a PAM image that has alpha (tuple type %s)",
                 pnm_tupletype(r->format));
}

void reportImageKind(const ImageFacts* f, bool verbose) {
    if (!verbose) return;
    // The three families only: a PAM is named by the family of its colour.
    const char* kind = f->imageKind == KIND_PBM ? "PBM" : f->imageKind == KIND_PGM ? "PGM" : "PPM";
    pm_message("reading a %s file (maxval=%u)", kind, static_cast<unsigned>(f->maxval));
}

// A colour text parsed at 16 bits (8 for a bit image), in image units.
Pixel parseImageColor(const ImageFacts* f, const char* text) {
    Sample scale = (f->imageKind == KIND_PGM || f->imageKind == KIND_PPM) ? 65535 : 255;
    Pixel p = ppm_parsecolor(text, scale);
    return Pixel{pm_rescalesample(p.r, scale, f->maxval), pm_rescalesample(p.g, scale, f->maxval),
                 pm_rescalesample(p.b, scale, f->maxval)};
}

void parseTransparentColor(const RunContext* run, ImageFacts* f) {
    if (!run->request.transparent) return;
    const char* text = run->settings->transparentColor;
    if (text[0] == '=') {
        f->exactTransparent = true;
        ++text;
    }
    f->transparentColor = parseImageColor(f, text);
}

// Row y of a mask of rows rows, allocated as it arrives: the row table
// grows by doubling (from at most 1024), so a short mask costs only what it
// holds.
Sample* addMaskRow(AlphaMask* m, int y, int rows, int* room) {
    if (y == *room) {
        *room = *room == 0 ? (rows < 1024 ? rows : 1024) : (rows - *room < *room ? rows : *room * 2);
        auto* grown = static_cast<Sample**>(realloc(m->rows, size_t(*room) * sizeof(Sample*)));
        if (!grown) pm_error("out of memory reading the alpha mask");
        m->rows = grown;
    }
    m->rows[y] = static_cast<Sample*>(malloc(size_t(m->cols > 0 ? m->cols : 1) * sizeof(Sample)));
    if (!m->rows[y]) pm_error("out of memory reading the alpha mask");
    m->rowCount = y + 1;
    return m->rows[y];
}

// The mask's header is checked against the image before any row is read.
void readMaskRows(FILE* stream, const RasterSource* raster, Xel* row, AlphaMask* m) {
    int cols = 0, rows = 0, format = 0;
    Sample maxval = 0;
    pnm_readpnminit(stream, &cols, &rows, &maxval, &format);
    if (pnm_formattype(format) == PPM_FORMAT) pm_error("the input is a PPM image; a PBM or PGM image is needed");
    if (cols != raster->cols || rows != raster->rows) pm_error("dimensions for image and alpha mask do not agree");
    m->cols = cols;
    m->maxval = maxval;
    int room = 0;
    for (int y = 0; y < rows; ++y) {
        Sample* maskRow = addMaskRow(m, y, rows, &room);
        pnm_readpnmrow(stream, row, cols, maxval, format);
        for (int x = 0; x < cols; ++x) maskRow[x] = row[x].b;
    }
}

// A PAM with alpha carries its mask: the alpha samples, on the image's own
// maxval, exactly as a separate mask of them would be read.
void readAlphaSamples(const RasterSource* raster, Xel* row, AlphaMask* m) {
    m->cols = raster->cols;
    m->maxval = raster->maxval;
    rewindRaster(raster);
    int room = 0;
    for (int y = 0; y < raster->rows; ++y) {
        Sample* maskRow = addMaskRow(m, y, raster->rows, &room);
        pnm_readpamrow(raster->input, row, maskRow, raster->cols, raster->maxval, raster->format);
    }
}

void readAlphaMask(const RunContext* run, const RasterSource* raster, Xel* row, AlphaMask* mask, ImageFacts* f) {
    if (!run->request.alpha) return;
    if (pnm_formathasalpha(raster->format)) {
        if (run->verbose) pm_message("reading the alpha channel of the PAM image...");
        readAlphaSamples(raster, row, mask);
    } else {
        if (run->verbose) pm_message("reading alpha-channel image...");
        readMaskRows(run->streams->alpha, raster, row, mask);
    }
    f->maskMaxval = mask->maxval;
    MaskColorResult result = findMaskTransparentColor(raster, mask);
    f->maskIsOneColor = result.maskIsOneColor;
    f->maskColor = result.maskColor;
    if (maskReduced(f, &run->request) && run->verbose) pm_message("converting alpha mask to transparency index");
}

// What -optimize's reductions ask of the mask: opaque everywhere, and
// whether 8 bits hold it.
void observeMask(const RunContext* run, const AlphaMask* mask, ImageFacts* f) {
    if (!run->request.optimize || !maskInForce(f, &run->request)) return;
    bool opaque = true, fitsByte = true;
    for (int y = 0; y < mask->rowCount; ++y)
        for (int x = 0; x < mask->cols; ++x) {
            Sample m = mask->rows[y][x];
            opaque = opaque && m == mask->maxval;
            fitsByte = fitsByte && sampleFitsByte(m, mask->maxval);
        }
    f->maskOpaque = opaque;
    f->maskFitsByte = fitsByte;
}

void parseBackgroundColor(const RunContext* run, ImageFacts* f) {
    if (run->request.background) f->backgroundColor = parseImageColor(f, run->settings->backgroundColor);
}

void scanForColor(const RunContext* run, const RasterSource* raster, ImageFacts* f) {
    if (greyScanWanted(f, &run->request)) f->allGrey = allPixelsGrey(raster);
}

void checkMaxval(const RunContext* run, const RasterSource* raster) {
    if (raster->maxval > PPM_OVERALLMAXVAL && !run->settings->downscale)
        pm_error("can only handle files up to 16-bit (use -downscale to override");
}

void findSignificantBits(const RunContext* run, const RasterSource* raster, ImageFacts* f) {
    int fromMaxval = pm_maxvaltobits(raster->maxval);
    int bits = fromMaxval;
    switch (significantBitsScan(f, &run->request)) {
    case SBIT_SCAN_COLOR: bits = findColorSigBits(raster); break;
    case SBIT_SCAN_GREY: bits = findGraySigBits(raster); break;
    case SBIT_SCAN_NONE: break;
    }
    f->significantBits = bits;
    if (run->verbose && bits != fromMaxval)
        pm_message("Using only %d rightmost bits of input samples.  The rest are just copies of those.", bits);
    if (maskedGreyScanWanted(f, &run->request)) f->maskedGreyBits = findGraySigBits(raster);
}

void tryColormap(const RunContext* run, const RasterSource* raster, const AlphaMask* mask,
                 HistogramCache* histogram, ImageFacts* f) {
    if (!paletteTried(f, &run->request)) return;
    PaletteRequest request;
    request.raster = raster;
    request.mask = maskInForce(f, &run->request) ? mask : nullptr;
    request.paletteFile = run->streams->palette;
    request.verbose = run->verbose;
    countPaletteColors(&request, histogram, &f->palette);
    if (paletteWorthBuilding(f, &run->request)) buildPalette(&request, histogram, &f->palette);
}

// -optimize's palette of the reduced image, where the default's attempt
// does not serve it.
void tryReducedColormap(const RunContext* run, const RasterSource* raster, const AlphaMask* mask,
                        HistogramCache* histogram, ImageFacts* f) {
    if (!reducedPaletteWanted(f, &run->request)) return;
    PaletteRequest request;
    request.raster = raster;
    request.mask = reducedMaskInForce(f, &run->request) ? mask : nullptr;
    request.verbose = run->verbose;
    request.announceCount = false;
    countPaletteColors(&request, histogram, &f->reducedPalette);
    if (reducedPaletteWorthBuilding(f, &run->request)) buildPalette(&request, histogram, &f->reducedPalette);
}

// The passes over the input in their order, the decision and its report:
// the default's form first, then -optimize's others. The histogram lives
// only until the decision has taken the hIST counts.
FormCandidates decideForms(const RunContext* run, const RasterSource* raster, Xel* row, AlphaMask* mask,
                           ImageFacts* f) {
    parseTransparentColor(run, f);
    readAlphaMask(run, raster, row, mask, f);
    observeMask(run, mask, f);
    parseBackgroundColor(run, f);
    scanForColor(run, raster, f);
    checkMaxval(run, raster);
    findSignificantBits(run, raster, f);
    HistogramCache histogram;
    tryColormap(run, raster, mask, &histogram, f);
    tryReducedColormap(run, raster, mask, &histogram, f);
    f->histogram = &histogram;
    FormCandidates candidates = formCandidates(f, &run->request);
    f->histogram = nullptr;
    reportPngForm(&candidates.forms[0], run->verbose);
    reportFormCandidates(&candidates, run->verbose);
    return candidates;
}

// --- chunk options -------------------------------------------------------------

void setPhysChunk(const EncoderSettings* s, PngChunkOptions* o) {
    if (s->phys[2] == -1) return;
    // PNG sizes stop at 2^31 - 1; a negative count would wrap to a huge one.
    if (s->phys[0] < 0 || s->phys[1] < 0)
        pm_error("-phys: pixels per unit must not be negative (%d, %d)", s->phys[0], s->phys[1]);
    o->hasPhys = true;
    o->physX = uint32_t(s->phys[0]);
    o->physY = uint32_t(s->phys[1]);
    o->physUnit = s->phys[2] & 0xff;
}

void setTimeChunk(const EncoderSettings* s, PngChunkOptions* o) {
    if (!s->time) return;
    switch (parseModificationTime(s->timeDate, s->timeOfDay, &o->time)) {
    case TIME_UNPARSABLE:
        pm_error("-time '%s' '%s' is not a date and time of the form [yy]yy-mm-dd hh:mm:ss",
                 pm_escapetext(s->timeDate).c_str(), pm_escapetext(s->timeOfDay).c_str());
    case TIME_OUT_OF_RANGE:
        pm_error("-time '%s' '%s' is out of range for a PNG modification time", pm_escapetext(s->timeDate).c_str(),
                 pm_escapetext(s->timeOfDay).c_str());
    case TIME_OK: break;
    }
    o->hasTime = true;
}

// The chunks the options ask for; the text entries are read into comments,
// which must outlive the write.
PngChunkOptions chunkOptions(const RunContext* run, CommentList* comments) {
    const EncoderSettings* s = run->settings;
    PngChunkOptions o;
    if (s->gamma != -1.0f) {
        o.hasGamma = true;
        o.gamma = s->gamma;
    }
    if (s->chroma[0] != -1.0f) {
        o.hasChroma = true;
        for (int i = 0; i < 8; ++i) o.chroma[i] = s->chroma[i];
    }
    setPhysChunk(s, &o);
    if (s->text || s->ztxt) {
        readCommentFile(run->streams->comments, s->ztxt, s->verbose, comments);
        o.comments = comments;
    }
    setTimeChunk(s, &o);
    o.filter = s->filter;
    o.compression = s->compression;
    o.threads = s->threads;
    return o;
}

// --- rows ----------------------------------------------------------------------

// Everything that turns input rows into PNG rows, given back however the
// run ends.
struct RowSource {
    const RasterSource* raster = nullptr;
    Xel* xelRow = nullptr;  // the conversion's
    Owned<uint8_t> pngRow;
    Owned<uint16_t> sampleTable, alphaTable;
    PaletteLookup paletteLookup;
    RowEncoding encoding;
};

void startPass(void* context) { rewindRaster(static_cast<RowSource*>(context)->raster); }

const uint8_t* produceRow(void* context, int y, bool encode) {
    auto* s = static_cast<RowSource*>(context);
    const RasterSource* r = s->raster;
    pnm_readpnmrow(r->input, s->xelRow, r->cols, r->maxval, r->format);
    if (encode) encodePngRow(&s->encoding, s->xelRow, r->cols, y, s->pngRow.get());
    return s->pngRow.get();
}

void prepareRows(const RasterSource* raster, Xel* row, const PngForm* form, const AlphaMask* mask, RowSource* s) {
    s->raster = raster;
    s->xelRow = row;
    s->pngRow.reset(static_cast<uint8_t*>(malloc(pngRowBufferSize(raster->cols))));
    if (!s->pngRow) pm_error("out of memory allocating PNG row buffer");
    RowEncoding* e = &s->encoding;
    e->colorType = form->colorType;
    e->depth = form->depth;
    e->maxval = raster->maxval;
    e->pngMaxval = form->pngMaxval;
    e->mask = form->maskInForce ? mask : nullptr;
    if (form->colormapped) {
        buildIndexLookup(&form->colormap, form->maskInForce, &s->paletteLookup);
        e->palette = &s->paletteLookup;
        return;
    }
    bool failed = false;
    s->sampleTable.reset(makeSampleTable(raster->maxval, form->pngMaxval, &failed));
    if (failed) pm_error("out of memory allocating the sample rescaling table");
    if (form->maskInForce) {
        s->alphaTable.reset(makeSampleTable(mask->maxval, form->pngMaxval, &failed));
        if (failed) pm_error("out of memory allocating the alpha rescaling table");
    }
    e->sampleTable = s->sampleTable.get();
    e->alphaTable = s->alphaTable.get();
}

RowProducer rowProducer(RowSource* s) {
    RowProducer p;
    p.context = s;
    p.startPass = startPass;
    p.produceRow = produceRow;
    return p;
}

// --- -optimize -----------------------------------------------------------------

// What encodes the input's rows in any form, for the optimiser's trials.
struct TrialRows {
    const RasterSource* raster;
    Xel* row;
    const AlphaMask* mask;
};

bool fillTrialWriter(void* context, const PngForm* form, OptimizeWriter* writer) {
    auto* t = static_cast<TrialRows*>(context);
    RowSource source;
    prepareRows(t->raster, t->row, form, t->mask, &source);
    const ImageDataLayout layout = imageDataLayout(form);
    bool ok = true;
    for (int pass = 0; ok && pass < passCount(&layout); ++pass) {
        PassGeometry geometry = passGeometry(&layout, pass);
        startPass(&source);
        for (uint32_t y = 0; ok && y < layout.height; ++y)
            ok = addOptimizeRow(writer, produceRow(&source, int(y), passTakesRow(&geometry, y)));
    }
    return ok;
}

FormTrialSettings trialSettings(const RunContext* run) {
    const EncoderSettings* s = run->settings;
    FormTrialSettings t;
    t.threads = s->threads;
    t.filter = s->filter;
    t.compression = s->compression;
    t.exhaustive = s->exhaustive;
    t.reorderPalette = paletteOrderFree(&run->request);
    t.verbose = run->verbose;
    t.started = std::chrono::steady_clock::now();
    return t;
}

void reportOptimizedImage(const OptimizeResult* result, bool verbose) {
    if (!verbose) return;
    pm_message("-optimize: %d trials; best: filter %s, %s: %llu bytes of image data", result->trials,
               filterPlanName(result->filter), describeCoder(result).c_str(),
               static_cast<unsigned long long>(result->size));
}

}  // namespace

int convertPnm(const EncoderSettings* settings, const ConversionStreams* streams) {
    const RasterSource raster = readImageHeader(streams->input);
    refuseSecondAlpha(settings, &raster);
    const RunContext run{settings, formRequest(settings, &raster), streams, settings->verbose};
    ScopedRow row(raster.cols);
    ImageFacts facts = headerFacts(&raster);
    reportImageKind(&facts, run.verbose);

    MaskHolder mask;
    const FormCandidates candidates = decideForms(&run, &raster, row.row, &mask.mask, &facts);
    CommentList comments;
    const PngChunkOptions chunks = chunkOptions(&run, &comments);
    if (settings->optimize) {
        TrialRows trialRows{&raster, row.row, &mask.mask};
        const FormTrialSettings trials = trialSettings(&run);
        const OptimizedImage image = optimizeForms(&candidates, &trials, FormRowSource{&trialRows, fillTrialWriter});
        reportOptimizedImage(&image.result, run.verbose);
        const PreparedImageData prepared{image.stream.data(), image.stream.size()};
        writePng(&image.form, &chunks, nullptr, &prepared, streams->output);
        return 0;
    }
    const PngForm& form = candidates.forms[0];
    RowSource rows;
    prepareRows(&raster, row.row, &form, &mask.mask, &rows);
    const RowProducer producer = rowProducer(&rows);
    writePng(&form, &chunks, &producer, nullptr, streams->output);
    return 0;
}

}  // namespace rasterpack
