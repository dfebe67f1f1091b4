#include "imagedata.h"

#include "bandcompress.h"
#include "optimize.h"
#include "rowfilter.h"

#include <orrim.h>
#include <zlib.h>

#include <new>
#include <thread>

namespace rasterpack {

struct ImageDataWriter {
    BandWriter* bands = nullptr;
    OptimizeWriter* optimizer = nullptr;
    bool verbose = false;
};

namespace {

// The zlib settings libpng would use for the same request.
DeflateChoice defaultDeflate(const ImageDataOptions* options, unsigned filterTypes, uint64_t dataSize) {
    DeflateChoice d;
    d.level = options->compression >= 0 ? options->compression : Z_DEFAULT_COMPRESSION;
    d.strategy = filterTypes == 1u ? Z_DEFAULT_STRATEGY : Z_FILTERED;
    d.memLevel = 8;
    d.windowBits = windowBitsFor(dataSize);
    return d;
}

void reportProgress(void*, const char* line) { pm_message("%s", line); }

}  // namespace

bool usesImageDataWriter(int threads, bool optimize) { return optimize || threads != 1; }

int resolveThreadCount(int threads) {
    if (threads > 0) return threads;
    unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? int(cores) : 1;
}

ImageDataWriter* startImageDataWriter(const ImageDataLayout* layout, const ImageDataOptions* options,
                                      ImageDataSink sink, const char** error) {
    ImageDataWriter* w = new (std::nothrow) ImageDataWriter;
    if (!w) {
        *error = "out of memory setting up the image data writer";
        return nullptr;
    }
    w->verbose = options->verbose;
    int threads = resolveThreadCount(options->threads);
    // What libpng's row writer would do with the same request: the band
    // writer matches it, and the optimiser has it as a candidate.
    int filter = options->filter >= 0 ? options->filter : defaultFilterChoice(options->palette, layout->depth);
    unsigned filterTypes = libpngFilterTypes(filter, layout->width, layout->height);
    DeflateChoice deflate = defaultDeflate(options, filterTypes, filteredDataSize(layout));
    if (options->optimize) {
        OptimizeSettings s;
        s.threads = threads;
        s.filter = options->filter;
        s.level = options->compression;
        s.palette = options->palette;
        s.exhaustive = options->exhaustive;
        s.defaultFilterTypes = filterTypes;
        s.defaultDeflate = deflate;
        if (options->verbose) s.progress = reportProgress;
        w->optimizer = startOptimizeWriter(layout, &s, sink, error);
    } else {
        BandSettings s;
        s.threads = threads;
        s.filterTypes = filterTypes;
        s.deflate = deflate;
        w->bands = startBandWriter(layout, &s, sink, error);
    }
    if (!w->optimizer && !w->bands) {
        delete w;
        return nullptr;
    }
    return w;
}

bool addImageDataRow(ImageDataWriter* w, const uint8_t* row) {
    return w->optimizer ? addOptimizeRow(w->optimizer, row) : addBandRow(w->bands, row);
}

bool finishImageData(ImageDataWriter* w) {
    if (!w->optimizer) return finishBandWriter(w->bands);
    OptimizeResult result;
    if (!finishOptimizeWriter(w->optimizer, &result)) return false;
    if (w->verbose)
        pm_message("-optimize: %d trials; best: filter %s, %s: %llu bytes of image data", result.trials,
                   filterPlanName(result.filter), describeCoder(&result).c_str(),
                   static_cast<unsigned long long>(result.size));
    return true;
}

const char* imageDataError(const ImageDataWriter* w) {
    return w->optimizer ? optimizeWriterError(w->optimizer) : bandWriterError(w->bands);
}

void destroyImageDataWriter(ImageDataWriter* w) {
    if (!w) return;
    destroyBandWriter(w->bands);
    destroyOptimizeWriter(w->optimizer);
    delete w;
}

}  // namespace rasterpack
