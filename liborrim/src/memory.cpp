// memory.cpp - rows, whole images and scratch buffers; every failure ends
// the run naming what was being allocated.
#include <orrim.h>

#include "internal.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace {

size_t checkedProduct(size_t count, size_t size, const char* what) { return pm_checkedBytes(count, size, 0, what); }

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

size_t pm_checkedBytes(size_t count, size_t size, size_t extra, const char* what) {
    if (size != 0 && count > SIZE_MAX / size) pm_error("%s is too large to allocate", what);
    if (count * size > SIZE_MAX - extra) pm_error("%s is too large to allocate", what);
    return count * size + extra;
}

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

namespace {

// Every image array starts with this record, just before its row pointers:
// what pm_freearray must release besides the block itself.
struct alignas(16) ArrayHeader {
    void* rows;          // a separate block holding the rows, or null
    size_t mappedBytes;  // the block is an anonymous mapping of this size, or 0
};

// Above this many bytes, a block of nothing but row pointers is mapped
// rather than allocated: pointers left null (rows of no bytes) are never
// written, so they cost address space but no memory.
const size_t MAP_THRESHOLD = size_t(1) << 20;

// Block with the header and rows row pointers, plus extraBytes after them
// (16-byte aligned); pointers null.
char** allocRowPointers(int rows, size_t extraBytes, size_t* pointerBytes, const char* what) {
    *pointerBytes = roundUp(checkedProduct(size_t(rows), sizeof(void*), what), 16, what);
    size_t bytes = *pointerBytes + sizeof(ArrayHeader);
    if (extraBytes > SIZE_MAX - bytes) pm_error("%s is too large to allocate", what);
    bytes += extraBytes;
    ArrayHeader* header;
    if (extraBytes == 0 && bytes >= MAP_THRESHOLD) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) pm_error("out of memory allocating %s (%zu bytes)", what, bytes);
        header = static_cast<ArrayHeader*>(p);
        header->mappedBytes = bytes;
    } else {
        header = static_cast<ArrayHeader*>(allocOrDie(bytes, what));
        header->mappedBytes = 0;
        memset(header + 1, 0, *pointerBytes);
    }
    header->rows = nullptr;
    return reinterpret_cast<char**>(header + 1);
}

ArrayHeader* headerOf(void* array) { return static_cast<ArrayHeader*>(array) - 1; }

}  // namespace

void* pm_allocarray(int cols, int rows, size_t size) {
    if (cols < 0 || rows < 0) pm_error("cannot allocate an image of %d x %d", cols, rows);
    const char* what = "an image";
    // The rows follow the row pointers in the same block. Rows of no bytes
    // have nothing to point at: their pointers stay null.
    size_t rowBytes = checkedProduct(size_t(cols), size, what);
    size_t dataBytes = checkedProduct(size_t(rows), rowBytes, what);
    size_t pointerBytes;
    char** rowPointers = allocRowPointers(rows, dataBytes, &pointerBytes, what);
    if (rowBytes == 0) return rowPointers;
    char* data = reinterpret_cast<char*>(rowPointers) + pointerBytes;
    for (int y = 0; y < rows; ++y) rowPointers[y] = data + size_t(y) * rowBytes;
    return rowPointers;
}

void* pm_arrayOverRows(void* data, size_t rowBytes, int rows) {
    const char* what = "an image";
    size_t pointerBytes;
    char** rowPointers;
    try {
        rowPointers = allocRowPointers(rows, 0, &pointerBytes, what);
    } catch (...) {
        free(data);  // a fatal handler that throws must not leak the rows
        throw;
    }
    if (rowBytes == 0) {
        free(data);
        return rowPointers;
    }
    headerOf(rowPointers)->rows = data;
    char* base = static_cast<char*>(data);
    for (int y = 0; y < rows; ++y) rowPointers[y] = base + size_t(y) * rowBytes;
    return rowPointers;
}

void pm_freearray(void* array, int rows) {
    (void)rows;
    if (!array) return;
    ArrayHeader* header = headerOf(array);
    free(header->rows);
    if (header->mappedBytes)
        munmap(header, header->mappedBytes);
    else
        free(header);
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
