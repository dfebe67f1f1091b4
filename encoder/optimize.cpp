#include "optimize.h"

#include "rowfilter.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace rasterpack {

namespace {

const int TRIAL_PLAN_LEVEL = 5;          // zlib level of the per-row trials
// Screening ranks plans and strategies at the real level on about this much
// of the data: one block of rows in every few, spread over the image.
const uint64_t SCREEN_BYTES = uint64_t(1) << 19;
const size_t SCREEN_BLOCK_ROWS = 32;
const uint64_t SCREEN_MAX_STEP = 8;
const size_t PLANS_KEPT = 2;            // plans that go on from the screening at most,
const double PLAN_MARGIN = 1.01;       // and the runner-up only when this close to the best
const size_t DICTIONARY_BYTES = 32768;
const size_t FEED_BYTES = 65536;         // filtered bytes handed to zlib at a time
const size_t ROWS_A_TASK = 64;           // rows one plan task takes on
const size_t ZLIB_SLICE = size_t(1) << 30;

struct StoredRow {
    size_t offset;
    size_t length;
    bool firstOfPass;
};

struct FilterPlan {
    int filter = 0;               // 0..4, FILTER_ADAPTIVE or FILTER_TRIAL
    unsigned adaptiveTypes = ALL_FILTER_TYPES;  // what FILTER_ADAPTIVE chooses from
    std::vector<uint8_t> types;   // a type for each row; empty for a single type
};

struct Trial {
    size_t plan;
    DeflateChoice deflate;
    bool screening = false;     // only ranks: its stream is dropped
    size_t sampleStep = 1;      // compresses one block of rows in this many
    uint64_t size = UINT64_MAX;  // once finished; stays so when stopped early
};

}  // namespace

struct OptimizeWriter {
    ImageDataLayout layout;
    OptimizeSettings settings;
    size_t stride = 1;
    ChunkedOutput output;
    RowCursor cursor;
    std::vector<uint8_t> image;
    std::vector<StoredRow> rows;
    size_t widestRow = 0;
    std::string error;

    // The plans the trials explore, and after them the default output's plan
    // when it is none of those: that one only serves its own trial.
    std::vector<FilterPlan> plans;
    size_t exploredPlans = 0;
    size_t defaultPlan = 0;
    std::mutex mutex;
    std::atomic<uint64_t> bestSize{UINT64_MAX};
    std::atomic<uint64_t> bestScreenedSize{UINT64_MAX};  // smallest finished screening
    size_t bestTrial = SIZE_MAX;
    std::vector<uint8_t> bestStream;
    std::vector<Trial> trials;
    bool failed = false;
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

// Runs task(0 .. count-1) on up to threads threads, the caller's among them.
void runTasks(OptimizeWriter* w, size_t count, const std::function<void(size_t)>& task) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < count;) {
            try {
                task(i);
            } catch (const std::bad_alloc&) {
                recordFailure(w, "out of memory optimising the image data");
            }
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

void planAdaptiveRows(OptimizeWriter* w, FilterPlan* plan, size_t first, size_t end) {
    for (size_t i = first; i < end; ++i) {
        const StoredRow& r = w->rows[i];
        plan->types[i] = static_cast<uint8_t>(
            chooseAdaptiveFilter(w->image.data() + r.offset, rowAbove(w, i), r.length, w->stride, plan->adaptiveTypes));
    }
}

// Each row takes the type whose output deflates smallest after the row above
// filtered the same way.
void planTrialRows(OptimizeWriter* w, FilterPlan* plan, size_t first, size_t end) {
    z_stream z = {};
    if (deflateInit2(&z, TRIAL_PLAN_LEVEL, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        recordFailure(w, "cannot set up zlib to optimise the image data");
        return;
    }
    std::vector<uint8_t> above[ROW_FILTER_TYPES], current[ROW_FILTER_TYPES];
    std::vector<uint8_t> out(size_t(deflateBound(&z, uLong(std::min(w->widestRow + 1, ZLIB_SLICE)))) + 64);
    for (size_t i = first; i < end; ++i) {
        const StoredRow& r = w->rows[i];
        const uint8_t* row = w->image.data() + r.offset;
        const uint8_t* rowUp = rowAbove(w, i);
        bool primed = rowUp && i > first;
        uint64_t bestCost = UINT64_MAX;
        int best = 0;
        for (int type = 0; type < ROW_FILTER_TYPES; ++type) {
            current[type].resize(r.length + 1);
            filterRow(type, row, rowUp, r.length, w->stride, current[type].data());
            deflateReset(&z);
            if (primed) {
                size_t n = std::min(above[type].size(), DICTIONARY_BYTES);
                deflateSetDictionary(&z, above[type].data() + above[type].size() - n, uInt(n));
            }
            uint64_t cost = 0;
            size_t done = 0;
            int status = Z_OK;
            while (status != Z_STREAM_END) {
                size_t slice = std::min(current[type].size() - done, ZLIB_SLICE);
                z.next_in = current[type].data() + done;
                z.avail_in = uInt(slice);
                z.next_out = out.data();
                z.avail_out = uInt(std::min(out.size(), ZLIB_SLICE));
                status = deflate(&z, done + slice == current[type].size() ? Z_FINISH : Z_NO_FLUSH);
                if (status == Z_STREAM_ERROR) break;
                done += slice - z.avail_in;
                cost += out.size() - z.avail_out;
            }
            if (cost < bestCost) {
                bestCost = cost;
                best = type;
            }
        }
        plan->types[i] = static_cast<uint8_t>(best);
        std::swap(above, current);
    }
    deflateEnd(&z);
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

void buildPlans(OptimizeWriter* w) {
    std::vector<int> filters;
    if (w->settings.filter >= 0)
        filters = {w->settings.filter};
    else if (w->settings.palette || w->layout.depth < 8)
        filters = {0, FILTER_TRIAL, FILTER_ADAPTIVE, 1, 2, 4, 3};
    else
        filters = {FILTER_ADAPTIVE, FILTER_TRIAL, 4, 2, 1, 3, 0};
    for (int f : filters) {
        FilterPlan plan;
        plan.filter = f;
        if (f >= ROW_FILTER_TYPES) plan.types.resize(w->rows.size());
        w->plans.push_back(std::move(plan));
    }
    w->exploredPlans = w->plans.size();
    addDefaultPlan(w);
    size_t rowTasks = (w->rows.size() + ROWS_A_TASK - 1) / ROWS_A_TASK;
    std::vector<size_t> planned;
    for (size_t p = 0; p < w->plans.size(); ++p)
        if (w->plans[p].filter >= ROW_FILTER_TYPES) planned.push_back(p);
    runTasks(w, planned.size() * rowTasks, [&](size_t task) {
        FilterPlan* plan = &w->plans[planned[task / rowTasks]];
        size_t first = (task % rowTasks) * ROWS_A_TASK;
        size_t end = std::min(first + ROWS_A_TASK, w->rows.size());
        if (plan->filter == FILTER_ADAPTIVE)
            planAdaptiveRows(w, plan, first, end);
        else
            planTrialRows(w, plan, first, end);
    });
}

// --- trials -------------------------------------------------------------------

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

void runTrial(OptimizeWriter* w, size_t index) {
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
        if (!end && (i / SCREEN_BLOCK_ROWS) % trial.sampleStep != 0) continue;
        if (!end) {
            const StoredRow& r = w->rows[i];
            size_t at = feed.size();
            feed.resize(at + r.length + 1);
            int type = plan.types.empty() ? plan.filter : plan.types[i];
            filterRow(type, w->image.data() + r.offset, rowAbove(w, i), r.length, w->stride, feed.data() + at);
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
        // A screening that falls behind the best by more than the margin can
        // be neither the winner nor the runner-up.
        beaten = trial.screening ? double(out.size()) > double(w->bestScreenedSize.load()) * PLAN_MARGIN
                                 : out.size() > w->bestSize.load();
    }
    deflateEnd(&z);
    if (!ok) {
        recordFailure(w, "zlib failed optimising the image data");
        return;
    }
    if (beaten) return;
    trial.size = out.size();
    std::lock_guard<std::mutex> lock(w->mutex);
    if (trial.screening) {
        if (out.size() < w->bestScreenedSize.load()) w->bestScreenedSize = out.size();
        return;
    }
    if (out.size() < w->bestSize.load() || (out.size() == w->bestSize.load() && index < w->bestTrial)) {
        w->bestSize = out.size();
        w->bestTrial = index;
        w->bestStream.swap(out);
    }
}

void runTrials(OptimizeWriter* w, size_t first) {
    runTasks(w, w->trials.size() - first, [&](size_t i) { runTrial(w, first + i); });
}

DeflateChoice deflateChoice(int level, int strategy, int memLevel, int windowBits) {
    DeflateChoice d;
    d.level = level;
    d.strategy = strategy;
    d.memLevel = memLevel;
    d.windowBits = windowBits;
    return d;
}

// Screening on a sample of the rows picks the plan (every plan) and then the
// strategy (default or filtered); the whole image data then goes through the
// one or two best plans, two memory levels, and run-length and Huffman-only
// coding (for the adaptive plan too).
void optimize(OptimizeWriter* w) {
    buildPlans(w);
    if (w->failed) return;
    const int level = w->settings.level >= 0 ? w->settings.level : 9;
    uint64_t total = 0;
    for (const StoredRow& r : w->rows) total += r.length + 1;
    const int window = windowBitsFor(total);
    auto screen = [&](size_t plan, int strategy) {
        Trial t{plan, deflateChoice(level, strategy, 9, window)};
        t.screening = true;
        t.sampleStep = size_t(std::min(SCREEN_MAX_STEP, std::max<uint64_t>(1, total / SCREEN_BYTES)));
        w->trials.push_back(t);
    };

    // Plans, all with one strategy: the filtered one can hide the best plan.
    std::vector<size_t> kept;
    size_t first = w->trials.size();
    for (size_t p = 0; p < w->exploredPlans; ++p) {
        kept.push_back(first + p);
        if (w->exploredPlans > 1) screen(p, Z_DEFAULT_STRATEGY);
    }
    if (w->exploredPlans > 1) {
        runTrials(w, first);
        if (w->failed) return;
        // Stable: equal sizes keep the plans' order.
        std::stable_sort(kept.begin(), kept.end(),
                         [&](size_t a, size_t b) { return w->trials[a].size < w->trials[b].size; });
        kept.resize(PLANS_KEPT);
        if (double(w->trials[kept[1]].size) > double(w->trials[kept[0]].size) * PLAN_MARGIN) kept.resize(1);
        for (size_t& k : kept) k = w->trials[k].plan;
    }

    // The strategy, for the best plan.
    const size_t plan = kept[0];
    first = w->trials.size();
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED}) {
        bool screened = false;
        for (const Trial& t : w->trials) screened |= t.plan == plan && t.deflate.strategy == strategy;
        if (!screened) screen(plan, strategy);
    }
    runTrials(w, first);
    if (w->failed) return;
    int strategy = Z_DEFAULT_STRATEGY;
    uint64_t least = UINT64_MAX;
    for (const Trial& t : w->trials)
        if (t.plan == plan && t.size < least) least = t.size, strategy = t.deflate.strategy;

    first = w->trials.size();
    for (size_t p : kept) w->trials.push_back(Trial{p, deflateChoice(level, strategy, 9, window)});
    if (level > 0) {
        w->trials.push_back(Trial{plan, deflateChoice(level, strategy, 8, window)});
        // Run-length and Huffman-only coding cost little and win on noisy
        // smooth images, where the adaptive plan often suits them best.
        std::vector<size_t> cheap = kept;
        for (size_t p = 0; p < w->exploredPlans; ++p)
            if (w->plans[p].filter == FILTER_ADAPTIVE && std::find(cheap.begin(), cheap.end(), p) == cheap.end())
                cheap.push_back(p);
        for (size_t p : cheap)
            for (int cheapStrategy : {Z_RLE, Z_HUFFMAN_ONLY})
                w->trials.push_back(Trial{p, deflateChoice(level, cheapStrategy, 9, window)});
    }
    // The default output's own stream: -optimize never writes more than it.
    w->trials.push_back(Trial{w->defaultPlan, w->settings.defaultDeflate});
    runTrials(w, first);
}

}  // namespace

OptimizeWriter* startOptimizeWriter(const ImageDataLayout* layout, const OptimizeSettings* settings,
                                    ImageDataSink sink, const char** error) {
    OptimizeWriter* w = nullptr;
    try {
        w = new OptimizeWriter;
        w->layout = *layout;
        w->settings = *settings;
        w->settings.threads = std::max(1, settings->threads);
        w->stride = filterStride(layout);
        w->output.sink = sink;
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
            StoredRow r = {w->image.size(), size_t(w->cursor.geometry.rowBytes), w->cursor.firstOfPass};
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

bool finishOptimizeWriter(OptimizeWriter* w, OptimizeResult* result) {
    if (w->failed) return false;
    if (!cursorDone(&w->layout, &w->cursor)) {
        recordFailure(w, "fewer image rows than the image has");
        return false;
    }
    try {
        optimize(w);
    } catch (const std::bad_alloc&) {
        recordFailure(w, "out of memory optimising the image data");
    }
    if (w->failed) return false;
    const Trial& best = w->trials[w->bestTrial];
    result->filter = w->plans[best.plan].filter;
    result->deflate = best.deflate;
    result->size = w->bestStream.size();
    result->trials = int(w->trials.size());
    if (!putStreamBytes(&w->output, w->bestStream.data(), w->bestStream.size()) || !flushStreamBytes(&w->output)) {
        recordFailure(w, w->output.sink.failureMessage);
        return false;
    }
    return true;
}

const char* optimizeWriterError(const OptimizeWriter* w) { return w->error.c_str(); }

void destroyOptimizeWriter(OptimizeWriter* w) { delete w; }

const char* filterPlanName(int filter) {
    static const char* const NAMES[] = {"none", "sub", "up", "average", "Paeth", "adaptive", "per-row trial"};
    return filter >= 0 && filter <= FILTER_TRIAL ? NAMES[filter] : "unknown";
}

}  // namespace rasterpack
