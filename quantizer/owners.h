// Owners for what the library and the C allocator hand out, so that a run
// gives everything back however it ends: normally, or through a fatal hook
// that unwinds from pm_error to whoever started the run.
#ifndef HUECUT_OWNERS_H
#define HUECUT_OWNERS_H

#include <orrim.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace huecut {

// A whole image from the library's readers, freed with its row count.
struct PixelArrayRelease {
    int rows;
    void operator()(Pixel** pixels) const { pm_freearray(pixels, rows); }
};
typedef std::unique_ptr<Pixel*[], PixelArrayRelease> OwnedPixels;

struct ColorHistRelease {
    void operator()(ColorHistEntry* hist) const { ppm_freecolorhist(hist); }
};
typedef std::unique_ptr<ColorHistEntry[], ColorHistRelease> OwnedColorHist;

struct ColorHashRelease {
    void operator()(ColorHashTable* hash) const { ppm_freecolorhash(hash); }
};
typedef std::unique_ptr<ColorHashTable, ColorHashRelease> OwnedColorHash;

// A row from pm_allocrow.
struct RowRelease {
    void operator()(void* row) const { pm_freerow(row); }
};
template <typename T>
using OwnedRow = std::unique_ptr<T[], RowRelease>;

// A block from malloc or calloc.
struct MallocRelease {
    void operator()(void* block) const { free(block); }
};
template <typename T>
using MallocBlock = std::unique_ptr<T[], MallocRelease>;

// A stream a run reads by name: for "-" the run's standard input, which it
// borrows and leaves open; else the file it opens, closed however the run
// ends.
class ReadStream {
public:
    ReadStream(const char* name, FILE* standardInput)
        : opened_(strcmp(name, "-") != 0), stream_(opened_ ? pm_openr(name) : standardInput) {}
    ReadStream(const ReadStream&) = delete;
    ReadStream& operator=(const ReadStream&) = delete;
    ~ReadStream() {
        if (opened_) pm_closer(stream_);
    }
    FILE* get() const { return stream_; }
    // Closes a file the run opened, a read error on it ending the run as
    // pm_close reports it; standard input stays open.
    void close() {
        if (!opened_) return;
        opened_ = false;
        pm_close(stream_);
    }

private:
    bool opened_;
    FILE* stream_;
};

}  // namespace huecut

#endif
