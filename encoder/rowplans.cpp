#include "rowplans.h"

#include "rowfilter.h"

#include <cmath>
#include <cstring>

namespace rasterpack {

namespace {

// Bytes of the rows already chosen that a trial keeps in front of the
// candidate row: enough for the matches that reach back a row or two.
const size_t CONTEXT_BYTES = 8192;

}  // namespace

double histogramBits(const uint32_t counts[256], size_t count) {
    if (count == 0) return 0;
    double bits = 0;
    const double total = double(count);
    for (int v = 0; v < 256; ++v)
        if (counts[v] != 0) bits -= double(counts[v]) * std::log2(double(counts[v]) / total);
    return bits;
}

int chooseEntropyFilter(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
                        std::vector<uint8_t>* scratch) {
    scratch->resize(length + 1);
    int best = 0;
    double bestBits = 0;
    for (int type = 0; type < ROW_FILTER_TYPES; ++type) {
        filterRow(type, row, previous, length, stride, scratch->data());
        uint32_t counts[256] = {};
        for (size_t i = 1; i <= length; ++i) ++counts[(*scratch)[i]];
        double bits = histogramBits(counts, length);
        if (type == 0 || bits < bestBits) {
            bestBits = bits;
            best = type;
        }
    }
    return best;
}

TrialRowPlanner::TrialRowPlanner(int level) : deflater_(level) {}

void TrialRowPlanner::restart() { context_.clear(); }

int TrialRowPlanner::choose(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride) {
    const size_t kept = context_.size();
    trial_.resize(kept + length + 1);
    if (kept > 0) memcpy(trial_.data(), context_.data(), kept);
    int best = 0;
    size_t bestSize = 0;
    for (int type = 0; type < ROW_FILTER_TYPES; ++type) {
        filterRow(type, row, previous, length, stride, trial_.data() + kept);
        size_t size = deflater_.deflatedSize(trial_.data(), trial_.size());
        if (type == 0 || size < bestSize) {
            bestSize = size;
            best = type;
        }
    }
    // The chosen row joins the context; the context keeps its last bytes.
    filterRow(best, row, previous, length, stride, trial_.data() + kept);
    size_t keep = trial_.size() < CONTEXT_BYTES ? trial_.size() : CONTEXT_BYTES;
    context_.assign(trial_.end() - keep, trial_.end());
    return best;
}

}  // namespace rasterpack
