// rasterpack's one contact with libpng's write side: the structures, the
// recovery point and every call that sets or writes a chunk or a row. It is
// fed plain records (the decided form, the chunk options, a producer of
// rows) and an output stream, and owns its libpng session for the one call,
// so no other encoder file runs under a recovery point. With -threads the
// rows go to the image data writer instead of libpng, and its stream comes
// back here as IDAT chunks, each written under a recovery point of its own,
// so no jump crosses the writer's frames; -optimize hands over its stream
// whole, written the same way.
#ifndef RASTERPACK_PNGWRITER_H
#define RASTERPACK_PNGWRITER_H

#include "commentfile.h"
#include "form.h"
#include "imagelayout.h"

#include <png.h>

#include <cstdint>
#include <cstdio>

namespace rasterpack {

// The ancillary chunks the options ask for, besides those of the form, and
// how the image data is filtered and compressed.
struct PngChunkOptions {
    bool hasGamma = false;
    float gamma = 0;
    bool hasChroma = false;
    float chroma[8] = {};  // white x, y, red x, y, green x, y, blue x, y
    bool hasPhys = false;
    uint32_t physX = 0, physY = 0;
    int physUnit = 0;
    bool hasTime = false;
    png_time time = {};
    const CommentList* comments = nullptr;  // null: no text chunks
    int filter = -1;       // 0..4, or libpng's own choice
    int compression = -1;  // 0..9, or libpng's default
    // The image data: libpng's row writer, or the band writer on several threads.
    int threads = 1;  // 0: one per available core
};

// A zlib stream of the image data made beforehand (-optimize's winner).
struct PreparedImageData {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The image data, row by row: every pass reads every row again, and a row
// the pass leaves out is read but need not be encoded.
struct RowProducer {
    void* context = nullptr;
    void (*startPass)(void* context) = nullptr;
    // Row y in the form's colour type and depth, one sample per byte below
    // depth 8; encode is false for a row the pass leaves out.
    const uint8_t* (*produceRow)(void* context, int y, bool encode) = nullptr;
};

// Writes the PNG to output: the form's and the options' chunks, then every
// row of every pass from rows. A libpng failure ends the run with
// "setjmp returns error condition (2)" after libpng's own line, a failure of
// the image data writer with its message. libpng's structures and the
// writer's threads are released however the run ends. With prepared (not
// null) its stream is the image data and rows is not read.
void writePng(const PngForm* form, const PngChunkOptions* chunks, const RowProducer* rows,
              const PreparedImageData* prepared, FILE* output);

// The layout of the form's image data.
ImageDataLayout imageDataLayout(const PngForm* form);

// Bytes of the IDAT chunks holding a stream of this size.
uint64_t idatBytes(uint64_t streamSize);

// The image data writer's sink (context: the write structure): one IDAT
// chunk. A libpng error while it runs ends as false, its line printed; the
// caller's recovery point and the program's handlers are in force again
// afterwards.
bool writeIdatChunk(void* context, const uint8_t* data, size_t size);

}  // namespace rasterpack

#endif
