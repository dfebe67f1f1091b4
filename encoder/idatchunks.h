// Writing the image data chunks and the end of the file through libpng when
// the image data does not come from libpng's own row writer.
#ifndef RASTERPACK_IDATCHUNKS_H
#define RASTERPACK_IDATCHUNKS_H

#include <png.h>

#include <cstddef>
#include <cstdint>

// An ImageDataSink's writeChunk with the write structure as context: one IDAT
// chunk. A libpng error (its line already printed) comes back as false: it
// arms a recovery point of its own, so no jump crosses the caller's frames.
bool writeIdatChunk(void* png, const uint8_t* data, size_t size);

// The IEND chunk, which png_write_end would refuse to write because libpng
// did not see the image data go by.
void writeEndChunk(png_structp png);

#endif
