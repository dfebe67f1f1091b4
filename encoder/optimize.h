// The optimising writer: holds the packed image data whole, tries several
// row-filter plans and zlib settings on worker threads and writes the
// smallest stream. Trials stop as soon as they pass the best size so far.
#ifndef RASTERPACK_OPTIMIZE_H
#define RASTERPACK_OPTIMIZE_H

#include "imagelayout.h"
#include "zlibstream.h"

#include <cstdint>

namespace rasterpack {

// Filter plans beyond the five single types and FILTER_ADAPTIVE: each row
// takes the type whose output compresses smallest after the row above.
const int FILTER_TRIAL = 6;

struct OptimizeSettings {
    int threads = 1;
    int filter = -1;     // -1: try every plan; else the one plan to keep (0..4, FILTER_ADAPTIVE)
    int level = -1;      // -1: 9; else the zlib level to keep
    bool palette = false;  // palette images try the unfiltered plan first
    // What the default output would use (its plan is among those tried): it
    // is always a candidate, so the result is never larger than the default's.
    unsigned defaultFilterTypes = 1;  // the types its rows choose from (rowfilter.h)
    DeflateChoice defaultDeflate;
};

// What won.
struct OptimizeResult {
    int filter = 0;      // 0..4, FILTER_ADAPTIVE or FILTER_TRIAL
    DeflateChoice deflate;
    uint64_t size = 0;   // bytes of the zlib stream
    int trials = 0;
};

struct OptimizeWriter;

OptimizeWriter* startOptimizeWriter(const ImageDataLayout* layout, const OptimizeSettings* settings,
                                    ImageDataSink sink, const char** error);
// As addBandRow.
bool addOptimizeRow(OptimizeWriter* writer, const uint8_t* row);
// Runs the trials and writes the winner.
bool finishOptimizeWriter(OptimizeWriter* writer, OptimizeResult* result);
const char* optimizeWriterError(const OptimizeWriter* writer);
void destroyOptimizeWriter(OptimizeWriter* writer);

// Name of a filter plan for messages.
const char* filterPlanName(int filter);

}  // namespace rasterpack

#endif
