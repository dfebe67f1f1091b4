#include "wholedeflate.h"

#include <libdeflate.h>
#include <zopfli/zopfli.h>

#include <cstdlib>
#include <new>

namespace rasterpack {

WholeDeflater::WholeDeflater(int level) : level_(level) {
    compressor_ = libdeflate_alloc_compressor(level);
    if (!compressor_) throw std::bad_alloc();
}

WholeDeflater::~WholeDeflater() { libdeflate_free_compressor(compressor_); }

size_t WholeDeflater::deflatedSize(const uint8_t* data, size_t size) {
    size_t bound = libdeflate_deflate_compress_bound(compressor_, size);
    if (scratch_.size() < bound) scratch_.resize(bound);
    // Within the bound the call cannot run out of room.
    return libdeflate_deflate_compress(compressor_, data, size, scratch_.data(), scratch_.size());
}

void WholeDeflater::zlibStream(const uint8_t* data, size_t size, int windowBits, std::vector<uint8_t>* out) {
    out->resize(libdeflate_zlib_compress_bound(compressor_, size));
    size_t written = libdeflate_zlib_compress(compressor_, data, size, out->data(), out->size());
    out->resize(written);
    if (written >= 2) declareZlibWindow(out->data(), windowBits);
}

void zopfliZlibStream(const uint8_t* data, size_t size, int windowBits, int iterations, std::vector<uint8_t>* out) {
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    options.numiterations = iterations;
    unsigned char* stream = nullptr;
    size_t written = 0;
    ZopfliCompress(&options, ZOPFLI_FORMAT_ZLIB, data, size, &stream, &written);
    if (!stream) throw std::bad_alloc();
    try {
        out->assign(stream, stream + written);
    } catch (...) {
        free(stream);
        throw;
    }
    free(stream);
    if (written >= 2) declareZlibWindow(out->data(), windowBits);
}

int smallestWindowBits(uint64_t size) {
    int bits = 9;
    while (bits < 15 && (uint64_t(1) << bits) < size) ++bits;
    return bits;
}

void declareZlibWindow(uint8_t header[2], int windowBits) {
    unsigned cmf = (header[0] & 0x0fu) | unsigned(windowBits - 8) << 4;
    unsigned flg = header[1] & 0xe0u;  // level hint and preset-dictionary flag
    flg += 31 - (cmf * 256 + flg) % 31;
    header[0] = static_cast<uint8_t>(cmf);
    header[1] = static_cast<uint8_t>(flg);
}

}  // namespace rasterpack
