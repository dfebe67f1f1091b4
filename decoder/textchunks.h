// rasterunpack's reading of text chunks for the -text dump: the keyword and
// text of a tEXt, zTXt or iTXt chunk from its data, compressed text inflated
// only as far as the dump still has room for.
#ifndef RASTERUNPACK_TEXTCHUNKS_H
#define RASTERUNPACK_TEXTCHUNKS_H

#include <png.h>

#include <cstddef>
#include <cstdint>

namespace rasterunpack {

// The most text the dump takes from one PNG, all chunks together, and the
// most chunks: a few hundred kilobytes of zTXt can inflate to gigabytes.
const size_t MAX_TEXT_BYTES = size_t(64) << 20;
const int MAX_TEXT_CHUNKS = 1000;

enum TextChunkOutcome {
    TEXT_KEPT,
    TEXT_BAD_KEYWORD,
    TEXT_TRUNCATED,
    TEXT_UNKNOWN_COMPRESSION,
    TEXT_DAMAGED,
    TEXT_OVER_BUDGET,
    TEXT_NO_MEMORY
};

// One decoded chunk: entry's strings point into buffer, which the caller
// frees. length is the text's byte count as the chunk holds it (inflated).
struct DecodedText {
    png_text entry;
    char* buffer;
    size_t length;
};

// True for "tEXt", "zTXt" and "iTXt".
bool isTextChunk(const char* type);

// Decodes the data of the text chunk of that type. A text of more than
// budget bytes is not kept (and not inflated past budget): TEXT_OVER_BUDGET.
// Keywords are checked as libpng checks them: 1 to 79 bytes in zTXt and
// iTXt, anything in tEXt.
TextChunkOutcome decodeTextChunk(const char* type, const uint8_t* data, size_t size, size_t budget,
                                 DecodedText* out);

// Why a chunk was not kept, for the warning.
const char* textOutcomeReason(TextChunkOutcome outcome);

}  // namespace rasterunpack

#endif
