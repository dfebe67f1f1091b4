#include "pngwriter.h"

#include "imagedata.h"
#include "imagelayout.h"
#include "zlibstream.h"

#include <orrim.h>
#include <pngrecovery.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace rasterpack {

namespace {

// One PNG write: libpng's structures, the image data writer while it runs,
// and the recovery point libpng holds as its error pointer. It lives in the
// frame that arms the point or above it, so no jump crosses it, and its
// destructor gives everything back however the run ends: after a jump back,
// on the writer's failure, or when pm_error unwinds through a caller's fatal
// hook.
struct PngSession {
    PngRecovery recovery;
    png_structp png = nullptr;
    png_infop info = nullptr;
    ImageDataWriter* imageData = nullptr;  // -threads: its threads end with the session

    PngSession() = default;
    PngSession(const PngSession&) = delete;
    PngSession& operator=(const PngSession&) = delete;
    ~PngSession() {
        recovery.armed = false;
        destroyImageDataWriter(imageData);
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

// Why a write failed, copied out of the session before it goes.
struct WriteFailure {
    char message[256] = "";
};

// Every frame between the recovery point and a libpng call (the functions
// below) holds plain data only: the jump skips them.
static_assert(std::is_trivially_destructible<PngForm>::value, "the form must be plain data");
static_assert(std::is_trivially_destructible<PngChunkOptions>::value, "chunk options must be plain data");
static_assert(std::is_trivially_destructible<RowProducer>::value, "the row producer must be plain data");
static_assert(std::is_trivially_destructible<ImageDataLayout>::value, "the layout must be plain data");
static_assert(std::is_trivially_destructible<ImageDataOptions>::value, "the writer options must be plain data");
static_assert(std::is_trivially_destructible<ImageDataSink>::value, "the sink must be plain data");
static_assert(std::is_trivially_destructible<WriteFailure>::value, "the failure must be plain data");
static_assert(std::is_trivially_destructible<PreparedImageData>::value, "the prepared data must be plain data");

const png_byte IDAT_NAME[5] = "IDAT";
const png_byte IEND_NAME[5] = "IEND";

const char* const LIBPNG_FAILURE = "setjmp returns error condition (2)";

void createStructures(PngSession* session) {
    session->recovery.program = "rasterpack";
    session->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &session->recovery, reportLibpngError,
                                           reportLibpngWarning);
    if (!session->png) pm_error("cannot allocate main libpng structure (png_ptr)");
    session->info = png_create_info_struct(session->png);
    if (!session->info) pm_error("cannot allocate libpng info structure (info_ptr)");
    // libpng's default cap on width and height is meant for reading untrusted
    // files; any size the PNG format allows can be written.
    png_set_user_limits(session->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
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

// The same rows through the band writer, which sends the stream back as
// IDAT chunks. Its message is copied before the writer goes.
bool writeRowsThroughWriter(PngSession* session, const PngForm* form, const PngChunkOptions* o,
                            const ImageDataLayout* layout, const RowProducer* rows, WriteFailure* failure) {
    ImageDataOptions options;
    options.threads = o->threads;
    options.filter = o->filter;
    options.compression = o->compression;
    options.palette = form->colormapped;
    ImageDataSink sink;
    sink.writeChunk = writeIdatChunk;
    sink.context = session->png;
    sink.failureMessage = LIBPNG_FAILURE;  // as when libpng writes the rows
    const char* error = "";
    session->imageData = startImageDataWriter(layout, &options, sink, &error);
    if (!session->imageData) {
        snprintf(failure->message, sizeof failure->message, "%s", error);
        return false;
    }
    bool ok = true;
    for (int pass = 0; ok && pass < passCount(layout); ++pass) {
        PassGeometry geometry = passGeometry(layout, pass);
        rows->startPass(rows->context);
        for (uint32_t y = 0; ok && y < layout->height; ++y)
            ok = addImageDataRow(session->imageData,
                                 rows->produceRow(rows->context, int(y), passTakesRow(&geometry, y)));
    }
    if (!ok || !finishImageData(session->imageData)) {
        snprintf(failure->message, sizeof failure->message, "%s", imageDataError(session->imageData));
        return false;
    }
    destroyImageDataWriter(session->imageData);
    session->imageData = nullptr;
    return true;
}

// A stream made beforehand, as IDAT chunks of the writers' size.
bool writePreparedData(png_structp png, const PreparedImageData* prepared, WriteFailure* failure) {
    for (size_t at = 0; at < prepared->size; at += IDAT_CHUNK_BYTES) {
        size_t n = prepared->size - at < IDAT_CHUNK_BYTES ? prepared->size - at : IDAT_CHUNK_BYTES;
        if (!writeIdatChunk(png, prepared->data + at, n)) {
            snprintf(failure->message, sizeof failure->message, "%s", LIBPNG_FAILURE);
            return false;
        }
    }
    return true;
}

// All image data, and the end of the file. The one place rows reach libpng.
bool writeImageData(PngSession* session, const PngForm* form, const PngChunkOptions* chunks,
                    const RowProducer* rows, const PreparedImageData* prepared, WriteFailure* failure) {
    png_structp png = session->png;
    ImageDataLayout layout = imageDataLayout(form);
    if (prepared || usesImageDataWriter(chunks->threads)) {
        if (prepared ? !writePreparedData(png, prepared, failure)
                     : !writeRowsThroughWriter(session, form, chunks, &layout, rows, failure))
            return false;
        // png_write_end refuses to end a file whose image data it did not see.
        png_write_chunk(png, IEND_NAME, nullptr, 0);
        return true;
    }
    writeRowsThroughLibpng(png, &layout, rows);
    // Without the info structure libpng writes nothing but IEND here: the
    // text and time chunks went out ahead of the image data.
    png_write_end(png, nullptr);
    return true;
}

bool writeFile(PngSession* session, const PngForm* form, const PngChunkOptions* chunks, const RowProducer* rows,
               const PreparedImageData* prepared, FILE* output, WriteFailure* failure) {
    png_structp png = session->png;
    png_infop info = session->info;
    png_init_io(png, output);
    setFormChunks(png, info, form);
    setOptionChunks(png, info, chunks);
    png_write_info(png, info);
    // Rows below depth 8 come with one sample a byte.
    png_set_packing(png);
    png_set_interlace_handling(png);
    return writeImageData(session, form, chunks, rows, prepared, failure);
}

// The file under the session's recovery point: a libpng error comes back
// here (its line already printed) and ends as false.
bool writeUnderRecovery(PngSession* session, const PngForm* form, const PngChunkOptions* chunks,
                        const RowProducer* rows, const PreparedImageData* prepared, FILE* output,
                        WriteFailure* failure) {
    session->recovery.armed = true;
    if (setjmp(session->recovery.point)) {
        session->recovery.armed = false;
        snprintf(failure->message, sizeof failure->message, "%s", LIBPNG_FAILURE);
        return false;
    }
    bool written = writeFile(session, form, chunks, rows, prepared, output, failure);
    session->recovery.armed = false;
    return written;
}

// The session, start to end; false with the failure's message once it is
// released.
bool writeInSession(const PngForm* form, const PngChunkOptions* chunks, const RowProducer* rows,
                    const PreparedImageData* prepared, FILE* output, WriteFailure* failure) {
    PngSession session;
    createStructures(&session);
    return writeUnderRecovery(&session, form, chunks, rows, prepared, output, failure);
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

void writePng(const PngForm* form, const PngChunkOptions* chunks, const RowProducer* rows,
              const PreparedImageData* prepared, FILE* output) {
    // The session is gone, its writer's threads ended, before the run ends.
    WriteFailure failure;
    if (!writeInSession(form, chunks, rows, prepared, output, &failure)) pm_error("%s", failure.message);
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

uint64_t idatBytes(uint64_t streamSize) {
    const uint64_t CHUNK = 12;  // length, type and checksum
    return streamSize + CHUNK * ((streamSize + IDAT_CHUNK_BYTES - 1) / IDAT_CHUNK_BYTES);
}

}  // namespace rasterpack
