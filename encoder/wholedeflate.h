// Whole-buffer deflate coders for -optimize, beside zlib's streaming one:
// libdeflate's levels up to its near-optimal parse (12), which zlib's level
// 9 cannot match on filtered image data, and zopfli's exhaustive search for
// the slowest level. Neither streams: the whole filtered image goes in at
// once and a call cannot be stopped. Only the optimising writer uses them;
// the default path stays with libpng and zlib.
#ifndef RASTERPACK_WHOLEDEFLATE_H
#define RASTERPACK_WHOLEDEFLATE_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;

namespace rasterpack {

// The strongest level and the one that ranks filter plans: fast, and its
// sizes follow the strongest level's closely.
const int WHOLE_DEFLATE_BEST_LEVEL = 12;

// One compressor at one level, reused call after call by one thread.
// Memory: about 200 kB at level 1, 650 kB at levels 2 to 9 and 8.8 MB at
// levels 10 to 12, plus the output buffer.
class WholeDeflater {
public:
    // Throws std::bad_alloc when the compressor cannot be had.
    explicit WholeDeflater(int level);
    ~WholeDeflater();
    WholeDeflater(const WholeDeflater&) = delete;
    WholeDeflater& operator=(const WholeDeflater&) = delete;

    int level() const { return level_; }
    // Bytes of the raw deflate data for these bytes (a plan's score).
    size_t deflatedSize(const uint8_t* data, size_t size);
    // A complete zlib stream of data into *out: header declaring a window of
    // windowBits (9..15; large enough for size bytes), deflate data, adler32.
    void zlibStream(const uint8_t* data, size_t size, int windowBits, std::vector<uint8_t>* out);

private:
    libdeflate_compressor* compressor_ = nullptr;
    int level_ = 0;
    std::vector<uint8_t> scratch_;
};

// As zlibStream by zopfli with this many iterations; its memory grows with
// the input (several times a 1 MB block at a time).
void zopfliZlibStream(const uint8_t* data, size_t size, int windowBits, int iterations, std::vector<uint8_t>* out);

// Rewrites a zlib header to declare a window of windowBits, keeping its
// level hint: the whole-buffer coders always declare 32 KB, but a shorter
// stream never reaches back that far, and a smaller window costs the
// decoder less.
void declareZlibWindow(uint8_t header[2], int windowBits);

// The smallest window (9..15 bits) that a stream of size bytes can declare:
// no distance reaches back past the start of the data.
int smallestWindowBits(uint64_t size);

}  // namespace rasterpack

#endif
