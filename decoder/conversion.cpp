#include "conversion.h"

#include "pixels.h"
#include "pngread.h"
#include "reports.h"

#include <orrim.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace rasterunpack {

namespace {

void reportOutputFormat(int format, uint16_t maxval) {
    if (pnm_formathasalpha(format) || format != pnm_formattype(format)) {
        pm_message("writing a PAM file (%s, maxval=%u)", pnm_tupletype(format), static_cast<unsigned>(maxval));
        return;
    }
    const char* name = format == PBM_FORMAT ? "PBM" : format == PGM_FORMAT ? "PGM" : "PPM";
    pm_message("writing a %s file (maxval=%u)", name, static_cast<unsigned>(maxval));
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

// The output rows and the sample map, from malloc so that a width the
// machine cannot hold ends with this conversion's own message.
struct OutputBuffers {
    std::unique_ptr<Xel, FreeMemory> row;             // ROWS_CONVERTED
    std::unique_ptr<Sample, FreeMemory> alpha;        // ROWS_CONVERTED under ALPHA_KEEP
    std::unique_ptr<uint8_t, FreeMemory> bytes;       // ROWS_MAPPED: the raw output row
    std::unique_ptr<uint16_t, FreeMemory> sampleMap;  // none for a palette image
};

// n elements of size bytes from malloc, or null when the count overflows.
void* allocateElements(size_t n, size_t size) {
    if (n == 0) n = 1;
    return n > SIZE_MAX / size ? nullptr : malloc(n * size);
}

void allocateOutputBuffers(const PngImage& image, RowPath path, AlphaMode mode, OutputBuffers* b) {
    const HeaderFacts& f = image.facts;
    bool mapped = f.colorType != PNG_COLOR_TYPE_PALETTE;
    bool failed = false;
    if (mapped) {
        b->sampleMap.reset(static_cast<uint16_t*>(malloc(sampleMapSize(f.bitDepth) * sizeof(uint16_t))));
        if (b->sampleMap) fillSampleMap(image.plan, f.bitDepth, b->sampleMap.get());
        failed = !b->sampleMap;
    }
    if (path == ROWS_CONVERTED) {
        b->row.reset(static_cast<Xel*>(allocateElements(f.width, sizeof(Xel))));
        if (mode == ALPHA_KEEP) b->alpha.reset(static_cast<Sample*>(allocateElements(f.width, sizeof(Sample))));
        failed = failed || !b->row || (mode == ALPHA_KEEP && !b->alpha);
    } else if (path == ROWS_MAPPED) {
        b->bytes.reset(static_cast<uint8_t*>(allocateElements(samplesPerRow(f), 2)));
        failed = failed || !b->bytes;
    }
    if (failed) pm_error("couldn't allocate space for image");
}

void writeConvertedRows(const PngImage& image, const PixelConversion& pixels, int format, const OutputBuffers& b,
                        FILE* output) {
    const HeaderFacts& f = image.facts;
    int cols = static_cast<int>(f.width);
    for (uint32_t y = 0; y < f.height; ++y) {
        if (!convertRow(pixels, image.rows.rows[y], f.width, b.row.get(), b.alpha.get()))
            pm_error("unknown PNG color type");
        if (b.alpha)
            pnm_writepamrow(output, b.row.get(), b.alpha.get(), cols, image.plan.maxval, format);
        else
            pnm_writepnmrow(output, b.row.get(), cols, image.plan.maxval, format, 0);
    }
}

void writeMappedRows(const PngImage& image, const PixelConversion& pixels, const OutputBuffers& b, FILE* output) {
    const size_t samples = samplesPerRow(image.facts);
    const size_t bytes = samples * (image.plan.maxval > 255 ? 2 : 1);
    for (uint32_t y = 0; y < image.facts.height; ++y) {
        mapRow(pixels, image.rows.rows[y], samples, b.bytes.get());
        pnm_writerawrow(output, b.bytes.get(), bytes);
    }
}

// The stored bytes of 8- and 16-bit samples are the raw output's bytes.
void writeStoredRows(const PngImage& image, FILE* output) {
    const size_t bytes = samplesPerRow(image.facts) * size_t(image.facts.bitDepth / 8);
    for (uint32_t y = 0; y < image.facts.height; ++y) pnm_writerawrow(output, image.rows.rows[y], bytes);
}

void writePnm(const DecoderSettings& settings, const PngImage& image, FILE* output) {
    const HeaderFacts& f = image.facts;
    const DecodePlan& plan = image.plan;
    int format = chooseOutputFormat(f, plan, settings.alphaMode);
    RowPath path = chooseRowPath(f, plan, settings.alphaMode, pnm_writesplain(format, 0));
    OutputBuffers buffers;
    allocateOutputBuffers(image, path, settings.alphaMode, &buffers);
    if (settings.verbose) reportOutputFormat(format, plan.maxval);

    PixelConversion pixels = pixelConversionFor(f, plan, settings.alphaMode, buffers.sampleMap.get());
    pnm_writepnminit(output, static_cast<int>(f.width), static_cast<int>(f.height), plan.maxval, format, 0);
    switch (path) {
        case ROWS_AS_STORED: writeStoredRows(image, output); break;
        case ROWS_MAPPED: writeMappedRows(image, pixels, buffers, output); break;
        case ROWS_CONVERTED: writeConvertedRows(image, pixels, format, buffers, output); break;
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
