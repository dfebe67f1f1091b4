#include "imagedata.h"

#include "bandcompress.h"
#include "rowfilter.h"

#include <orrim.h>
#include <zlib.h>

#include <new>
#include <thread>

namespace rasterpack {

struct ImageDataWriter {
    BandWriter* bands = nullptr;
};

bool usesImageDataWriter(int threads) { return threads != 1; }

int resolveThreadCount(int threads) {
    if (threads > 0) return threads;
    unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? int(cores) : 1;
}

LibpngChoice libpngChoice(const ImageDataLayout* layout, const ImageDataOptions* options) {
    LibpngChoice c;
    int filter = options->filter >= 0 ? options->filter : defaultFilterChoice(options->palette, layout->depth);
    c.filterTypes = libpngFilterTypes(filter, layout->width, layout->height);
    c.deflate.level = options->compression >= 0 ? options->compression : Z_DEFAULT_COMPRESSION;
    c.deflate.strategy = c.filterTypes == 1u ? Z_DEFAULT_STRATEGY : Z_FILTERED;
    c.deflate.memLevel = 8;
    c.deflate.windowBits = windowBitsFor(filteredDataSize(layout));
    return c;
}

ImageDataWriter* startImageDataWriter(const ImageDataLayout* layout, const ImageDataOptions* options,
                                      ImageDataSink sink, const char** error) {
    ImageDataWriter* w = new (std::nothrow) ImageDataWriter;
    if (!w) {
        *error = "out of memory setting up the image data writer";
        return nullptr;
    }
    // The band writer does what libpng's row writer would with the request.
    LibpngChoice choice = libpngChoice(layout, options);
    BandSettings s;
    s.threads = resolveThreadCount(options->threads);
    s.filterTypes = choice.filterTypes;
    s.deflate = choice.deflate;
    w->bands = startBandWriter(layout, &s, sink, error);
    if (!w->bands) {
        delete w;
        return nullptr;
    }
    return w;
}

bool addImageDataRow(ImageDataWriter* w, const uint8_t* row) { return addBandRow(w->bands, row); }

bool finishImageData(ImageDataWriter* w) { return finishBandWriter(w->bands); }

const char* imageDataError(const ImageDataWriter* w) { return bandWriterError(w->bands); }

void destroyImageDataWriter(ImageDataWriter* w) {
    if (!w) return;
    destroyBandWriter(w->bands);
    delete w;
}

}  // namespace rasterpack
