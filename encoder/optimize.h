// The optimising writer: holds the packed image data whole, ranks several
// row-filter plans by compressing a sample of their rows, compresses the
// best one or two whole with the strongest whole-buffer coder, keeps zlib's
// run-length and Huffman-only coding where they win, and writes the
// smallest stream. The default path's own filter and zlib settings are
// always a candidate, so the result is never larger than the default's.
// Memory: the image data, the filtered image data of each plan being
// compressed (one a worker at most) with its compressed stream, and one
// compressor a worker (about 9 MB at the strongest level; the slowest
// level's zopfli pass takes several times a 1 MB block besides).
#ifndef RASTERPACK_OPTIMIZE_H
#define RASTERPACK_OPTIMIZE_H

#include "imagelayout.h"
#include "zlibstream.h"

#include <cstdint>
#include <string>

namespace rasterpack {

// Filter plans beyond the five single types and FILTER_ADAPTIVE: each row
// takes the type whose output compresses smallest after the rows chosen
// before it (FILTER_TRIAL), or whose output has the least entropy
// (FILTER_ENTROPY).
const int FILTER_TRIAL = 6;
const int FILTER_ENTROPY = 7;

// Which coder wrote a stream.
const int CODER_ZLIB = 0;
const int CODER_WHOLE = 1;   // whole-buffer deflate (libdeflate)
const int CODER_ZOPFLI = 2;  // the slowest level's exhaustive pass

struct OptimizeSettings {
    int threads = 1;
    int filter = -1;     // -1: try every plan; else the one plan to keep (0..4, FILTER_ADAPTIVE)
    int level = -1;      // -1: the coders' best; else the zlib level to keep
    bool palette = false;  // palette images try the unfiltered plan first
    bool exhaustive = false;  // a zopfli pass on the winner (-optimizemax)
    // What the default output would use: it is always a candidate, so the
    // result is never larger than the default's.
    unsigned defaultFilterTypes = 1;  // the types its rows choose from (rowfilter.h)
    DeflateChoice defaultDeflate;
    // Progress lines (for -verbose) once the run has taken progressDelay
    // seconds, then at most one a second; null for none. Called from any
    // worker, one call at a time.
    void (*progress)(void* context, const char* line) = nullptr;
    void* progressContext = nullptr;
    double progressDelay = 1.0;
};

// What won.
struct OptimizeResult {
    int filter = 0;      // 0..4, FILTER_ADAPTIVE, FILTER_TRIAL or FILTER_ENTROPY
    int coder = CODER_ZLIB;
    DeflateChoice deflate;  // for the whole-buffer coder: its level and the window;
                            // for zopfli: its iterations as the level, and the window
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
// The coder and its settings for messages, e.g. "zlib level 9, strategy
// filtered, memory level 9, window 15 bits".
std::string describeCoder(const OptimizeResult* result);

}  // namespace rasterpack

#endif
