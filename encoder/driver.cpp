#include "driver.h"

#include "analyses.h"
#include "commentfile.h"
#include "idatchunks.h"
#include "imagedata.h"
#include "modtime.h"
#include "palette.h"
#include "raster.h"
#include "rows.h"

#include <orrim.h>
#include <png.h>
#include <pngrecovery.h>

#include <cstdarg>
#include <cstdlib>
#include <type_traits>

namespace {

// Everything one conversion holds. It lives at file scope, not in
// convertPnm's frame, so that it is intact after a jump back to a recovery
// point, and it holds only plain data: the jump skips no destructor.
struct Conversion {
    EncoderSettings* settings = nullptr;
    FILE* alphaStream = nullptr;
    FILE* paletteStream = nullptr;
    FILE* commentStream = nullptr;

    png_structp png = nullptr;
    png_infop info = nullptr;

    RasterSource raster;
    int imageKind = KIND_UNKNOWN;
    Pixel transparentColor = {0, 0, 0};
    bool exactTransparent = false;
    Pixel backgroundColor = {0, 0, 0};
    AlphaMask mask;  // rows stay null without -alpha; maxval 255 then
    int significantBits = 0;
    HistogramCache histogram;
    Colormap colormap;
    int depth = 8;
    Sample pngMaxval = 255;
    int colorType = PNG_COLOR_TYPE_GRAY;

    Xel* xelRow = nullptr;
    png_bytep pngRow = nullptr;
    png_uint_16* sampleTable = nullptr;
    png_uint_16* alphaTable = nullptr;
    ImageDataWriter* imageData = nullptr;  // -threads, -optimize
};

Conversion conversion;

// A jump back to a recovery point skips the frames in between: nothing that
// lives in them may need destroying.
static_assert(std::is_trivially_destructible<Conversion>::value, "the conversion must hold plain data only");
static_assert(std::is_trivially_destructible<RowEncoding>::value, "row encoding must hold plain data only");
static_assert(std::is_trivially_destructible<PaletteRequest>::value, "palette request must hold plain data only");

// Releases everything the conversion holds, libpng's structures once.
void releaseConversion(Conversion* c) {
    pngRecoveryArmed = false;
    if (c->png) png_destroy_write_struct(&c->png, c->info ? &c->info : nullptr);
    c->png = nullptr;
    c->info = nullptr;
    if (c->xelRow) pm_freerow(c->xelRow);
    c->xelRow = nullptr;
    free(c->pngRow);
    c->pngRow = nullptr;
    free(c->sampleTable);
    c->sampleTable = nullptr;
    free(c->alphaTable);
    c->alphaTable = nullptr;
    destroyImageDataWriter(c->imageData);
    c->imageData = nullptr;
    if (c->mask.rows) pm_freearray(c->mask.rows, c->mask.rowCount);
    c->mask.rows = nullptr;
    releaseHistogram(&c->histogram);
    freeColormap(&c->colormap);
}

// Ends the run: releases the conversion, closes the input and reports.
[[noreturn]] __attribute__((format(printf, 2, 3))) void abandonConversion(Conversion* c, const char* format, ...) {
    releaseConversion(c);
    if (c->raster.input) pm_closer(c->raster.input);
    c->raster.input = nullptr;
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    pm_error("%s", message);
}

bool verbose(const Conversion* c) { return c->settings->verbose; }

// --- libpng structures -------------------------------------------------------

void createPngStructures(Conversion* c) {
    c->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &pngJumpBuffer, reportLibpngError, nullptr);
    if (!c->png) abandonConversion(c, "cannot allocate main libpng structure (png_ptr)");
    c->info = png_create_info_struct(c->png);
    if (!c->info) abandonConversion(c, "cannot allocate libpng info structure (info_ptr)");
    // libpng's default cap on width and height is meant for reading untrusted
    // files; any size the PNG format allows can be written.
    png_set_user_limits(c->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
}

// --- reading and deciding ------------------------------------------------------

void readImageHeader(Conversion* c) {
    RasterSource* r = &c->raster;
    pnm_readpnminit(r->input, &r->cols, &r->rows, &r->maxval, &r->format);
    pm_tell2(r->input, &r->rasterPosition, sizeof r->rasterPosition);
    c->imageKind = pnm_formattype(r->format);
    c->xelRow = pnm_allocrow(r->cols);
    // pnm_readpnminit accepts only the three families.
    if (verbose(c)) {
        const char* kind = c->imageKind == KIND_PBM ? "PBM" : c->imageKind == KIND_PGM ? "PGM" : "PPM";
        pm_message("reading a %s file (maxval=%u)", kind, static_cast<unsigned>(r->maxval));
    }
}

// A colour text parsed at 16 bits (8 for a bit image), in image units.
Pixel parseImageColor(const Conversion* c, const char* text) {
    Sample scale = (c->imageKind == KIND_PGM || c->imageKind == KIND_PPM) ? 65535 : 255;
    Pixel p = ppm_parsecolor(text, scale);
    Sample maxval = c->raster.maxval;
    return Pixel{pm_rescalesample(p.r, scale, maxval), pm_rescalesample(p.g, scale, maxval),
                 pm_rescalesample(p.b, scale, maxval)};
}

void parseTransparentColor(Conversion* c) {
    if (c->settings->transparent != 1) return;
    const char* text = c->settings->transparentColor;
    if (text[0] == '=') {
        c->exactTransparent = true;
        ++text;
    }
    c->transparentColor = parseImageColor(c, text);
}

void readAlphaMask(Conversion* c) {
    EncoderSettings* s = c->settings;
    if (!s->alpha) return;
    if (verbose(c)) pm_message("reading alpha-channel image...");
    AlphaMask* m = &c->mask;
    int rows = 0;
    m->rows = pgm_readpgm(c->alphaStream, &m->cols, &rows, &m->maxval);
    m->rowCount = rows;
    if (m->cols != c->raster.cols || rows != c->raster.rows)
        abandonConversion(c, "dimensions for image and alpha mask do not agree");
    MaskColorResult result = findMaskTransparentColor(&c->raster, m);
    if (result.maskIsOneColor && !s->force) {
        if (verbose(c)) pm_message("converting alpha mask to transparency index");
        s->alpha = false;
        s->transparent = 2;
        c->transparentColor = result.maskColor;
        c->exactTransparent = false;
    } else {
        s->transparent = -1;
    }
}

void parseBackgroundColor(Conversion* c) {
    if (c->settings->background == 1) c->backgroundColor = parseImageColor(c, c->settings->backgroundColor);
}

// True when no pixel has differing red, green and blue; stops at the first that does.
bool allPixelsGrey(Conversion* c) {
    const RasterSource* r = &c->raster;
    rewindRaster(r);
    for (int y = 0; y < r->rows; ++y) {
        pnm_readpnmrow(r->input, c->xelRow, r->cols, r->maxval, r->format);
        for (int x = 0; x < r->cols; ++x) {
            const Xel& p = c->xelRow[x];
            if (p.r != p.g || p.g != p.b) return false;
        }
    }
    return true;
}

void scanForColor(Conversion* c) {
    if (c->imageKind == KIND_PPM && !c->settings->force && allPixelsGrey(c)) c->imageKind = KIND_PGM;
}

void checkMaxval(Conversion* c) {
    if (c->raster.maxval > PPM_OVERALLMAXVAL && !c->settings->downscale)
        abandonConversion(c, "can only handle files up to 16-bit (use -downscale to override");
}

void findSignificantBits(Conversion* c) {
    const EncoderSettings* s = c->settings;
    int family = pnm_formattype(c->raster.format);
    int fromMaxval = pm_maxvaltobits(c->raster.maxval);
    if (family == PPM_FORMAT && !s->force)
        c->significantBits = findColorSigBits(&c->raster);
    else if (family == PGM_FORMAT && !s->alpha && !s->force)
        c->significantBits = findGraySigBits(&c->raster);
    else
        c->significantBits = fromMaxval;
    if (verbose(c) && c->significantBits != fromMaxval)
        pm_message("Using only %d rightmost bits of input samples.  The rest are just copies of those.",
                   c->significantBits);
}

PaletteRequest paletteRequest(const Conversion* c) {
    const EncoderSettings* s = c->settings;
    PaletteRequest q;
    q.raster = &c->raster;
    q.imageKind = c->imageKind;
    q.mask = s->alpha ? &c->mask : nullptr;
    q.maskMaxval = c->mask.maxval;
    q.paletteFile = c->paletteStream;
    q.hasTransparent = s->transparent > 0;
    q.transparent = c->transparentColor;
    q.exactTransparent = c->exactTransparent;
    q.hasBackground = s->background == 1;
    q.background = c->backgroundColor;
    q.hist = s->hist;
    q.verbose = s->verbose;
    return q;
}

void tryColormap(Conversion* c) {
    c->colormap.colormapped = false;
    if (c->settings->force || c->imageKind == KIND_PBM || c->raster.maxval > 255) return;
    PaletteRequest request = paletteRequest(c);
    attemptColormap(&request, &c->histogram, &c->colormap);
}

void chooseDepth(Conversion* c) {
    const EncoderSettings* s = c->settings;
    const int bits = c->significantBits;
    int pixelSize;
    if (c->colormap.colormapped) {
        c->depth = c->colormap.indexBits;
        pixelSize = c->depth;
    } else {
        bool grey = c->imageKind != KIND_PPM;
        if (grey && !s->alpha)
            c->depth = bits <= 1 ? 1 : bits == 2 ? 2 : bits <= 4 ? 4 : bits <= 8 ? 8 : 16;
        else
            c->depth = bits <= 8 ? 8 : 16;
        int channels = (grey ? 1 : 3) + (s->alpha ? 1 : 0);
        pixelSize = channels * c->depth;
        if (verbose(c)) pm_message("Writing %d bits per component per pixel", c->depth);
    }
    if (verbose(c)) {
        const char* kind = c->colormap.colormapped ? "palette" : c->imageKind == KIND_PPM ? "RGB" : "gray";
        const char* extra = !s->alpha ? "" : c->colormap.colormapped ? "+transparency" : "+alpha";
        pm_message("writing a%s %d-bit %s%s file%s", pixelSize == 8 ? "n" : "", pixelSize, kind, extra,
                   s->interlace ? " (interlaced)" : "");
    }
    c->pngMaxval = pm_bitstomaxval(c->depth);
}

// --- chunks --------------------------------------------------------------------

void setHeader(Conversion* c) {
    const EncoderSettings* s = c->settings;
    int type = c->colormap.colormapped    ? PNG_COLOR_TYPE_PALETTE
               : c->imageKind == KIND_PPM ? PNG_COLOR_TYPE_RGB
                                          : PNG_COLOR_TYPE_GRAY;
    if (s->alpha && type != PNG_COLOR_TYPE_PALETTE) type |= PNG_COLOR_MASK_ALPHA;
    c->colorType = type;
    png_set_IHDR(c->png, c->info, static_cast<png_uint_32>(c->raster.cols), static_cast<png_uint_32>(c->raster.rows),
                 c->depth, type, s->interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
}

void setColorSpaceChunks(Conversion* c) {
    const EncoderSettings* s = c->settings;
    if (s->gamma != -1.0f) png_set_gAMA(c->png, c->info, s->gamma);
    if (s->chroma[0] != -1.0f) {
        const float* ch = s->chroma;
        png_set_cHRM(c->png, c->info, ch[0], ch[1], ch[2], ch[3], ch[4], ch[5], ch[6], ch[7]);
    }
    if (s->phys[2] != -1) {
        // PNG sizes stop at 2^31 - 1; a negative count would wrap to a huge one.
        if (s->phys[0] < 0 || s->phys[1] < 0)
            abandonConversion(c, "-phys: pixels per unit must not be negative (%d, %d)", s->phys[0], s->phys[1]);
        png_set_pHYs(c->png, c->info, static_cast<png_uint_32>(s->phys[0]), static_cast<png_uint_32>(s->phys[1]),
                     s->phys[2] & 0xff);
    }
}

// A colour in image units as a PNG colour at the output depth; grey is blue.
png_color_16 pngColor(const Conversion* c, Pixel p) {
    png_color_16 color = {};
    color.red = static_cast<png_uint_16>(pm_rescalesample(p.r, c->raster.maxval, c->pngMaxval));
    color.green = static_cast<png_uint_16>(pm_rescalesample(p.g, c->raster.maxval, c->pngMaxval));
    color.blue = static_cast<png_uint_16>(pm_rescalesample(p.b, c->raster.maxval, c->pngMaxval));
    color.gray = color.blue;
    return color;
}

void setTransparencyChunks(Conversion* c) {
    if (c->colorType == PNG_COLOR_TYPE_PALETTE) {
        PaletteRequest request = paletteRequest(c);
        setPaletteChunks(c->png, c->info, &request, &c->histogram, &c->colormap);
        return;
    }
    bool opaqueType = c->colorType == PNG_COLOR_TYPE_GRAY || c->colorType == PNG_COLOR_TYPE_RGB;
    if (opaqueType && c->settings->transparent > 0) {
        png_color_16 color = pngColor(c, c->transparentColor);
        png_set_tRNS(c->png, c->info, nullptr, 0, &color);
        if (verbose(c))
            pm_message("Transparent color {gray, red, green, blue} = {%d, %d, %d, %d}", color.gray, color.red,
                       color.green, color.blue);
    } else if (verbose(c)) {
        pm_message("No transparent color");
    }
}

void setBackgroundChunk(Conversion* c) {
    if (c->settings->background != 1) return;
    png_color_16 color = {};
    if (c->colorType == PNG_COLOR_TYPE_PALETTE) {
        color.index = static_cast<png_byte>(c->colormap.backgroundIndex);
    } else {
        color = pngColor(c, c->backgroundColor);
        if (verbose(c))
            pm_message("Writing bKGD chunk with background color  {gray, red, green, blue} = {%d, %d, %d, %d}",
                       color.gray, color.red, color.green, color.blue);
    }
    png_set_bKGD(c->png, c->info, &color);
}

// sBIT may not exceed the depth; a wider input (-downscale) has at most the
// depth's bits left after rescaling.
int significantBitsAtDepth(Sample maxval, int depth) {
    int bits = pm_maxvaltobits(maxval);
    return bits > depth ? depth : bits;
}

void setSignificantBitsChunk(Conversion* c) {
    if (c->colormap.colormapped) return;
    bool alpha = c->settings->alpha;
    if (c->pngMaxval == c->raster.maxval && !(alpha && c->pngMaxval != c->mask.maxval)) return;
    int b = significantBitsAtDepth(c->raster.maxval, c->depth);
    png_color_8 sbit = {};
    if (c->colorType & PNG_COLOR_MASK_COLOR)
        sbit.red = sbit.green = sbit.blue = static_cast<png_byte>(b);
    else
        sbit.gray = static_cast<png_byte>(b);
    if (verbose(c)) pm_message("Writing sBIT chunk with sbitval = %d", b);
    if (c->colorType & PNG_COLOR_MASK_ALPHA) {
        sbit.alpha = static_cast<png_byte>(significantBitsAtDepth(c->mask.maxval, c->depth));
    }
    png_set_sBIT(c->png, c->info, &sbit);
}

void setTimeChunk(Conversion* c) {
    const EncoderSettings* s = c->settings;
    if (!s->time) return;
    png_time modTime = {};
    switch (parseModificationTime(s->timeDate, s->timeOfDay, &modTime)) {
    case TIME_UNPARSABLE:
        abandonConversion(c, "-time '%s' '%s' is not a date and time of the form [yy]yy-mm-dd hh:mm:ss",
                          s->timeDate, s->timeOfDay);
    case TIME_OUT_OF_RANGE:
        abandonConversion(c, "-time '%s' '%s' is out of range for a PNG modification time", s->timeDate,
                          s->timeOfDay);
    case TIME_OK: break;
    }
    png_set_tIME(c->png, c->info, &modTime);
}

void setCompressionOptions(Conversion* c) {
    const EncoderSettings* s = c->settings;
    // libpng takes the one filter as its mask bit: given as a filter number
    // it silently falls back to no filtering.
    static const int FILTER_MASKS[5] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                                        PNG_FILTER_PAETH};
    if (s->filter >= 0 && s->filter <= 4) png_set_filter(c->png, PNG_FILTER_TYPE_BASE, FILTER_MASKS[s->filter]);
    if (s->compression >= 0 && s->compression <= 9) png_set_compression_level(c->png, s->compression);
}

void writeHeaderChunks(Conversion* c) {
    setHeader(c);
    setColorSpaceChunks(c);
    setTransparencyChunks(c);
    releaseHistogram(&c->histogram);
    setBackgroundChunk(c);
    setSignificantBitsChunk(c);
    if (c->settings->text || c->settings->ztxt)
        readCommentFile(c->png, c->info, c->commentStream, c->settings->ztxt, c->settings->verbose);
    setTimeChunk(c);
    setCompressionOptions(c);
    png_write_info(c->png, c->info);
}

// --- rows ------------------------------------------------------------------------

void prepareRows(Conversion* c, RowEncoding* encoding) {
    bool failed = false;
    c->pngRow = static_cast<png_bytep>(malloc(pngRowBufferSize(c->raster.cols)));
    if (!c->pngRow) abandonConversion(c, "out of memory allocating PNG row buffer");
    c->sampleTable = makeSampleTable(c->raster.maxval, c->pngMaxval, &failed);
    if (failed) abandonConversion(c, "out of memory allocating the sample rescaling table");
    bool hasAlpha = (c->colorType & PNG_COLOR_MASK_ALPHA) != 0;
    if (hasAlpha) {
        c->alphaTable = makeSampleTable(c->mask.maxval, c->pngMaxval, &failed);
        if (failed) abandonConversion(c, "out of memory allocating the alpha rescaling table");
    }
    encoding->colorType = c->colorType;
    encoding->depth = c->depth;
    encoding->maxval = c->raster.maxval;
    encoding->pngMaxval = c->pngMaxval;
    encoding->mask = c->settings->alpha ? &c->mask : nullptr;
    encoding->colormap = &c->colormap;
    encoding->sampleTable = c->sampleTable;
    encoding->alphaTable = c->alphaTable;
}

// Steps up to the choice of depth: everything that needs no output yet.
void analyseImage(Conversion* c) {
    readImageHeader(c);
    parseTransparentColor(c);
    readAlphaMask(c);
    parseBackgroundColor(c);
    scanForColor(c);
    checkMaxval(c);
    findSignificantBits(c);
    tryColormap(c);
    chooseDepth(c);
}

// -threads and -optimize: the image data goes out as IDAT chunks of our own,
// the file ends with our own IEND.
void writeImageDataOurselves(Conversion* c, int passes, const RowEncoding* encoding) {
    static const int CHANNELS[7] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
    ImageDataLayout layout;
    layout.width = static_cast<uint32_t>(c->raster.cols);
    layout.height = static_cast<uint32_t>(c->raster.rows);
    layout.depth = c->depth;
    layout.channels = CHANNELS[c->colorType];
    layout.interlaced = c->settings->interlace;
    ImageDataOptions options;
    options.threads = c->settings->threads;
    options.optimize = c->settings->optimize;
    options.filter = c->settings->filter;
    options.compression = c->settings->compression;
    options.palette = c->colorType == PNG_COLOR_TYPE_PALETTE;
    options.verbose = c->settings->verbose;
    ImageDataSink sink;
    sink.writeChunk = writeIdatChunk;
    sink.context = c->png;
    sink.failureMessage = "setjmp returns error condition (2)";  // as when libpng writes the rows
    const char* error = "";
    c->imageData = startImageDataWriter(&layout, &options, sink, &error);
    if (!c->imageData) abandonConversion(c, "%s", error);
    if (!writeImageRowsTo(c->imageData, passes, &c->raster, encoding, c->xelRow, c->pngRow) ||
        !finishImageData(c->imageData)) {
        char message[256];  // the writer and its text go with the conversion
        snprintf(message, sizeof message, "%s", imageDataError(c->imageData));
        abandonConversion(c, "%s", message);
    }
    destroyImageDataWriter(c->imageData);
    c->imageData = nullptr;
    writeEndChunk(c->png);
}

void writePng(Conversion* c) {
    png_init_io(c->png, stdout);
    writeHeaderChunks(c);
    png_set_packing(c->png);
    int passes = png_set_interlace_handling(c->png);
    RowEncoding encoding;
    prepareRows(c, &encoding);
    if (usesImageDataWriter(c->settings->threads, c->settings->optimize)) {
        writeImageDataOurselves(c, passes, &encoding);
        return;
    }
    writeImageRows(c->png, passes, &c->raster, &encoding, c->xelRow, c->pngRow);
    // Without the info structure libpng writes nothing but IEND here: the
    // text and time chunks went out ahead of the image data.
    png_write_end(c->png, nullptr);
}

}  // namespace

int convertPnm(EncoderSettings* settings, FILE* input, FILE* alphaStream, FILE* paletteStream,
               FILE* commentStream) {
    Conversion* c = &conversion;
    *c = Conversion();
    c->settings = settings;
    c->raster.input = input;
    c->alphaStream = alphaStream;
    c->paletteStream = paletteStream;
    c->commentStream = commentStream;

    createPngStructures(c);
    pngRecoveryArmed = true;
    if (setjmp(pngJumpBuffer)) abandonConversion(&conversion, "setjmp returns error condition (1)");
    analyseImage(&conversion);

    if (setjmp(pngJumpBuffer)) abandonConversion(&conversion, "setjmp returns error condition (2)");
    writePng(&conversion);

    releaseConversion(&conversion);
    return 0;
}
