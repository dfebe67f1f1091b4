// Per-row filter choices for -optimize, beside the adaptive one (least sum
// of absolute values, rowfilter.h): the least entropy of the filtered
// bytes, and trial compression of each type after the rows already chosen.
#ifndef RASTERPACK_ROWPLANS_H
#define RASTERPACK_ROWPLANS_H

#include "wholedeflate.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rasterpack {

// The type whose filtered row has the least Shannon entropy of its byte
// values (counted over the row alone); ties go to the lower type. scratch
// holds a filtered row between calls.
int chooseEntropyFilter(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
                        std::vector<uint8_t>* scratch);

// Entropy in bits of a histogram of count bytes (the sum of the counts).
double histogramBits(const uint32_t counts[256], size_t count);

// Chooses row after row the type whose filtered row, appended to the
// filtered rows chosen so far (the last CONTEXT bytes of them), deflates
// smallest: the cost of a row in the company it will keep in the stream.
// One planner serves one run of consecutive rows on one thread.
class TrialRowPlanner {
public:
    // Throws std::bad_alloc.
    explicit TrialRowPlanner(int level);
    // Forgets the rows chosen so far (a new run of rows).
    void restart();
    // The type for row, previous being the unfiltered row above (or null).
    int choose(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride);

private:
    WholeDeflater deflater_;
    std::vector<uint8_t> context_;  // the last filtered rows chosen, filter bytes included
    std::vector<uint8_t> trial_;
};

}  // namespace rasterpack

#endif
