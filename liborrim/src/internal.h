// internal.h - state and helpers shared by the library's own source files.
// Not installed; programs see only orrim.h.
#ifndef ORRIM_INTERNAL_H
#define ORRIM_INTERNAL_H

#include <cstddef>

// True when the program was given -plain: the writers then write plain PNM.
bool pm_plainRequested();

// malloc that ends the run naming what was being allocated. bytes may be 0.
void* pm_allocOrDie(size_t bytes, const char* what);

// A growable scratch buffer, reused across rows so that reading and writing
// a row does not allocate.
struct ByteBuffer {
    unsigned char* data = nullptr;
    size_t size = 0;
};
// Makes buf hold at least bytes bytes (contents are not kept).
unsigned char* pm_reserveBuffer(ByteBuffer& buf, size_t bytes, const char* what);

// "standard input" for the stream stdin, else a neutral word for messages.
const char* pm_streamName(const void* stream);

#endif
