#include "textchunks.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace rasterunpack {

namespace {

const size_t MAX_KEYWORD = 79;

// The index of the first NUL at or after from, or size.
size_t stringEnd(const uint8_t* data, size_t from, size_t size) {
    size_t end = from;
    while (end < size && data[end] != 0) ++end;
    return end;
}

// Copies n bytes and a NUL to buffer + *at and moves *at past them.
char* putString(char* buffer, size_t* at, const uint8_t* from, size_t n) {
    char* start = buffer + *at;
    if (n > 0) memcpy(start, from, n);
    start[n] = '\0';
    *at += n + 1;
    return start;
}

// Runs the zlib stream in[0..size) through inflate: into out, which has room
// bytes, or with out null into a scratch area, only counting. *produced is
// the output so far; beyond limit bytes the stream is given up.
TextChunkOutcome runInflate(const uint8_t* in, size_t size, size_t limit, char* out, size_t room, size_t* produced) {
    *produced = 0;
    if (size > UINT_MAX) return TEXT_DAMAGED;  // a chunk holds at most 2^31 - 1 bytes
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return TEXT_NO_MEMORY;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = uInt(size);
    Bytef scratch[16384];
    size_t total = 0;
    TextChunkOutcome outcome = TEXT_DAMAGED;
    for (;;) {
        z.next_out = out ? reinterpret_cast<Bytef*>(out) + total : scratch;
        z.avail_out = out ? uInt(std::min<size_t>(room - total, UINT_MAX)) : uInt(sizeof scratch);
        uInt before = z.avail_out;
        int status = inflate(&z, Z_NO_FLUSH);
        total += before - z.avail_out;
        if (total > limit) {
            outcome = TEXT_OVER_BUDGET;
            break;
        }
        if (status == Z_STREAM_END) {
            outcome = TEXT_KEPT;
            break;
        }
        if (status == Z_MEM_ERROR) outcome = TEXT_NO_MEMORY;
        // Anything else but progress: damaged data, or data that ends early.
        if (status != Z_OK) break;
    }
    inflateEnd(&z);
    *produced = total;
    return outcome;
}

// Where a text chunk's strings lie: the keyword and what follows it, then
// the text, a zlib stream or raw bytes.
struct TextLayout {
    const uint8_t* strings[3];
    size_t lengths[3];
    int stringCount;
    const uint8_t* text;
    size_t textSize;
    bool compressed;
};

// Copies the strings, each with a NUL, into one buffer, the text (inflated)
// last; fields gets where each starts. Measures first, so that nothing
// beyond budget is inflated or allocated.
TextChunkOutcome assemble(const TextLayout& l, size_t budget, DecodedText* out, char* fields[4]) {
    size_t textLength = l.textSize;
    if (l.compressed) {
        TextChunkOutcome counted = runInflate(l.text, l.textSize, budget, nullptr, 0, &textLength);
        if (counted != TEXT_KEPT) return counted;
    } else if (textLength > budget) {
        return TEXT_OVER_BUDGET;
    }
    size_t bytes = textLength + 1;
    for (int i = 0; i < l.stringCount; ++i) bytes += l.lengths[i] + 1;
    char* buffer = static_cast<char*>(malloc(bytes));
    if (!buffer) return TEXT_NO_MEMORY;
    size_t at = 0;
    for (int i = 0; i < l.stringCount; ++i) fields[i] = putString(buffer, &at, l.strings[i], l.lengths[i]);
    char* text = buffer + at;
    if (l.compressed) {
        size_t again = 0;
        if (runInflate(l.text, l.textSize, textLength, text, textLength + 1, &again) != TEXT_KEPT ||
            again != textLength) {
            free(buffer);
            return TEXT_DAMAGED;
        }
        text[textLength] = '\0';
    } else {
        putString(buffer, &at, l.text, textLength);
    }
    fields[l.stringCount] = text;
    out->buffer = buffer;
    out->length = textLength;
    return TEXT_KEPT;
}

// tEXt: keyword, NUL, text; without a NUL the whole chunk is the keyword.
TextChunkOutcome decodePlain(const uint8_t* data, size_t size, size_t keyEnd, size_t budget, DecodedText* out) {
    size_t textStart = keyEnd < size ? keyEnd + 1 : size;
    TextLayout l = {{data}, {keyEnd}, 1, data + textStart, size - textStart, false};
    char* fields[4] = {};
    TextChunkOutcome outcome = assemble(l, budget, out, fields);
    if (outcome != TEXT_KEPT) return outcome;
    out->entry.compression = PNG_TEXT_COMPRESSION_NONE;
    out->entry.key = fields[0];
    out->entry.text = fields[1];
    out->entry.text_length = strlen(fields[1]);
    return TEXT_KEPT;
}

// zTXt: keyword, NUL, compression method 0, zlib stream.
TextChunkOutcome decodeCompressed(const uint8_t* data, size_t size, size_t keyEnd, size_t budget,
                                  DecodedText* out) {
    if (keyEnd + 3 > size) return TEXT_TRUNCATED;
    if (data[keyEnd + 1] != 0) return TEXT_UNKNOWN_COMPRESSION;
    TextLayout l = {{data}, {keyEnd}, 1, data + keyEnd + 2, size - keyEnd - 2, true};
    char* fields[4] = {};
    TextChunkOutcome outcome = assemble(l, budget, out, fields);
    if (outcome != TEXT_KEPT) return outcome;
    out->entry.compression = PNG_TEXT_COMPRESSION_zTXt;
    out->entry.key = fields[0];
    out->entry.text = fields[1];
    out->entry.text_length = strlen(fields[1]);
    return TEXT_KEPT;
}

// iTXt: keyword, NUL, compression flag, method, language, NUL, translated
// keyword, NUL, text (a zlib stream when the flag is 1).
TextChunkOutcome decodeInternational(const uint8_t* data, size_t size, size_t keyEnd, size_t budget,
                                     DecodedText* out) {
    if (keyEnd + 5 > size) return TEXT_TRUNCATED;
    uint8_t flag = data[keyEnd + 1], method = data[keyEnd + 2];
    if (!(flag == 0 || (flag == 1 && method == 0))) return TEXT_UNKNOWN_COMPRESSION;
    size_t languageStart = keyEnd + 3;
    size_t languageEnd = stringEnd(data, languageStart, size);
    size_t translatedStart = languageEnd + 1;
    size_t translatedEnd = stringEnd(data, translatedStart, size);
    size_t textStart = translatedEnd + 1;
    // A compressed text needs at least a byte of stream; a plain one may be empty.
    if (flag == 1 ? textStart >= size : textStart > size) return TEXT_TRUNCATED;
    TextLayout l = {{data, data + languageStart, data + translatedStart},
                    {keyEnd, languageEnd - languageStart, translatedEnd - translatedStart},
                    3,
                    data + textStart,
                    size - textStart,
                    flag == 1};
    char* fields[4] = {};
    TextChunkOutcome outcome = assemble(l, budget, out, fields);
    if (outcome != TEXT_KEPT) return outcome;
    out->entry.compression = flag == 1 ? PNG_ITXT_COMPRESSION_zTXt : PNG_ITXT_COMPRESSION_NONE;
    out->entry.key = fields[0];
    out->entry.lang = fields[1];
    out->entry.lang_key = fields[2];
    out->entry.text = fields[3];
    out->entry.itxt_length = strlen(fields[3]);
    return TEXT_KEPT;
}

}  // namespace

bool isTextChunk(const char* type) {
    return strcmp(type, "tEXt") == 0 || strcmp(type, "zTXt") == 0 || strcmp(type, "iTXt") == 0;
}

TextChunkOutcome decodeTextChunk(const char* type, const uint8_t* data, size_t size, size_t budget,
                                 DecodedText* out) {
    *out = DecodedText{};
    size_t keyEnd = stringEnd(data, 0, size);
    if (strcmp(type, "tEXt") == 0) return decodePlain(data, size, keyEnd, budget, out);
    if (keyEnd < 1 || keyEnd > MAX_KEYWORD) return TEXT_BAD_KEYWORD;
    if (strcmp(type, "zTXt") == 0) return decodeCompressed(data, size, keyEnd, budget, out);
    if (strcmp(type, "iTXt") == 0) return decodeInternational(data, size, keyEnd, budget, out);
    return TEXT_UNKNOWN_COMPRESSION;
}

const char* textOutcomeReason(TextChunkOutcome outcome) {
    switch (outcome) {
        case TEXT_KEPT: return "kept";
        case TEXT_BAD_KEYWORD: return "bad keyword";
        case TEXT_TRUNCATED: return "truncated";
        case TEXT_UNKNOWN_COMPRESSION: return "unknown compression method";
        case TEXT_DAMAGED: return "damaged compressed text";
        case TEXT_OVER_BUDGET: return "the text chunks would hold more than 64 MiB";
        case TEXT_NO_MEMORY: return "out of memory";
    }
    return "";
}

}  // namespace rasterunpack
