#include "conversion.h"

#include "pixels.h"
#include "pngread.h"
#include "reports.h"

#include <orrim.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What one conversion holds. Lives outside any frame a libpng error jumps
// across.
struct Conversion {
    DecodedPng decoded;
    FILE* textStream = nullptr;  // open until the dump is complete
};
Conversion conversion;

const char* formatName(int format) {
    return format == PBM_FORMAT ? "PBM" : format == PGM_FORMAT ? "PGM" : "PPM";
}

// The dump is written and its file closed before the first PNM byte goes
// out, so that a text file that cannot be written ends the run with nothing
// on standard output, and the message names that file.
void writeTextDump(const char* name, Conversion* c) {
    png_text* texts = nullptr;
    int count = textChunks(c->decoded, &texts);
    FILE* f = c->textStream;
    c->textStream = nullptr;
    dumpTextChunks(texts, count, f);
    errno = 0;
    bool failed = fflush(f) != 0 || ferror(f);
    int error = errno;
    if (f != stdout && fclose(f) != 0 && !failed) {
        failed = true;
        error = errno;
    }
    if (!failed) return;
    char message[512];
    snprintf(message, sizeof message, "error writing the text file '%s': %s", pm_escapetext(name ? name : "-").c_str(),
             strerror(error ? error : EIO));
    abandonDecodedPng(&c->decoded, message);
}

void giveReports(const DecoderSettings& settings, Conversion* c) {
    const DecodedPng& d = c->decoded;
    if (settings.reportTime) {
        const png_time* time = modificationTime(d);
        if (time) reportModTime(*time);
    }
    if (c->textStream) writeTextDump(settings.textFile, c);
    AspectWarning aspect;
    if (aspectWarning(d.facts, &aspect))
        pm_message("warning - non-square pixels; to fix do a 'rasterresize -%cscale %g'", aspect.letter, aspect.value);
}

// The output row and the sample map, from malloc so that a width the
// machine cannot hold ends with this conversion's own message.
struct OutputBuffers {
    Xel* row = nullptr;
    uint16_t* sampleMap = nullptr;
};

void releaseOutputBuffers(OutputBuffers* b) {
    free(b->row);
    free(b->sampleMap);
    *b = OutputBuffers();
}

void allocateOutputBuffers(DecodedPng* d, OutputBuffers* b) {
    const HeaderFacts& f = d->facts;
    b->row = static_cast<Xel*>(malloc(f.width ? size_t(f.width) * sizeof(Xel) : 1));
    if (f.colorType != PNG_COLOR_TYPE_PALETTE) {
        b->sampleMap = static_cast<uint16_t*>(malloc(sampleMapSize(f.bitDepth) * sizeof(uint16_t)));
        if (b->sampleMap) fillSampleMap(d->plan, f.bitDepth, b->sampleMap);
    }
    if (!b->row || (f.colorType != PNG_COLOR_TYPE_PALETTE && !b->sampleMap)) {
        releaseOutputBuffers(b);
        abandonDecodedPng(d, "couldn't allocate space for image");
    }
}

void writePnm(const DecoderSettings& settings, DecodedPng* d) {
    const HeaderFacts& f = d->facts;
    OutputBuffers buffers;
    allocateOutputBuffers(d, &buffers);

    int format = chooseOutputFormat(f, d->plan, settings.alphaMode);
    if (settings.verbose)
        pm_message("writing a %s file (maxval=%u)", formatName(format), static_cast<unsigned>(d->plan.maxval));

    PixelConversion pixels = pixelConversionFor(f, d->plan, settings.alphaMode, buffers.sampleMap);
    int cols = static_cast<int>(f.width);
    pnm_writepnminit(stdout, cols, static_cast<int>(f.height), d->plan.maxval, format, 0);
    for (uint32_t y = 0; y < f.height; ++y) {
        if (!convertRow(pixels, d->rows[y], f.width, buffers.row)) {
            releaseOutputBuffers(&buffers);
            abandonDecodedPng(d, "unknown PNG color type");
        }
        pnm_writepnmrow(stdout, buffers.row, cols, d->plan.maxval, format, 0);
    }
    fflush(stdout);
    releaseOutputBuffers(&buffers);
}

}  // namespace

int convertPng(const DecoderSettings* settings, FILE* input, FILE* textStream) {
    conversion.textStream = textStream;
    decodePng(input, *settings, &conversion.decoded);
    giveReports(*settings, &conversion);
    writePnm(*settings, &conversion.decoded);
    releaseDecodedPng(&conversion.decoded);
    return 0;
}

void releasePngConversion() {
    DecodedPng* d = &conversion.decoded;
    releaseDecodedPng(d);
    if (d->input) pm_closer(d->input);
    if (conversion.textStream && conversion.textStream != stdout) fclose(conversion.textStream);
    conversion = Conversion();
}
