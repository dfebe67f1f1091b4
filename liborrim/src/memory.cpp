// memory.cpp - rows, whole images and scratch buffers; every failure ends
// the run naming what was being allocated.
#include <orrim.h>

#include "internal.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Bytes for count elements of size bytes, or the run ends.
size_t checkedProduct(size_t count, size_t size, const char* what) {
    if (size != 0 && count > SIZE_MAX / size) pm_error("%s is too large to allocate", what);
    return count * size;
}

size_t roundUp(size_t bytes, size_t unit, const char* what) {
    if (bytes > SIZE_MAX - (unit - 1)) pm_error("%s is too large to allocate", what);
    return (bytes + unit - 1) / unit * unit;
}

// malloc that ends the run naming what was being allocated. bytes may be 0.
void* allocOrDie(size_t bytes, const char* what) {
    void* p = malloc(bytes ? bytes : 1);
    if (!p) pm_error("out of memory allocating %s (%zu bytes)", what, bytes);
    return p;
}

}  // namespace

unsigned char* pm_reserveBuffer(ByteBuffer& buf, size_t bytes, const char* what) {
    if (bytes <= buf.size && buf.data) return buf.data;
    free(buf.data);
    buf.data = nullptr;
    buf.size = 0;
    buf.data = static_cast<unsigned char*>(allocOrDie(bytes, what));
    buf.size = bytes;
    return buf.data;
}

void* pm_allocrow(int cols, size_t size) {
    if (cols < 0) pm_error("cannot allocate a row of %d columns", cols);
    return allocOrDie(checkedProduct(size_t(cols), size, "a row"), "a row");
}

void pm_freerow(void* row) { free(row); }

Xel* pnm_allocrow(int cols) { return static_cast<Xel*>(pm_allocrow(cols, sizeof(Xel))); }
Pixel* ppm_allocrow(int cols) { return static_cast<Pixel*>(pm_allocrow(cols, sizeof(Pixel))); }

void* pm_allocarray(int cols, int rows, size_t size) {
    if (cols < 0 || rows < 0) pm_error("cannot allocate an image of %d x %d", cols, rows);
    const char* what = "an image";
    // The row pointers come first, the rows follow in the same block.
    size_t pointerBytes = roundUp(checkedProduct(size_t(rows), sizeof(void*), what), 16, what);
    size_t rowBytes = checkedProduct(size_t(cols), size, what);
    size_t dataBytes = checkedProduct(size_t(rows), rowBytes, what);
    if (dataBytes > SIZE_MAX - pointerBytes) pm_error("%s is too large to allocate", what);
    char* block = static_cast<char*>(allocOrDie(pointerBytes + dataBytes, what));
    char** rowPointers = reinterpret_cast<char**>(block);
    char* data = block + pointerBytes;
    for (int y = 0; y < rows; ++y) rowPointers[y] = data + size_t(y) * rowBytes;
    return block;
}

void pm_freearray(void* array, int rows) {
    (void)rows;
    free(array);
}

void strfree(const char* s) { free(const_cast<char*>(s)); }

int pm_maxvaltobits(Sample maxval) {
    int bits = 1;
    while (bits < 32 && (maxval >> bits) != 0) ++bits;
    return bits;
}

Sample pm_bitstomaxval(int bits) {
    if (bits <= 0) return 0;
    if (bits >= 32) return UINT32_MAX;
    return (Sample(1) << bits) - 1;
}
