#include "bandcompress.h"

#include "rowfilter.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace rasterpack {

namespace {

// deflate reaches back at most this far: a band needs no more of the data before it.
const size_t DICTIONARY_BYTES = 32768;
// zlib counts its buffers in unsigned ints; bigger pieces go in slices.
const size_t ZLIB_SLICE = size_t(1) << 30;

struct RowSpan {
    size_t offset;
    size_t length;
    bool firstOfPass;  // no row above it to filter against
};

struct Band {
    uint64_t index = 0;
    bool inUse = false;
    bool last = false;
    Band* previous = nullptr;  // primes this band's dictionary
    std::vector<uint8_t> raw;               // packed pass rows, one after another
    std::vector<RowSpan> rows;
    std::vector<uint8_t> context;           // the unfiltered row above the first, when in the same pass
    std::vector<uint8_t> filtered;
    std::vector<uint8_t> compressed;
    uLong adler = 1;
    bool filteredReady = false;
    bool successorPrimed = false;  // the next band has taken its dictionary from this one
    bool compressedReady = false;
    bool written = false;
};

}  // namespace

struct BandWriter {
    ImageDataLayout layout;
    BandSettings settings;
    size_t stride = 1;
    ChunkedOutput output;

    RowCursor cursor;
    uint64_t rowsLeft = 0;  // stored rows still to come

    std::vector<Band> slots;  // band i lives in slot i % size
    uint64_t nextBand = 0;
    uint64_t nextToWrite = 0;
    Band* filling = nullptr;
    uLong adler = 1;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Band*> queue;
    bool stopping = false;
    std::atomic<bool> failed{false};
    std::string error;
    std::vector<std::thread> workers;
};

namespace {

Band* bandAt(BandWriter* w, uint64_t index) { return &w->slots[index % w->slots.size()]; }

void failWriterLocked(BandWriter* w, const std::string& message) {
    // The text first: the main thread reads it once it sees the flag.
    if (!w->failed) {
        w->error = message;
        w->failed = true;
    }
    w->changed.notify_all();
}

void failWriter(BandWriter* w, const std::string& message) {
    std::lock_guard<std::mutex> lock(w->mutex);
    failWriterLocked(w, message);
}

void filterBand(const BandWriter* w, Band* b) {
    size_t size = 0;
    for (const RowSpan& r : b->rows) size += r.length + 1;
    b->filtered.resize(size);
    uint8_t* out = b->filtered.data();
    for (size_t i = 0; i < b->rows.size(); ++i) {
        const RowSpan& r = b->rows[i];
        const uint8_t* row = b->raw.data() + r.offset;
        const uint8_t* above = r.firstOfPass ? nullptr : i == 0 ? b->context.data() : b->raw.data() + b->rows[i - 1].offset;
        int type = chooseFilterType(w->settings.filterTypes, row, above, r.length, w->stride);
        filterRow(type, row, above, r.length, w->stride, out);
        out += r.length + 1;
    }
    b->adler = adler32_z(1, b->filtered.data(), b->filtered.size());
}

// Deflates the band's filtered rows, ending on a byte boundary (or the
// stream's end for the last band). False on a zlib failure.
bool deflateBand(z_stream* z, Band* b) {
    const uint8_t* in = b->filtered.data();
    const size_t size = b->filtered.size();
    b->compressed.resize(size_t(deflateBound(z, uLong(std::min(size, ZLIB_SLICE)))) + 64);
    size_t inPos = 0, outPos = 0;
    for (;;) {
        if (b->compressed.size() - outPos < 64) b->compressed.resize(b->compressed.size() * 2);
        size_t slice = std::min(size - inPos, ZLIB_SLICE);
        bool allIn = inPos + slice == size;
        int flush = !allIn ? Z_NO_FLUSH : b->last ? Z_FINISH : Z_SYNC_FLUSH;
        z->next_in = const_cast<Bytef*>(in + inPos);
        z->avail_in = uInt(slice);
        z->next_out = b->compressed.data() + outPos;
        z->avail_out = uInt(std::min(b->compressed.size() - outPos, ZLIB_SLICE));
        int status = deflate(z, flush);
        if (status == Z_STREAM_ERROR) return false;
        inPos += slice - z->avail_in;
        outPos = size_t(z->next_out - b->compressed.data());
        if (allIn && z->avail_in == 0 && (b->last ? status == Z_STREAM_END : z->avail_out != 0)) break;
    }
    b->compressed.resize(outPos);
    return true;
}

// Filters, waits for the band before it to be filtered, primes the
// dictionary from it and compresses. A band before it shorter than the
// window primes less than the window holds: matches then reach back less far,
// but the stream stays valid.
void processBand(BandWriter* w, z_stream* z, Band* b) {
    filterBand(w, b);
    std::unique_lock<std::mutex> lock(w->mutex);
    b->filteredReady = true;
    w->changed.notify_all();
    Band* previous = b->previous;
    if (previous) {
        w->changed.wait(lock, [&] { return previous->filteredReady || w->stopping || w->failed; });
        if (w->stopping || w->failed) return;
    }
    lock.unlock();
    bool ok = deflateReset(z) == Z_OK;
    if (ok && previous) {
        size_t n = std::min(previous->filtered.size(), DICTIONARY_BYTES);
        ok = deflateSetDictionary(z, previous->filtered.data() + previous->filtered.size() - n, uInt(n)) == Z_OK;
    }
    lock.lock();
    if (previous) previous->successorPrimed = true;
    w->changed.notify_all();
    lock.unlock();
    if (ok) ok = deflateBand(z, b);
    lock.lock();
    if (!ok) {
        failWriterLocked(w, std::string("zlib failed compressing the image data: ") + (z->msg ? z->msg : "unknown error"));
        return;
    }
    b->compressedReady = true;
    w->changed.notify_all();
}

void runWorker(BandWriter* w) {
    z_stream z = {};
    const DeflateChoice& d = w->settings.deflate;
    if (deflateInit2(&z, d.level, Z_DEFLATED, -d.windowBits, d.memLevel, d.strategy) != Z_OK) {
        failWriter(w, "cannot set up zlib to compress the image data");
        return;
    }
    for (;;) {
        Band* b = nullptr;
        {
            std::unique_lock<std::mutex> lock(w->mutex);
            w->changed.wait(lock, [&] { return w->stopping || w->failed || !w->queue.empty(); });
            if (w->stopping || w->failed) break;
            b = w->queue.front();
            w->queue.pop_front();
        }
        try {
            processBand(w, &z, b);
        } catch (const std::bad_alloc&) {
            failWriter(w, "out of memory compressing the image data");
        }
    }
    deflateEnd(&z);
}

// Writes, in order, every band that is compressed; called and returns with
// the lock held, but releases it around the sink.
bool writeReadyBands(BandWriter* w, std::unique_lock<std::mutex>& lock) {
    while (!w->failed && w->nextToWrite < w->nextBand && bandAt(w, w->nextToWrite)->compressedReady) {
        Band* b = bandAt(w, w->nextToWrite);
        lock.unlock();
        bool ok = putStreamBytes(&w->output, b->compressed.data(), b->compressed.size());
        w->adler = adler32_combine(w->adler, b->adler, z_off_t(b->filtered.size()));
        lock.lock();
        if (!ok) failWriterLocked(w, w->output.sink.failureMessage);
        b->written = true;
        ++w->nextToWrite;
        w->changed.notify_all();
    }
    return !w->failed;
}

bool slotFree(const Band* b) { return !b->inUse || (b->written && (b->last || b->successorPrimed)); }

// The slot for the next band, once the band that held it is written and no
// longer needed as a dictionary.
Band* acquireBand(BandWriter* w) {
    std::unique_lock<std::mutex> lock(w->mutex);
    Band* b = bandAt(w, w->nextBand);
    while (!slotFree(b)) {
        if (!writeReadyBands(w, lock)) return nullptr;
        if (slotFree(b)) break;
        w->changed.wait(lock);
    }
    if (w->failed) return nullptr;
    b->index = w->nextBand;
    b->inUse = true;
    b->last = false;
    b->previous = w->nextBand > 0 ? bandAt(w, w->nextBand - 1) : nullptr;
    b->raw.clear();
    b->rows.clear();
    b->context.clear();
    b->filteredReady = b->successorPrimed = b->compressedReady = b->written = false;
    ++w->nextBand;
    return b;
}

bool queueBand(BandWriter* w, Band* b, bool last) {
    std::unique_lock<std::mutex> lock(w->mutex);
    b->last = last;
    w->queue.push_back(b);
    w->filling = nullptr;
    w->changed.notify_all();
    return writeReadyBands(w, lock);
}

bool appendRow(BandWriter* w, const uint8_t* row) {
    if (!w->filling && !(w->filling = acquireBand(w))) return false;
    Band* b = w->filling;
    if (b->rows.empty() && !w->cursor.firstOfPass) {
        // The row above is the last of the band before, which stays untouched until written.
        const Band* p = b->previous;
        const RowSpan& above = p->rows.back();
        b->context.assign(p->raw.begin() + above.offset, p->raw.begin() + above.offset + above.length);
    }
    RowSpan span = {b->raw.size(), size_t(w->cursor.geometry.rowBytes), w->cursor.firstOfPass};
    b->raw.resize(b->raw.size() + span.length);
    extractPassRow(&w->layout, &w->cursor.geometry, row, b->raw.data() + span.offset);
    b->rows.push_back(span);
    cursorStoredRow(&w->cursor);
    --w->rowsLeft;
    if (b->raw.size() >= w->settings.bandBytes || w->rowsLeft == 0) return queueBand(w, b, w->rowsLeft == 0);
    return true;
}

}  // namespace

BandWriter* startBandWriter(const ImageDataLayout* layout, const BandSettings* settings, ImageDataSink sink,
                            const char** error) {
    BandWriter* w = nullptr;
    try {
        w = new BandWriter;
        w->layout = *layout;
        w->settings = *settings;
        w->settings.threads = std::max(1, settings->threads);
        w->settings.bandBytes = std::max<uint64_t>(settings->bandBytes, 1);
        w->stride = filterStride(layout);
        w->output.sink = sink;
        w->cursor = startRowCursor(layout);
        w->rowsLeft = storedRowCount(layout);
        // Two bands a worker keep every worker busy while the oldest waits to be written.
        w->slots.resize(size_t(w->settings.threads) * 2 + 2);
        uint8_t header[2];
        zlibStreamHeader(&w->settings.deflate, header);
        putStreamBytes(&w->output, header, 2);
        for (int i = 0; i < w->settings.threads; ++i) w->workers.emplace_back(runWorker, w);
    } catch (const std::bad_alloc&) {
        destroyBandWriter(w);
        *error = "out of memory setting up the image data compression";
        return nullptr;
    } catch (const std::system_error&) {
        destroyBandWriter(w);
        *error = "cannot start the image data compression threads";
        return nullptr;
    }
    return w;
}

bool addBandRow(BandWriter* w, const uint8_t* row) {
    if (w->failed) return false;
    if (cursorDone(&w->layout, &w->cursor)) {
        failWriter(w, "more image rows than the image has");
        return false;
    }
    bool ok = true;
    try {
        if (cursorTakesRow(&w->cursor)) ok = appendRow(w, row);
    } catch (const std::bad_alloc&) {
        failWriter(w, "out of memory collecting the image data");
        return false;
    }
    advanceRowCursor(&w->layout, &w->cursor);
    return ok;
}

bool finishBandWriter(BandWriter* w) {
    if (w->failed) return false;
    if (w->rowsLeft != 0) {
        failWriter(w, "fewer image rows than the image has");
        return false;
    }
    try {
        // An image without stored rows still needs a stream: one empty last band.
        if (w->nextBand == 0) {
            Band* b = acquireBand(w);
            if (!b || !queueBand(w, b, true)) return false;
        }
        std::unique_lock<std::mutex> lock(w->mutex);
        while (w->nextToWrite < w->nextBand) {
            if (!writeReadyBands(w, lock)) return false;
            if (w->nextToWrite < w->nextBand) w->changed.wait(lock);
        }
        lock.unlock();
    } catch (const std::bad_alloc&) {
        failWriter(w, "out of memory writing the image data");
        return false;
    }
    uint8_t trailer[4] = {uint8_t(w->adler >> 24), uint8_t(w->adler >> 16), uint8_t(w->adler >> 8), uint8_t(w->adler)};
    if (!putStreamBytes(&w->output, trailer, 4) || !flushStreamBytes(&w->output)) {
        failWriter(w, w->output.sink.failureMessage);
        return false;
    }
    return true;
}

const char* bandWriterError(const BandWriter* w) { return w->error.c_str(); }

void destroyBandWriter(BandWriter* w) {
    if (!w) return;
    {
        std::lock_guard<std::mutex> lock(w->mutex);
        w->stopping = true;
        w->changed.notify_all();
    }
    for (std::thread& t : w->workers) t.join();
    delete w;
}

}  // namespace rasterpack
