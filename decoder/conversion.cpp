#include "conversion.h"

#include "pixels.h"
#include "pngread.h"
#include "reports.h"

#include <orrim.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace rasterunpack {

namespace {

const char* formatName(int format) {
    return format == PBM_FORMAT ? "PBM" : format == PGM_FORMAT ? "PGM" : "PPM";
}

// Flushes and closes the -text file; a failure ends the run naming it.
void finishTextFile(const char* name, OpenedStream* textFile) {
    errno = 0;
    bool failed = fflush(textFile->get()) != 0 || ferror(textFile->get());
    int error = errno;
    if (textFile->close() != 0 && !failed) {
        failed = true;
        error = errno;
    }
    if (!failed) return;
    char message[512];
    snprintf(message, sizeof message, "error writing the text file '%s': %s", pm_escapetext(name ? name : "-").c_str(),
             strerror(error ? error : EIO));
    pm_error("%s", message);
}

// The dump is written and its file closed before the first PNM byte goes
// out, so that a text file that cannot be written ends the run with nothing
// on the output, and the message names that file.
void writeTextDump(const PngImage& image, const char* name, OpenedStream* textFile) {
    png_text* texts = nullptr;
    int count = textChunks(image, &texts);
    dumpTextChunks(texts, count, textFile->get());
    finishTextFile(name, textFile);
}

void giveReports(const DecoderSettings& settings, const PngImage& image, OpenedStream* textFile) {
    if (settings.reportTime) {
        const png_time* time = modificationTime(image);
        if (time) reportModTime(*time);
    }
    if (textFile) writeTextDump(image, settings.textFile, textFile);
    AspectWarning aspect;
    if (aspectWarning(image.facts, &aspect))
        pm_message("warning - non-square pixels; to fix do a 'rasterresize -%cscale %g'", aspect.letter, aspect.value);
}

struct FreeMemory {
    void operator()(void* p) const { free(p); }
};

// The output row and the sample map, from malloc so that a width the
// machine cannot hold ends with this conversion's own message.
struct OutputBuffers {
    std::unique_ptr<Xel, FreeMemory> row;
    std::unique_ptr<uint16_t, FreeMemory> sampleMap;  // none for a palette image
};

void allocateOutputBuffers(const PngImage& image, OutputBuffers* b) {
    const HeaderFacts& f = image.facts;
    bool mapped = f.colorType != PNG_COLOR_TYPE_PALETTE;
    b->row.reset(static_cast<Xel*>(malloc(f.width ? size_t(f.width) * sizeof(Xel) : 1)));
    if (mapped) {
        b->sampleMap.reset(static_cast<uint16_t*>(malloc(sampleMapSize(f.bitDepth) * sizeof(uint16_t))));
        if (b->sampleMap) fillSampleMap(image.plan, f.bitDepth, b->sampleMap.get());
    }
    if (!b->row || (mapped && !b->sampleMap)) pm_error("couldn't allocate space for image");
}

void writePnm(const DecoderSettings& settings, const PngImage& image, FILE* output) {
    const HeaderFacts& f = image.facts;
    const DecodePlan& plan = image.plan;
    OutputBuffers buffers;
    allocateOutputBuffers(image, &buffers);

    int format = chooseOutputFormat(f, plan, settings.alphaMode);
    if (settings.verbose)
        pm_message("writing a %s file (maxval=%u)", formatName(format), static_cast<unsigned>(plan.maxval));

    PixelConversion pixels = pixelConversionFor(f, plan, settings.alphaMode, buffers.sampleMap.get());
    int cols = static_cast<int>(f.width);
    pnm_writepnminit(output, cols, static_cast<int>(f.height), plan.maxval, format, 0);
    for (uint32_t y = 0; y < f.height; ++y) {
        if (!convertRow(pixels, image.rows.rows[y], f.width, buffers.row.get()))
            pm_error("unknown PNG color type");
        pnm_writepnmrow(output, buffers.row.get(), cols, plan.maxval, format, 0);
    }
    fflush(output);
}

}  // namespace

int convertPng(const DecoderSettings& settings, FILE* input, OpenedStream* textFile, FILE* output) {
    PngImage image;
    readPngImage(input, settings, &image);
    giveReports(settings, image, textFile);
    writePnm(settings, image, output);
    return 0;
}

}  // namespace rasterunpack
