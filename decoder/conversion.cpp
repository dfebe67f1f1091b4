#include "conversion.h"

#include "pixels.h"
#include "pngread.h"
#include "reports.h"

#include <orrim.h>

#include <cstdlib>

namespace {

// Lives outside any frame a libpng error jumps across.
DecodedPng decoded;

const char* formatName(int format) {
    return format == PBM_FORMAT ? "PBM" : format == PGM_FORMAT ? "PGM" : "PPM";
}

void giveReports(const DecoderSettings& settings, const DecodedPng& d, FILE* textStream) {
    if (settings.reportTime) {
        const png_time* time = modificationTime(d);
        if (time) reportModTime(*time);
    }
    if (textStream) {
        png_text* texts = nullptr;
        int count = textChunks(d, &texts);
        dumpTextChunks(texts, count, textStream);
    }
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
    decodePng(input, *settings, &decoded);
    giveReports(*settings, decoded, textStream);
    writePnm(*settings, &decoded);
    releaseDecodedPng(&decoded);
    return 0;
}

void releasePngConversion() {
    releaseDecodedPng(&decoded);
    if (decoded.input) pm_closer(decoded.input);
    decoded = DecodedPng();
}
