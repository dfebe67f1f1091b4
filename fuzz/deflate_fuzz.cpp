// Fuzzes the optimal-parse deflate coder directly. The first byte picks the
// effort (search depth, pricing rounds, cut passes); the rest is the data.
// The coder drops a stream that fails its own inflate check, which would
// hide a fault from the whole-program harness: here an empty stream traps.
#include "../encoder/parseddeflate.h"

#include <zlib.h>

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint8_t pick = data[0];
    rasterpack::ParseEffort effort;
    effort.maxDepth = (pick & 3) == 0 ? 1 : 16 << (pick & 3);
    effort.spanRounds = (pick >> 2) & 3;
    effort.blockRounds = 1 + ((pick >> 4) & 3);
    effort.cutPasses = 1 + (pick >> 6);
    std::vector<uint8_t> stream;
    rasterpack::parsedZlibStream(data + 1, size - 1, 15, effort, 1 + (pick & 1), &stream);
    if (stream.empty()) __builtin_trap();
    // The check inside compared the bytes; the stream must also declare its size in full.
    std::vector<uint8_t> back(size);
    uLongf length = uLongf(back.size());
    if (uncompress(back.data(), &length, stream.data(), uLong(stream.size())) != Z_OK || length != size - 1)
        __builtin_trap();
    return 0;
}
