// The optimal-parse coder of -optimize: a zlib stream whose matches are
// chosen by the cheapest path through every position's candidates, priced
// by the code the previous path would get, and whose blocks end where a
// new code pays for its header. It spends more time than the whole-buffer
// levels to find the last few percent on screenshots and diagrams, where
// long repeats make the choice between matches matter most.
#ifndef RASTERPACK_PARSEDDEFLATE_H
#define RASTERPACK_PARSEDDEFLATE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rasterpack {

struct ParseEffort {
    int spanRounds = 2;    // pricing rounds on a whole span, before it is cut into blocks
    int blockRounds = 4;   // pricing rounds on each block
    int maxDepth = 1000;   // earlier positions each position's match search visits
    int cutPasses = 1;     // times a span is cut into blocks and priced again
};

// A complete zlib stream of data into *out, its header declaring windowBits
// (the caller's to choose: the stream never reaches back past the data's
// start). Spans of 1 MiB are parsed up to threads at a time; the stream
// does not depend on the number. Memory: the stream, and for each span
// being parsed about 40 bytes a byte (130 at most, when every position has
// many matches). The stream is inflated again before it is handed over;
// should it not give back the data, or the data be over 2 GiB, *out is
// left empty. Throws std::bad_alloc.
void parsedZlibStream(const uint8_t* data, size_t size, int windowBits, const ParseEffort& effort, int threads,
                      std::vector<uint8_t>* out);

}  // namespace rasterpack

#endif
