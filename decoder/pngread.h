// rasterunpack's side of libpng: the read session with its recovery point,
// and the decoding of the whole image into memory, its samples as stored.
#ifndef RASTERUNPACK_PNGREAD_H
#define RASTERUNPACK_PNGREAD_H

#include "commandline.h"
#include "decisions.h"

#include <png.h>
#include <pngrecovery.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace rasterunpack {

// One read's libpng structures, the recovery point they report to, and what
// the reading callbacks keep. Plain data: a libpng error jumps across the
// frames that work on it.
struct PngReadSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngRecovery recovery;  // libpng's error pointer
    FILE* input = nullptr;

    // The -text collection: what the dump may still take, and a decoded text
    // on its way into libpng's list.
    size_t textBytesLeft = 0;
    int textChunksLeft = 0;
    bool textChunksCut = false;  // the warning about their number was given
    char* pendingText = nullptr;
    // The last four bytes read: a chunk's CRC when the text callback runs.
    uint8_t lastRead[4] = {};
};

// The decoded rows, the samples as stored: count pointers from calloc, each
// to a row of at least bytes bytes, or null for a row the data never reached.
struct StoredRows {
    uint8_t** rows = nullptr;
    uint32_t count = 0;
    size_t bytes = 0;
};

// A whole decoded PNG and what was decided for it. It owns the session's
// libpng structures (which keep the tIME and text chunks for the reports) and
// the rows, and releases them when it goes, also when a fatal line unwinds
// through its owner. It stays where it was made: libpng points into it.
struct PngImage {
    PngReadSession session;
    HeaderFacts facts;
    DecodePlan plan;
    StoredRows rows;

    PngImage() = default;
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
    ~PngImage();
};

// Reads the PNG on input whole into image: signature, header, decisions
// (their reports included), image data and the chunks after it. Every
// failure ends the run with its message; a libpng error comes back to the
// session's recovery point and ends it there. The input stays open.
void readPngImage(FILE* input, const DecoderSettings& settings, PngImage* image);

// The tIME chunk, or null when the file had none.
const png_time* modificationTime(const PngImage& image);
// The text chunks from both sides of the image data, in file order; only
// with -text (without it they are skipped unread).
int textChunks(const PngImage& image, png_text** texts);

}  // namespace rasterunpack

#endif
