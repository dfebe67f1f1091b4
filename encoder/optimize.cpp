#include "optimize.h"

#include "parseddeflate.h"
#include "rowfilter.h"
#include "rowplans.h"
#include "wholedeflate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace rasterpack {

namespace {

// Ranking compresses one block of rows in every few, about this much of the
// data, spread over the image, at a fast whole-buffer level.
const uint64_t SAMPLE_BYTES = uint64_t(1) << 19;
const size_t BLOCK_ROWS = 32;
const uint64_t SAMPLE_MAX_STEP = 8;
const int RANK_LEVEL = 6;
// The runner-up is compressed whole too when its sample is this close to the best's.
const double FINALIST_MARGIN = 1.02;
const int TRIAL_ROW_LEVEL = 3;          // scores each row's types in the per-row trial plan
const size_t FEED_BYTES = 65536;        // filtered bytes handed to zlib at a time
const size_t ROWS_A_TASK = 64;          // rows one planning task takes on
const size_t ZLIB_SLICE = size_t(1) << 30;
// The exhaustive pass: fewer iterations on large data, where each costs most
// and gains least.
const int ZOPFLI_ITERATIONS = 15;
const int ZOPFLI_ITERATIONS_LARGE = 5;
const uint64_t ZOPFLI_LARGE_BYTES = uint64_t(1) << 18;
// On a sample it must beat the strongest whole-buffer level by this much to
// go on: below it, the whole image often turns the other way.
const double ZOPFLI_SAMPLE_GAIN = 0.99;
// The optimal parse pays on data that compresses well (screenshots,
// diagrams, plots, icons); on photographs, which keep more than this share
// of their bytes, the whole-buffer level matches it for a fraction of the
// time.
const double PARSED_MAX_RATIO = 0.3;

using Clock = std::chrono::steady_clock;

struct StoredRow {
    size_t offset;
    size_t length;
    uint32_t pixels;  // for rewriting palette indexes packed below 8 bits
    bool firstOfPass;
};

struct FilterPlan {
    int filter = 0;               // 0..4, FILTER_ADAPTIVE, FILTER_TRIAL or FILTER_ENTROPY
    unsigned adaptiveTypes = ALL_FILTER_TYPES;  // what FILTER_ADAPTIVE chooses from
    std::vector<uint8_t> types;   // a type for each row; empty for a single type
    // FILTER_TRIAL: whether each block's types are chosen yet (bytes, not
    // bits: workers set the flags of different blocks at once)
    std::vector<uint8_t> planned;
    uint64_t sampleSize = UINT64_MAX;  // the ranking's score
};

struct Trial {
    size_t plan = 0;
    int coder = CODER_ZLIB;
    DeflateChoice deflate;
    bool sampleOnly = false;     // compresses the sampled blocks only, to screen; its stream is dropped
    uint64_t size = UINT64_MAX;  // once finished; stays so when stopped early
};

}  // namespace

struct OptimizeWriter {
    ImageDataLayout layout;
    OptimizeSettings settings;
    size_t stride = 1;
    RowCursor cursor;
    std::vector<uint8_t> image;
    std::vector<StoredRow> rows;
    size_t widestRow = 0;
    uint64_t filteredBytes = 0;  // the image data with filter bytes
    int windowBits = 15;         // declared in every stream: the data fits in it
    int zlibWindowBits = 15;     // zlib's trials compress with this one
    size_t sampleStep = 1;       // ranking takes one block of rows in this many
    std::string error;

    // The plans the trials explore, and after them the default output's plan
    // when it is none of those: that one only serves its own trial.
    std::vector<FilterPlan> plans;
    size_t exploredPlans = 0;
    size_t defaultPlan = 0;
    std::mutex mutex;
    std::atomic<uint64_t> bestSize{UINT64_MAX};
    size_t bestTrial = SIZE_MAX;
    std::vector<uint8_t> bestStream;
    std::vector<Trial> trials;
    bool failed = false;

    Clock::time_point started;
    Clock::time_point lastReport;
    bool reported = false;
};

namespace {

const uint8_t* rowAbove(const OptimizeWriter* w, size_t i) {
    return w->rows[i].firstOfPass ? nullptr : w->image.data() + w->rows[i - 1].offset;
}

void recordFailure(OptimizeWriter* w, const char* message) {
    std::lock_guard<std::mutex> lock(w->mutex);
    if (!w->failed) w->error = message;
    w->failed = true;
}

size_t blockCount(const OptimizeWriter* w) { return (w->rows.size() + BLOCK_ROWS - 1) / BLOCK_ROWS; }

bool blockSampled(const OptimizeWriter* w, size_t block) { return block % w->sampleStep == 0; }

// --- progress ------------------------------------------------------------------

// A line for -verbose once the run has taken a while, then at most one a
// second.
void reportProgress(OptimizeWriter* w, const char* stage, size_t done, size_t count) {
    if (!w->settings.progress) return;
    std::lock_guard<std::mutex> lock(w->mutex);
    Clock::time_point now = Clock::now();
    double elapsed = std::chrono::duration<double>(now - w->started).count();
    if (elapsed < w->settings.progressDelay) return;
    if (w->reported && now - w->lastReport < std::chrono::seconds(1)) return;
    char line[200];
    snprintf(line, sizeof line, "-optimize: %s: %zu of %zu done after %.1f s", stage, done, count, elapsed);
    w->settings.progress(w->settings.progressContext, line);
    w->lastReport = now;
    w->reported = true;
}

// Runs task(0 .. count-1) on up to threads threads, the caller's among them,
// reporting progress under the stage's name.
void runTasks(OptimizeWriter* w, size_t count, const char* stage, const std::function<void(size_t)>& task) {
    if (count == 0) return;
    std::atomic<size_t> next{0}, done{0};
    reportProgress(w, stage, 0, count);
    auto work = [&] {
        for (size_t i; (i = next++) < count;) {
            try {
                task(i);
            } catch (const std::bad_alloc&) {
                recordFailure(w, "out of memory optimising the image data");
            }
            reportProgress(w, stage, ++done, count);
        }
    };
    std::vector<std::thread> helpers;
    size_t wanted = std::min<size_t>(size_t(w->settings.threads), count);
    try {
        for (size_t t = 1; t < wanted; ++t) helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads only make it slower.
    }
    work();
    for (std::thread& t : helpers) t.join();
}

// --- filter plans -----------------------------------------------------------

void planRows(OptimizeWriter* w, FilterPlan* plan, size_t first, size_t end) {
    std::vector<uint8_t> scratch;
    for (size_t i = first; i < end; ++i) {
        const StoredRow& r = w->rows[i];
        const uint8_t* row = w->image.data() + r.offset;
        int type = plan->filter == FILTER_ADAPTIVE
                       ? chooseAdaptiveFilter(row, rowAbove(w, i), r.length, w->stride, plan->adaptiveTypes)
                       : chooseEntropyFilter(row, rowAbove(w, i), r.length, w->stride, &scratch);
        plan->types[i] = static_cast<uint8_t>(type);
    }
}

// The per-row trial plan is chosen block by block, each block starting
// afresh, so that ranking needs only the sampled blocks.
void planTrialBlock(OptimizeWriter* w, FilterPlan* plan, size_t block) {
    TrialRowPlanner planner(TRIAL_ROW_LEVEL);
    size_t end = std::min(w->rows.size(), (block + 1) * BLOCK_ROWS);
    for (size_t i = block * BLOCK_ROWS; i < end; ++i) {
        const StoredRow& r = w->rows[i];
        plan->types[i] = static_cast<uint8_t>(planner.choose(w->image.data() + r.offset, rowAbove(w, i), r.length, w->stride));
    }
    plan->planned[block] = 1;
}

// Chooses the trial plans' types for the blocks still to do (the sampled
// ones only, or all).
void completeTrialPlans(OptimizeWriter* w, const std::vector<size_t>& planIndexes, bool sampledOnly) {
    std::vector<std::pair<size_t, size_t>> work;  // plan, block
    for (size_t p : planIndexes) {
        FilterPlan& plan = w->plans[p];
        if (plan.filter != FILTER_TRIAL) continue;
        for (size_t b = 0; b < plan.planned.size(); ++b)
            if (!plan.planned[b] && (!sampledOnly || blockSampled(w, b))) work.push_back({p, b});
    }
    runTasks(w, work.size(), "choosing each row's filter by trial",
             [&](size_t i) { planTrialBlock(w, &w->plans[work[i].first], work[i].second); });
}

std::vector<int> planFilters(const OptimizeWriter* w) {
    if (w->settings.filter >= 0) return {w->settings.filter};
    if (w->settings.palette || w->layout.depth < 8)
        return {0, FILTER_TRIAL, FILTER_ENTROPY, FILTER_ADAPTIVE, 1, 2, 4, 3};
    return {FILTER_ADAPTIVE, FILTER_TRIAL, FILTER_ENTROPY, 4, 2, 1, 3, 0};
}

// The plan of the default output: one of the explored plans, or one of its
// own (libpng drops some filter types for an image one pixel wide or high).
void addDefaultPlan(OptimizeWriter* w) {
    const unsigned types = w->settings.defaultFilterTypes;
    for (size_t p = 0; p < w->plans.size(); ++p) {
        int filter = w->plans[p].filter;
        bool same = filter == FILTER_ADAPTIVE ? types == w->plans[p].adaptiveTypes
                                              : filter < ROW_FILTER_TYPES && types == 1u << filter;
        if (same) {
            w->defaultPlan = p;
            return;
        }
    }
    FilterPlan plan;
    plan.filter = FILTER_ADAPTIVE;
    for (int type = 0; type < ROW_FILTER_TYPES; ++type)
        if (types == 1u << type) plan.filter = type;
    if (plan.filter == FILTER_ADAPTIVE) {
        plan.adaptiveTypes = types;
        plan.types.resize(w->rows.size());
    }
    w->defaultPlan = w->plans.size();
    w->plans.push_back(std::move(plan));
}

// The plans; the adaptive and entropy plans get their types now (they are
// cheap), the trial plan block by block as needed.
void buildPlans(OptimizeWriter* w) {
    for (int f : planFilters(w)) {
        FilterPlan plan;
        plan.filter = f;
        if (f >= ROW_FILTER_TYPES) plan.types.resize(w->rows.size());
        if (f == FILTER_TRIAL) plan.planned.assign(blockCount(w), 0);
        w->plans.push_back(std::move(plan));
    }
    w->exploredPlans = w->plans.size();
    addDefaultPlan(w);
    size_t rowTasks = (w->rows.size() + ROWS_A_TASK - 1) / ROWS_A_TASK;
    std::vector<size_t> planned;
    for (size_t p = 0; p < w->plans.size(); ++p)
        if (w->plans[p].filter == FILTER_ADAPTIVE || w->plans[p].filter == FILTER_ENTROPY) planned.push_back(p);
    runTasks(w, planned.size() * rowTasks, "choosing each row's filter", [&](size_t task) {
        size_t first = (task % rowTasks) * ROWS_A_TASK;
        planRows(w, &w->plans[planned[task / rowTasks]], first, std::min(first + ROWS_A_TASK, w->rows.size()));
    });
}

int rowType(const FilterPlan& plan, size_t i) { return plan.types.empty() ? plan.filter : plan.types[i]; }

// The plan's filtered rows, filter bytes included: every row, or the rows of
// the sampled blocks.
void filterRows(const OptimizeWriter* w, const FilterPlan& plan, bool sampledOnly, std::vector<uint8_t>* out) {
    out->clear();
    for (size_t i = 0; i < w->rows.size(); ++i) {
        if (sampledOnly && !blockSampled(w, i / BLOCK_ROWS)) continue;
        const StoredRow& r = w->rows[i];
        size_t at = out->size();
        out->resize(at + r.length + 1);
        filterRow(rowType(plan, i), w->image.data() + r.offset, rowAbove(w, i), r.length, w->stride, out->data() + at);
    }
}

// Scores every plan by its sampled rows at the fast level and returns the
// plans in rank order (equal scores keep the plans' order).
std::vector<size_t> rankPlans(OptimizeWriter* w) {
    std::vector<size_t> order(w->exploredPlans);
    for (size_t p = 0; p < order.size(); ++p) order[p] = p;
    completeTrialPlans(w, order, true);
    if (w->failed) return order;
    char stage[80];
    snprintf(stage, sizeof stage, "ranking %zu filter plans on a sample of the rows", order.size());
    runTasks(w, order.size(), stage, [&](size_t p) {
        std::vector<uint8_t> sample;
        filterRows(w, w->plans[p], true, &sample);
        WholeDeflater deflater(RANK_LEVEL);
        w->plans[p].sampleSize = deflater.deflatedSize(sample.data(), sample.size());
    });
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return w->plans[a].sampleSize < w->plans[b].sampleSize; });
    return order;
}

// --- trials -------------------------------------------------------------------

// Keeps the stream when it is the smallest so far (on equal sizes, the
// earlier trial).
void offerStream(OptimizeWriter* w, size_t index, std::vector<uint8_t>* stream) {
    // No distance reaches back past the start of the data, so the smallest
    // window that holds the data is valid for every coder's stream.
    if (stream->size() >= 2) declareZlibWindow(stream->data(), w->windowBits);
    std::lock_guard<std::mutex> lock(w->mutex);
    w->trials[index].size = stream->size();
    if (stream->size() < w->bestSize.load() || (stream->size() == w->bestSize.load() && index < w->bestTrial)) {
        w->bestSize = stream->size();
        w->bestTrial = index;
        w->bestStream.swap(*stream);
    }
}

// Deflates what is in z's input, collecting the output; false on a zlib error.
bool deflateInto(z_stream* z, int flush, std::vector<uint8_t>* out) {
    for (;;) {
        if (out->capacity() - out->size() < 4096) out->reserve(out->capacity() * 2 + 65536);
        size_t used = out->size();
        out->resize(out->capacity());
        z->next_out = out->data() + used;
        z->avail_out = uInt(std::min(out->size() - used, ZLIB_SLICE));
        int status = deflate(z, flush);
        out->resize(size_t(z->next_out - out->data()));
        if (status == Z_STREAM_ERROR) return false;
        if (flush == Z_FINISH ? status == Z_STREAM_END : z->avail_in == 0 && z->avail_out != 0) return true;
    }
}

// A zlib trial filters the rows as it goes and stops once its output passes
// the best stream so far.
void runZlibTrial(OptimizeWriter* w, size_t index) {
    Trial& trial = w->trials[index];
    const FilterPlan& plan = w->plans[trial.plan];
    const DeflateChoice& d = trial.deflate;
    z_stream z = {};
    if (deflateInit2(&z, d.level, Z_DEFLATED, d.windowBits, d.memLevel, d.strategy) != Z_OK) {
        recordFailure(w, "cannot set up zlib to optimise the image data");
        return;
    }
    std::vector<uint8_t> feed, out;
    feed.reserve(std::max(FEED_BYTES, w->widestRow + 1));
    bool ok = true, beaten = false;
    for (size_t i = 0; ok && !beaten && i <= w->rows.size(); ++i) {
        bool end = i == w->rows.size();
        if (!end && trial.sampleOnly && !blockSampled(w, i / BLOCK_ROWS)) continue;
        if (!end) {
            const StoredRow& r = w->rows[i];
            size_t at = feed.size();
            feed.resize(at + r.length + 1);
            filterRow(rowType(plan, i), w->image.data() + r.offset, rowAbove(w, i), r.length, w->stride, feed.data() + at);
            if (feed.size() < FEED_BYTES) continue;
        }
        for (size_t done = 0; ok && (done < feed.size() || (end && done == 0));) {
            size_t slice = std::min(feed.size() - done, ZLIB_SLICE);
            z.next_in = feed.data() + done;
            z.avail_in = uInt(slice);
            bool last = end && done + slice == feed.size();
            ok = deflateInto(&z, last ? Z_FINISH : Z_NO_FLUSH, &out);
            done += slice;
            if (last) break;
        }
        feed.clear();
        beaten = !trial.sampleOnly && out.size() > w->bestSize.load();
    }
    deflateEnd(&z);
    if (!ok) {
        recordFailure(w, "zlib failed optimising the image data");
        return;
    }
    if (beaten) return;
    if (trial.sampleOnly) {
        trial.size = out.size();
        return;
    }
    offerStream(w, index, &out);
}

// -optimizemax spends more on the optimal parse.
ParseEffort parseEffort(const OptimizeWriter* w) {
    ParseEffort effort;
    if (w->settings.exhaustive) {
        effort.spanRounds = 3;
        effort.blockRounds = 15;
        effort.maxDepth = 2000;
        effort.cutPasses = 2;
    }
    return effort;
}

// A whole-buffer trial filters the whole image (or its sample) and
// compresses it in one call.
void runWholeTrial(OptimizeWriter* w, size_t index) {
    Trial& trial = w->trials[index];
    std::vector<uint8_t> filtered, out;
    filterRows(w, w->plans[trial.plan], trial.sampleOnly, &filtered);
    if (trial.coder == CODER_ZOPFLI) {
        zopfliZlibStream(filtered.data(), filtered.size(), trial.deflate.windowBits, trial.deflate.level, &out);
    } else if (trial.coder == CODER_PARSED) {
        // Its stream failed its own check: the other coders' streams stand.
        parsedZlibStream(filtered.data(), filtered.size(), trial.deflate.windowBits, parseEffort(w),
                         w->settings.threads, &out);
        if (out.empty()) return;
    } else {
        WholeDeflater deflater(trial.deflate.level);
        deflater.zlibStream(filtered.data(), filtered.size(), trial.deflate.windowBits, &out);
    }
    if (out.empty()) {
        recordFailure(w, "the image data could not be compressed");
        return;
    }
    if (trial.sampleOnly)
        trial.size = out.size();
    else
        offerStream(w, index, &out);
}

void runTrials(OptimizeWriter* w, size_t first, const char* stage) {
    runTasks(w, w->trials.size() - first, stage, [&](size_t i) {
        if (w->trials[first + i].coder == CODER_ZLIB)
            runZlibTrial(w, first + i);
        else
            runWholeTrial(w, first + i);
    });
}

DeflateChoice deflateChoice(int level, int strategy, int memLevel, int windowBits) {
    DeflateChoice d;
    d.level = level;
    d.strategy = strategy;
    d.memLevel = memLevel;
    d.windowBits = windowBits;
    return d;
}

Trial makeTrial(size_t plan, int coder, const DeflateChoice& deflate, bool sampleOnly = false) {
    Trial t;
    t.plan = plan;
    t.coder = coder;
    t.deflate = deflate;
    t.sampleOnly = sampleOnly;
    return t;
}

size_t planWithFilter(const OptimizeWriter* w, int filter) {
    for (size_t p = 0; p < w->exploredPlans; ++p)
        if (w->plans[p].filter == filter) return p;
    return SIZE_MAX;
}

// The finalists: the best plan, and the runner-up when close.
std::vector<size_t> chooseFinalists(const OptimizeWriter* w, const std::vector<size_t>& ranked) {
    std::vector<size_t> finalists = {ranked[0]};
    if (ranked.size() > 1 &&
        double(w->plans[ranked[1]].sampleSize) <= double(w->plans[ranked[0]].sampleSize) * FINALIST_MARGIN)
        finalists.push_back(ranked[1]);
    return finalists;
}

// zlib still wins on some images: its level 9 on some extremely repetitive
// ones (a chessboard), run-length and Huffman-only coding on some noisy
// ones. Screened on the sample, they go on whole only where they beat the
// best plan's sample at the ranking's fast level. The best plan takes all
// three, the adaptive one (which suits the cheap two) those two. Returns the
// index of the first trial it adds to run whole.
size_t screenCheapCoders(OptimizeWriter* w, const std::vector<size_t>& finalists) {
    std::vector<size_t> candidates = {finalists[0]};
    size_t adaptive = planWithFilter(w, FILTER_ADAPTIVE);
    if (adaptive != SIZE_MAX && adaptive != finalists[0]) candidates.push_back(adaptive);
    size_t first = w->trials.size();
    for (size_t p : candidates)
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_RLE, Z_HUFFMAN_ONLY})
            if (strategy != Z_DEFAULT_STRATEGY || p == finalists[0])
                w->trials.push_back(makeTrial(p, CODER_ZLIB, deflateChoice(9, strategy, 9, w->zlibWindowBits), true));
    runTrials(w, first, "screening zlib's coding on the sample");
    size_t end = w->trials.size();
    for (size_t i = first; i < end; ++i) {
        Trial screened = w->trials[i];
        if (screened.size < w->plans[finalists[0]].sampleSize)
            w->trials.push_back(makeTrial(screened.plan, CODER_ZLIB, screened.deflate));
    }
    return end;
}

// The default output's own stream: -optimize never writes more than it.
void addDefaultTrial(OptimizeWriter* w) {
    w->trials.push_back(makeTrial(w->defaultPlan, CODER_ZLIB, w->settings.defaultDeflate));
}

// The exhaustive pass: zopfli on the winner's plan, kept when smaller. On
// smooth renders the strongest whole-buffer level often beats it; where
// ranking sampled the rows, both compress the sample first, and the whole
// pass runs only when zopfli wins there clearly.
void runExhaustivePass(OptimizeWriter* w) {
    if (w->bestTrial == SIZE_MAX) return;
    const int iterations = w->filteredBytes > ZOPFLI_LARGE_BYTES ? ZOPFLI_ITERATIONS_LARGE : ZOPFLI_ITERATIONS;
    const size_t plan = w->trials[w->bestTrial].plan;
    const DeflateChoice zopfli = deflateChoice(iterations, 0, 0, w->windowBits);
    size_t first = w->trials.size();
    if (w->sampleStep > 1) {
        w->trials.push_back(makeTrial(plan, CODER_ZOPFLI, zopfli, true));
        w->trials.push_back(makeTrial(plan, CODER_WHOLE, deflateChoice(WHOLE_DEFLATE_BEST_LEVEL, 0, 0, w->windowBits), true));
        runTrials(w, first, "trying the exhaustive pass on a sample");
        if (w->failed || double(w->trials[first].size) >= double(w->trials[first + 1].size) * ZOPFLI_SAMPLE_GAIN) return;
        first = w->trials.size();
    }
    w->trials.push_back(makeTrial(plan, CODER_ZOPFLI, zopfli));
    runTrials(w, first, "exhaustive pass on the best plan");
}

// The optimal parse on the winner's plan, kept when smaller; under
// -optimizemax on every image, else where the data compresses well.
void runParsedPass(OptimizeWriter* w) {
    if (w->bestTrial == SIZE_MAX) return;
    if (!w->settings.exhaustive && double(w->bestSize.load()) > double(w->filteredBytes) * PARSED_MAX_RATIO) return;
    const size_t plan = w->trials[w->bestTrial].plan;
    size_t first = w->trials.size();
    w->trials.push_back(makeTrial(plan, CODER_PARSED, deflateChoice(parseEffort(w).blockRounds, 0, 0, w->windowBits)));
    runTrials(w, first, "optimal parse of the best plan");
}

void measureImage(OptimizeWriter* w) {
    w->filteredBytes = 0;
    for (const StoredRow& r : w->rows) w->filteredBytes += r.length + 1;
    w->windowBits = smallestWindowBits(w->filteredBytes);
    w->zlibWindowBits = windowBitsFor(w->filteredBytes);
    w->sampleStep = sampleStepFor(w->filteredBytes);
}

void optimize(OptimizeWriter* w) {
    measureImage(w);
    buildPlans(w);
    if (w->failed) return;
    std::vector<size_t> ranked = rankPlans(w);
    if (w->failed) return;
    std::vector<size_t> finalists = chooseFinalists(w, ranked);
    completeTrialPlans(w, finalists, false);
    if (w->failed) return;

    // Zlib trials stop as soon as they pass the best stream, so they run
    // after the whole-buffer ones; the default's own settings come last.
    size_t zlibTrials = w->trials.size();
    if (w->settings.level >= 0) {
        // A given level keeps zlib: its two general strategies on the finalists.
        for (size_t p : finalists)
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED})
                w->trials.push_back(
                    makeTrial(p, CODER_ZLIB, deflateChoice(w->settings.level, strategy, 9, w->zlibWindowBits)));
    } else {
        for (size_t p : finalists)
            w->trials.push_back(
                makeTrial(p, CODER_WHOLE, deflateChoice(WHOLE_DEFLATE_BEST_LEVEL, 0, 0, w->windowBits)));
        char stage[80];
        snprintf(stage, sizeof stage, "compressing %zu plan%s at the strongest level", finalists.size(),
                 finalists.size() > 1 ? "s" : "");
        runTrials(w, zlibTrials, stage);
        if (w->failed) return;
        zlibTrials = screenCheapCoders(w, finalists);
    }
    if (w->failed) return;
    addDefaultTrial(w);
    runTrials(w, zlibTrials, "trying zlib on the best plans");
    if (w->failed) return;
    if (w->settings.level < 0) runParsedPass(w);
    if (w->failed) return;
    if (w->settings.exhaustive && w->settings.level < 0) runExhaustivePass(w);
}

}  // namespace

OptimizeWriter* startOptimizeWriter(const ImageDataLayout* layout, const OptimizeSettings* settings,
                                    const char** error) {
    OptimizeWriter* w = nullptr;
    try {
        w = new OptimizeWriter;
        w->layout = *layout;
        w->settings = *settings;
        w->settings.threads = std::max(1, settings->threads);
        w->stride = filterStride(layout);
        w->cursor = startRowCursor(layout);
        // Reserved up front: growing by doubling would want twice the image.
        uint64_t bytes = 0;
        for (int p = 0; p < passCount(layout); ++p) {
            PassGeometry g = passGeometry(layout, p);
            bytes += uint64_t(g.height) * g.rowBytes;
        }
        if (bytes > SIZE_MAX / 2) throw std::bad_alloc();
        w->image.reserve(size_t(bytes));
        w->rows.reserve(size_t(storedRowCount(layout)));
        return w;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    delete w;
    *error = "out of memory holding the image data for -optimize";
    return nullptr;
}

bool addOptimizeRow(OptimizeWriter* w, const uint8_t* row) {
    if (w->failed) return false;
    if (cursorDone(&w->layout, &w->cursor)) {
        recordFailure(w, "more image rows than the image has");
        return false;
    }
    if (cursorTakesRow(&w->cursor)) {
        try {
            StoredRow r = {w->image.size(), size_t(w->cursor.geometry.rowBytes), w->cursor.geometry.width,
                           w->cursor.firstOfPass};
            w->image.resize(w->image.size() + r.length);
            extractPassRow(&w->layout, &w->cursor.geometry, row, w->image.data() + r.offset);
            w->rows.push_back(r);
            w->widestRow = std::max(w->widestRow, r.length);
        } catch (const std::bad_alloc&) {
            recordFailure(w, "out of memory holding the image data for -optimize");
            return false;
        } catch (const std::length_error&) {
            recordFailure(w, "out of memory holding the image data for -optimize");
            return false;
        }
        cursorStoredRow(&w->cursor);
    }
    advanceRowCursor(&w->layout, &w->cursor);
    return true;
}

namespace {

bool rowsComplete(OptimizeWriter* w) {
    if (w->failed) return false;
    if (!cursorDone(&w->layout, &w->cursor)) {
        recordFailure(w, "fewer image rows than the image has");
        return false;
    }
    return true;
}

void startClock(OptimizeWriter* w) {
    w->started = w->settings.started.time_since_epoch().count() != 0 ? w->settings.started : Clock::now();
}

// Runs step under the writer's failure handling, then hands over the winner.
template <typename Step>
bool finishWith(OptimizeWriter* w, Step step, OptimizeResult* result, std::vector<uint8_t>* stream) {
    if (!rowsComplete(w)) return false;
    startClock(w);
    try {
        step();
    } catch (const std::bad_alloc&) {
        recordFailure(w, "out of memory optimising the image data");
    }
    if (w->failed) return false;
    if (w->bestTrial == SIZE_MAX) {
        recordFailure(w, "no trial compressed the image data");
        return false;
    }
    const Trial& best = w->trials[w->bestTrial];
    result->filter = w->plans[best.plan].filter;
    result->coder = best.coder;
    result->deflate = best.deflate;
    result->deflate.windowBits = w->windowBits;  // as declared
    result->size = w->bestStream.size();
    result->trials = int(w->trials.size());
    stream->swap(w->bestStream);
    w->bestStream.clear();
    return true;
}

// The default output's plan alone, with its own settings.
void runDefaultTrialOnly(OptimizeWriter* w) {
    measureImage(w);
    w->exploredPlans = 0;
    addDefaultPlan(w);
    FilterPlan& plan = w->plans[w->defaultPlan];
    if (plan.filter == FILTER_ADAPTIVE) planRows(w, &plan, 0, w->rows.size());
    addDefaultTrial(w);
    runTrials(w, 0, "the default's own settings");
}

// The cheap plans that screening scores: enough to tell forms and palette
// orders apart, far cheaper than the per-row trial plan.
std::vector<int> screeningFilters(const OptimizeWriter* w) {
    if (w->settings.filter >= 0) return {w->settings.filter};
    if (w->settings.palette || w->layout.depth < 8) return {0, FILTER_ENTROPY};
    return {FILTER_ADAPTIVE, FILTER_ENTROPY, 4};
}

uint64_t screen(OptimizeWriter* w, size_t sampleStep) {
    measureImage(w);
    w->sampleStep = std::max<size_t>(1, sampleStep);
    const std::vector<int> filters = screeningFilters(w);
    std::vector<uint64_t> sizes(filters.size(), UINT64_MAX);
    runTasks(w, filters.size(), "screening the candidate", [&](size_t k) {
        FilterPlan plan;
        plan.filter = filters[k];
        if (plan.filter >= ROW_FILTER_TYPES) {
            plan.types.resize(w->rows.size());
            for (size_t b = 0; b < blockCount(w); b += w->sampleStep)
                planRows(w, &plan, b * BLOCK_ROWS, std::min(w->rows.size(), (b + 1) * BLOCK_ROWS));
        }
        std::vector<uint8_t> sample;
        filterRows(w, plan, true, &sample);
        WholeDeflater deflater(RANK_LEVEL);
        sizes[k] = deflater.deflatedSize(sample.data(), sample.size());
    });
    return *std::min_element(sizes.begin(), sizes.end());
}

// A byte of packed indexes (depth 1, 2, 4 or 8) with each index replaced.
uint8_t remapPackedByte(uint8_t byte, int depth, const uint8_t place[256]) {
    if (depth >= 8) return place[byte];
    const unsigned mask = (1u << depth) - 1;
    unsigned out = 0;
    for (int shift = 8 - depth; shift >= 0; shift -= depth) out |= unsigned(place[(byte >> shift) & mask] & mask) << shift;
    return uint8_t(out);
}

// Calls use(index) for each pixel of a stored row, in order.
template <typename Use>
void forEachIndex(const OptimizeWriter* w, const StoredRow& r, Use use) {
    const uint8_t* row = w->image.data() + r.offset;
    const int depth = w->layout.depth;
    if (depth >= 8) {
        for (uint32_t x = 0; x < r.pixels; ++x) use(row[x]);
        return;
    }
    const int perByte = 8 / depth;
    const unsigned mask = (1u << depth) - 1;
    for (uint32_t x = 0; x < r.pixels; ++x)
        use(uint8_t((row[x / perByte] >> (8 - depth * (int(x % perByte) + 1))) & mask));
}

}  // namespace

bool finishOptimizeWriter(OptimizeWriter* w, OptimizeResult* result, std::vector<uint8_t>* stream) {
    return finishWith(w, [&] { optimize(w); }, result, stream);
}

bool finishWithDefaultTrial(OptimizeWriter* w, OptimizeResult* result, std::vector<uint8_t>* stream) {
    return finishWith(w, [&] { runDefaultTrialOnly(w); }, result, stream);
}

uint64_t optimizeFilteredBytes(const OptimizeWriter* w) {
    uint64_t bytes = 0;
    for (const StoredRow& r : w->rows) bytes += r.length + 1;
    return bytes;
}

size_t sampleStepFor(uint64_t filteredBytes) {
    return size_t(std::min(SAMPLE_MAX_STEP, std::max<uint64_t>(1, filteredBytes / SAMPLE_BYTES)));
}

bool screenOptimizeImage(OptimizeWriter* w, size_t sampleStep, uint64_t* size) {
    if (!rowsComplete(w)) return false;
    startClock(w);
    try {
        *size = screen(w, sampleStep);
    } catch (const std::bad_alloc&) {
        recordFailure(w, "out of memory optimising the image data");
    }
    return !w->failed;
}

IndexUse paletteIndexUse(const OptimizeWriter* w, size_t entries) {
    IndexUse use;
    use.counts.assign(entries, 0);
    use.firstSeen.assign(entries, UINT64_MAX);
    uint64_t position = 0;
    for (const StoredRow& r : w->rows)
        forEachIndex(w, r, [&](uint8_t index) {
            if (index < entries && use.counts[index]++ == 0) use.firstSeen[index] = position;
            ++position;
        });
    return use;
}

OptimizeWriter* reorderedOptimizeWriter(const OptimizeWriter* from, const PaletteOrder& order, const char** error) {
    OptimizeWriter* w = startOptimizeWriter(&from->layout, &from->settings, error);
    if (!w) return nullptr;
    try {
        w->image = from->image;
        w->rows = from->rows;
    } catch (const std::bad_alloc&) {
        destroyOptimizeWriter(w);
        *error = "out of memory holding the image data for -optimize";
        return nullptr;
    }
    w->widestRow = from->widestRow;
    w->cursor = from->cursor;
    uint8_t place[256];
    for (int i = 0; i < 256; ++i) place[i] = uint8_t(i);
    for (size_t i = 0; i < order.size() && i < 256; ++i) place[order[i]] = uint8_t(i);
    uint8_t table[256];
    for (int b = 0; b < 256; ++b) table[b] = remapPackedByte(uint8_t(b), w->layout.depth, place);
    const int depth = w->layout.depth;
    for (const StoredRow& r : w->rows) {
        uint8_t* row = w->image.data() + r.offset;
        for (size_t i = 0; i < r.length; ++i) row[i] = table[row[i]];
        // The bits past the last pixel stay zero, as the packer leaves them.
        uint64_t usedBits = uint64_t(r.pixels) * unsigned(depth);
        if (depth < 8 && usedBits % 8 != 0 && r.length > 0)
            row[r.length - 1] &= uint8_t(0xff << (8 - usedBits % 8));
    }
    return w;
}

const char* optimizeWriterError(const OptimizeWriter* w) { return w->error.c_str(); }

void destroyOptimizeWriter(OptimizeWriter* w) { delete w; }

const char* filterPlanName(int filter) {
    static const char* const NAMES[] = {"none", "sub", "up", "average", "Paeth", "adaptive", "per-row trial",
                                        "least entropy"};
    return filter >= 0 && filter <= FILTER_ENTROPY ? NAMES[filter] : "unknown";
}

std::string describeCoder(const OptimizeResult* r) {
    char text[160];
    if (r->coder == CODER_WHOLE)
        snprintf(text, sizeof text, "libdeflate level %d, window %d bits", r->deflate.level, r->deflate.windowBits);
    else if (r->coder == CODER_PARSED)
        snprintf(text, sizeof text, "optimal parse, %d rounds a block, window %d bits", r->deflate.level,
                 r->deflate.windowBits);
    else if (r->coder == CODER_ZOPFLI)
        snprintf(text, sizeof text, "zopfli, %d iterations, window %d bits", r->deflate.level, r->deflate.windowBits);
    else if (r->deflate.level == Z_DEFAULT_COMPRESSION)  // the default output's own settings won
        snprintf(text, sizeof text, "zlib level default, strategy %s, memory level %d, window %d bits",
                 strategyName(r->deflate.strategy), r->deflate.memLevel, r->deflate.windowBits);
    else
        snprintf(text, sizeof text, "zlib level %d, strategy %s, memory level %d, window %d bits", r->deflate.level,
                 strategyName(r->deflate.strategy), r->deflate.memLevel, r->deflate.windowBits);
    return text;
}

}  // namespace rasterpack
