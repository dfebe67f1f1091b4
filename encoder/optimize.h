// The optimising writer: holds the packed image data whole, ranks several
// row-filter plans by compressing a sample of their rows, compresses the
// best one or two whole with the strongest whole-buffer coder, keeps zlib's
// run-length and Huffman-only coding where they win, and hands back the
// smallest stream. It also screens whole images cheaply, so that the caller
// can choose among forms and palette orders of one picture. The default path's own filter and zlib settings are
// always a candidate, so the result is never larger than the default's.
// Memory: the image data, the filtered image data of each plan being
// compressed (one a worker at most) with its compressed stream, and one
// compressor a worker (about 9 MB at the strongest level; the slowest
// level's zopfli pass takes several times a 1 MB block besides).
#ifndef RASTERPACK_OPTIMIZE_H
#define RASTERPACK_OPTIMIZE_H

#include "imagelayout.h"
#include "paletteorders.h"
#include "zlibstream.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

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
const int CODER_PARSED = 3;  // our own optimal-parse coder (parseddeflate.h)

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
    // When the run began, for the delay; left unset, when the trials begin.
    std::chrono::steady_clock::time_point started{};
};

// What won.
struct OptimizeResult {
    int filter = 0;      // 0..4, FILTER_ADAPTIVE, FILTER_TRIAL or FILTER_ENTROPY
    int coder = CODER_ZLIB;
    DeflateChoice deflate;  // for the whole-buffer coder: its level and the window;
                            // for zopfli: its iterations as the level, and the window;
                            // for the optimal parse: its rounds a block as the level
    uint64_t size = 0;   // bytes of the zlib stream
    int trials = 0;
};

struct OptimizeWriter;

OptimizeWriter* startOptimizeWriter(const ImageDataLayout* layout, const OptimizeSettings* settings,
                                    const char** error);
// As addBandRow.
bool addOptimizeRow(OptimizeWriter* writer, const uint8_t* row);
// Runs the trials and hands over the smallest zlib stream.
bool finishOptimizeWriter(OptimizeWriter* writer, OptimizeResult* result, std::vector<uint8_t>* stream);
// Only the default output's own trial: what the default would write.
bool finishWithDefaultTrial(OptimizeWriter* writer, OptimizeResult* result, std::vector<uint8_t>* stream);
const char* optimizeWriterError(const OptimizeWriter* writer);
void destroyOptimizeWriter(OptimizeWriter* writer);

// --- choosing among several images (forms, palette orders) of one picture ---

// Bytes of the filtered image data (filter bytes included) once every row is in.
uint64_t optimizeFilteredBytes(const OptimizeWriter* writer);
// One block of rows in how many that ranking samples, for that much data.
size_t sampleStepFor(uint64_t filteredBytes);
// The smallest deflated size of the sampled rows (one block in sampleStep)
// under a few cheap plans at the ranking's level: images of one picture
// screened with one step are compared on the same pixels.
bool screenOptimizeImage(OptimizeWriter* writer, size_t sampleStep, uint64_t* size);
// How often each palette index occurs, and where first (a palette image).
IndexUse paletteIndexUse(const OptimizeWriter* writer, size_t entries);
// A new writer holding the same palette image with its indexes rewritten
// under order (order[i]: the old index that becomes i). Null with *error set
// when the memory is not there.
OptimizeWriter* reorderedOptimizeWriter(const OptimizeWriter* writer, const PaletteOrder& order, const char** error);

// Name of a filter plan for messages.
const char* filterPlanName(int filter);
// The coder and its settings for messages, e.g. "zlib level 9, strategy
// filtered, memory level 9, window 15 bits".
std::string describeCoder(const OptimizeResult* result);

}  // namespace rasterpack

#endif
