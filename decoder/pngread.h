// rasterunpack's side of libpng: the read structures, the recovery point,
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

// A whole decoded image and what was decided for it. Plain data.
struct DecodedPng {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngRecovery recovery;  // libpng's error pointer
    FILE* input = nullptr;
    HeaderFacts facts;
    DecodePlan plan;
    size_t rowBytes = 0;
    uint8_t** rows = nullptr;  // facts.height rows of rowBytes bytes, the samples as stored

    // The -text collection: what the dump may still take, and a decoded text
    // on its way into libpng's list.
    size_t textBytesLeft = 0;
    int textChunksLeft = 0;
    bool textChunksCut = false;  // the warning about their number was given
    char* pendingText = nullptr;
    // The last four bytes read: a chunk's CRC when the text callback runs.
    uint8_t lastRead[4] = {};
};

// Reads the PNG on input whole: signature, header, decisions (their reports
// included), image data and the chunks after it. Every failure ends the run
// with its message; a libpng error after the structures exist comes back to
// the recovery point and ends it there.
void decodePng(FILE* input, const DecoderSettings& settings, DecodedPng* decoded);

// The tIME chunk, or null when the file had none.
const png_time* modificationTime(const DecodedPng& decoded);
// The text chunks from both sides of the image data, in file order; only
// with -text (without it they are skipped unread).
int textChunks(const DecodedPng& decoded, png_text** texts);

// Frees the rows and libpng's structures.
void releaseDecodedPng(DecodedPng* decoded);

// Releases the decoded image, closes the input and ends the run with message.
[[noreturn]] void abandonDecodedPng(DecodedPng* decoded, const char* message);

#endif
