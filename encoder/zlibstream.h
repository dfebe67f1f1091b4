// Pieces of a zlib stream assembled by hand, and the sink that carries the
// stream to the file in IDAT-sized pieces.
#ifndef RASTERPACK_ZLIBSTREAM_H
#define RASTERPACK_ZLIBSTREAM_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rasterpack {

// The zlib settings of one stream.
struct DeflateChoice {
    int level = 6;
    int strategy = 0;     // Z_DEFAULT_STRATEGY, Z_FILTERED, Z_RLE ...
    int memLevel = 8;
    int windowBits = 15;
};

// Receives the stream one IDAT chunk's data at a time, in order. Returns
// false when the data could not be written; the writer then stops.
struct ImageDataSink {
    bool (*writeChunk)(void* context, const uint8_t* data, size_t size) = nullptr;
    void* context = nullptr;
    const char* failureMessage = "cannot write the image data";  // the writer's error when writeChunk fails
};

// Bytes of image data per IDAT chunk.
const size_t IDAT_CHUNK_BYTES = 65536;

// The smallest window (9..15 bits) that reaches back over all of size bytes:
// a larger one compresses no better and costs the decoder more memory. This
// is also the window libpng picks for image data of that size.
int windowBitsFor(uint64_t size);

// The two header bytes of a zlib stream with these settings.
void zlibStreamHeader(const DeflateChoice* choice, uint8_t out[2]);

// Gathers stream bytes into chunks for the sink.
struct ChunkedOutput {
    ImageDataSink sink;
    std::vector<uint8_t> pending;  // at most IDAT_CHUNK_BYTES
    bool failed = false;
};

// False once the sink has failed.
bool putStreamBytes(ChunkedOutput* out, const uint8_t* data, size_t size);
bool flushStreamBytes(ChunkedOutput* out);

// Name of a zlib strategy for messages.
const char* strategyName(int strategy);

}  // namespace rasterpack

#endif
