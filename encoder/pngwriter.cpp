#include "pngwriter.h"

#include "imagedata.h"
#include "imagelayout.h"

#include <pngrecovery.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace {

// libpng's structures live at file scope, intact after a jump back to a
// recovery point. Every frame between a recovery point and a libpng call
// (the functions of this file) holds plain data only: the jump skips them.
struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ImageDataWriter* imageData = nullptr;  // -threads, -optimize: its threads end on release
    PngRecovery recovery;                  // libpng's error pointer
};

PngWriter writer;

static_assert(std::is_trivially_destructible<PngForm>::value, "the form must be plain data");
static_assert(std::is_trivially_destructible<PngChunkOptions>::value, "chunk options must be plain data");
static_assert(std::is_trivially_destructible<RowProducer>::value, "the row producer must be plain data");
static_assert(std::is_trivially_destructible<ImageDataLayout>::value, "the layout must be plain data");
static_assert(std::is_trivially_destructible<ImageDataOptions>::value, "the writer options must be plain data");
static_assert(std::is_trivially_destructible<ImageDataSink>::value, "the sink must be plain data");

const png_byte IDAT_NAME[5] = "IDAT";
const png_byte IEND_NAME[5] = "IEND";

[[noreturn]] void fail(PngWriteJob* job, const char* message) {
    releasePngWriter();
    job->abandon(job->context, message);
    abort();  // abandon never returns; a function pointer cannot say so
}

void createStructures(PngWriteJob* job) {
    writer.recovery.program = "rasterpack";
    writer.png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer.recovery, reportLibpngError, reportLibpngWarning);
    if (!writer.png) fail(job, "cannot allocate main libpng structure (png_ptr)");
    writer.info = png_create_info_struct(writer.png);
    if (!writer.info) fail(job, "cannot allocate libpng info structure (info_ptr)");
    // libpng's default cap on width and height is meant for reading untrusted
    // files; any size the PNG format allows can be written.
    png_set_user_limits(writer.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
}

png_color_16 pngColor16(const PngColor& c) {
    png_color_16 color = {};
    color.red = c.red;
    color.green = c.green;
    color.blue = c.blue;
    color.gray = c.gray;
    return color;
}

void setFormChunks(png_structp png, png_infop info, const PngForm* form) {
    png_set_IHDR(png, info, png_uint_32(form->width), png_uint_32(form->height), form->depth, form->colorType,
                 form->interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (form->colormapped) {
        const Colormap* cm = &form->colormap;
        png_color plte[MAX_PALETTE_COLORS];
        for (int i = 0; i < cm->paletteSize; ++i) plte[i] = png_color{form->plte[i][0], form->plte[i][1], form->plte[i][2]};
        png_set_PLTE(png, info, plte, cm->paletteSize);
        if (cm->transSize > 0) {
            png_byte trns[MAX_PALETTE_COLORS];
            for (int i = 0; i < cm->transSize; ++i) trns[i] = form->trns[i];
            png_set_tRNS(png, info, trns, cm->transSize, nullptr);
        }
        if (form->hasHist) {
            png_uint_16 hist[MAX_PALETTE_COLORS];
            for (int i = 0; i < cm->paletteSize; ++i) hist[i] = form->hist[i];
            png_set_hIST(png, info, hist);
        }
    } else if (form->hasTransparentColor) {
        png_color_16 color = pngColor16(form->transparentColor);
        png_set_tRNS(png, info, nullptr, 0, &color);
    }
    if (form->hasBackground) {
        png_color_16 color = form->colormapped ? png_color_16{} : pngColor16(form->backgroundColor);
        if (form->colormapped) color.index = png_byte(form->backgroundIndex);
        png_set_bKGD(png, info, &color);
    }
    if (form->hasSignificantBits) {
        const SignificantBits& b = form->significantBits;
        png_color_8 sbit = {png_byte(b.red), png_byte(b.green), png_byte(b.blue), png_byte(b.gray), png_byte(b.alpha)};
        png_set_sBIT(png, info, &sbit);
    }
}

void setTextChunks(png_structp png, png_infop info, const CommentList* comments) {
    // libpng copies the entries; the array lives only for the call.
    const int batch = 64;
    png_text texts[batch];
    for (int start = 0; start < comments->count; start += batch) {
        int n = comments->count - start < batch ? comments->count - start : batch;
        for (int i = 0; i < n; ++i) {
            const CommentEntry& e = comments->entries[start + i];
            texts[i] = png_text{};
            texts[i].compression = e.compressed ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE;
            texts[i].key = e.key;
            texts[i].text = e.text;
            texts[i].text_length = e.textLength;
        }
        png_set_text(png, info, texts, n);
    }
}

void setOptionChunks(png_structp png, png_infop info, const PngChunkOptions* o) {
    if (o->hasGamma) png_set_gAMA(png, info, o->gamma);
    if (o->hasChroma) {
        const float* c = o->chroma;
        png_set_cHRM(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    }
    if (o->hasPhys) png_set_pHYs(png, info, o->physX, o->physY, o->physUnit);
    if (o->comments) setTextChunks(png, info, o->comments);
    if (o->hasTime) {
        png_time t = o->time;
        png_set_tIME(png, info, &t);
    }
    // libpng takes the one filter as its mask bit: given as a filter number
    // it silently falls back to no filtering.
    static const int FILTER_MASKS[5] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                                        PNG_FILTER_PAETH};
    if (o->filter >= 0 && o->filter <= 4) png_set_filter(png, PNG_FILTER_TYPE_BASE, FILTER_MASKS[o->filter]);
    if (o->compression >= 0 && o->compression <= 9) png_set_compression_level(png, o->compression);
}

ImageDataLayout imageDataLayout(const PngForm* form) {
    static const int CHANNELS[7] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
    ImageDataLayout layout;
    layout.width = uint32_t(form->width);
    layout.height = uint32_t(form->height);
    layout.depth = form->depth;
    layout.channels = CHANNELS[form->colorType];
    layout.interlaced = form->interlace;
    return layout;
}

// Every row of every pass through libpng's row writer; a row the pass
// leaves out is read but not encoded.
void writeRowsThroughLibpng(png_structp png, const ImageDataLayout* layout, const RowProducer* rows) {
    for (int pass = 0; pass < passCount(layout); ++pass) {
        PassGeometry geometry = passGeometry(layout, pass);
        rows->startPass(rows->context);
        for (uint32_t y = 0; y < layout->height; ++y) {
            const uint8_t* row = rows->produceRow(rows->context, int(y), passTakesRow(&geometry, y));
            png_write_row(png, const_cast<png_bytep>(row));
        }
    }
}

// The same rows through the band or optimising writer, which sends the
// stream back as IDAT chunks. Its message is copied before the writer goes.
void writeRowsThroughWriter(PngWriteJob* job, const ImageDataLayout* layout) {
    const PngChunkOptions* o = job->chunks;
    ImageDataOptions options;
    options.threads = o->threads;
    options.optimize = o->optimize;
    options.exhaustive = o->exhaustive;
    options.filter = o->filter;
    options.compression = o->compression;
    options.palette = job->form->colormapped;
    options.verbose = o->verbose;
    ImageDataSink sink;
    sink.writeChunk = writeIdatChunk;
    sink.context = writer.png;
    sink.failureMessage = "setjmp returns error condition (2)";  // as when libpng writes the rows
    const char* error = "";
    writer.imageData = startImageDataWriter(layout, &options, sink, &error);
    if (!writer.imageData) fail(job, error);
    const RowProducer* rows = &job->rows;
    bool ok = true;
    for (int pass = 0; ok && pass < passCount(layout); ++pass) {
        PassGeometry geometry = passGeometry(layout, pass);
        rows->startPass(rows->context);
        for (uint32_t y = 0; ok && y < layout->height; ++y)
            ok = addImageDataRow(writer.imageData,
                                 rows->produceRow(rows->context, int(y), passTakesRow(&geometry, y)));
    }
    if (!ok || !finishImageData(writer.imageData)) {
        char message[256];
        snprintf(message, sizeof message, "%s", imageDataError(writer.imageData));
        fail(job, message);
    }
    destroyImageDataWriter(writer.imageData);
    writer.imageData = nullptr;
}

// All image data, and the end of the file. The one place rows reach libpng.
void writeImageData(PngWriteJob* job) {
    png_structp png = writer.png;
    ImageDataLayout layout = imageDataLayout(job->form);
    if (usesImageDataWriter(job->chunks->threads, job->chunks->optimize)) {
        writeRowsThroughWriter(job, &layout);
        // png_write_end refuses to end a file whose image data it did not see.
        png_write_chunk(png, IEND_NAME, nullptr, 0);
        return;
    }
    writeRowsThroughLibpng(png, &layout, &job->rows);
    // Without the info structure libpng writes nothing but IEND here: the
    // text and time chunks went out ahead of the image data.
    png_write_end(png, nullptr);
}

void writePng(PngWriteJob* job) {
    png_structp png = writer.png;
    png_infop info = writer.info;
    png_init_io(png, stdout);
    setFormChunks(png, info, job->form);
    setOptionChunks(png, info, job->chunks);
    png_write_info(png, info);
    // Rows below depth 8 come with one sample a byte.
    png_set_packing(png);
    png_set_interlace_handling(png);
    writeImageData(job);
}

}  // namespace

// While this frame lives, libpng's errors come back here (its line already
// printed) and end as false, so no jump crosses the writer's frames; the
// conversion's point is put back either way. Setting the error pointer
// sets the warning handler too: the program's own stays.
bool writeIdatChunk(void* context, const uint8_t* data, size_t size) {
    auto png = static_cast<png_structp>(context);
    png_voidp outerPoint = png_get_error_ptr(png);
    PngRecovery localPoint;
    localPoint.program = outerPoint ? static_cast<PngRecovery*>(outerPoint)->program : nullptr;
    localPoint.armed = true;
    png_set_error_fn(png, &localPoint, reportLibpngError, reportLibpngWarning);
    if (setjmp(localPoint.point)) {
        png_set_error_fn(png, outerPoint, reportLibpngError, reportLibpngWarning);
        return false;
    }
    png_write_chunk(png, IDAT_NAME, data, size);
    png_set_error_fn(png, outerPoint, reportLibpngError, reportLibpngWarning);
    return true;
}

void runPngConversion(PngWriteJob* job) {
    createStructures(job);
    writer.recovery.armed = true;
    if (setjmp(writer.recovery.point)) fail(job, "setjmp returns error condition (1)");
    job->prepare(job);

    if (setjmp(writer.recovery.point)) fail(job, "setjmp returns error condition (2)");
    writePng(job);
    releasePngWriter();
}

void releasePngWriter() {
    writer.recovery.armed = false;
    destroyImageDataWriter(writer.imageData);
    writer.imageData = nullptr;
    if (writer.png) png_destroy_write_struct(&writer.png, writer.info ? &writer.info : nullptr);
    writer.png = nullptr;
    writer.info = nullptr;
}
