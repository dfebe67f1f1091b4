#include "zlibstream.h"

#include <zlib.h>

#include <algorithm>

namespace rasterpack {

int windowBitsFor(uint64_t size) {
    // deflate keeps its look-ahead (262 bytes) inside the window, so a
    // window reaches back over size bytes only when it holds that much more.
    const uint64_t LOOKAHEAD = 262;
    int bits = 9;  // zlib's deflate takes no smaller window
    while (bits < 15 && (uint64_t(1) << bits) < size + LOOKAHEAD) ++bits;
    return bits;
}

void zlibStreamHeader(const DeflateChoice* choice, uint8_t out[2]) {
    unsigned cmf = unsigned(Z_DEFLATED) | unsigned(choice->windowBits - 8) << 4;
    // The level hint as zlib itself writes it.
    unsigned levelHint = choice->level == Z_DEFAULT_COMPRESSION ? 2
                         : choice->level < 2                   ? 0
                         : choice->level < 6                   ? 1
                         : choice->level == 6                  ? 2
                                                               : 3;
    if (choice->strategy >= Z_HUFFMAN_ONLY) levelHint = 0;
    unsigned flg = levelHint << 6;
    flg += 31 - (cmf * 256 + flg) % 31;
    out[0] = static_cast<uint8_t>(cmf);
    out[1] = static_cast<uint8_t>(flg);
}

bool putStreamBytes(ChunkedOutput* out, const uint8_t* data, size_t size) {
    while (size > 0 && !out->failed) {
        size_t room = IDAT_CHUNK_BYTES - out->pending.size();
        size_t take = std::min(room, size);
        out->pending.insert(out->pending.end(), data, data + take);
        data += take;
        size -= take;
        if (out->pending.size() == IDAT_CHUNK_BYTES) flushStreamBytes(out);
    }
    return !out->failed;
}

bool flushStreamBytes(ChunkedOutput* out) {
    if (out->failed) return false;
    if (out->pending.empty()) return true;
    if (!out->sink.writeChunk(out->sink.context, out->pending.data(), out->pending.size())) out->failed = true;
    out->pending.clear();
    return !out->failed;
}

const char* strategyName(int strategy) {
    switch (strategy) {
    case Z_FILTERED: return "filtered";
    case Z_HUFFMAN_ONLY: return "Huffman only";
    case Z_RLE: return "RLE";
    case Z_FIXED: return "fixed";
    default: return "default";
    }
}

}  // namespace rasterpack
