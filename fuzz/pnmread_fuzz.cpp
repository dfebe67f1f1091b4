// Fuzzes the PNM and PAM reader: header, every row with its alpha,
// promotion to PPM, the whole-image readers, and the rewindable stream over
// a pipe (the raster read twice must come out the same). A fatal line from
// the library is an expected outcome; a crash, a sanitizer report, a hang or
// a raster that differs after a rewind is a finding.
#include <orrim.h>

#include "../liborrim/src/internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct FatalInput {};

[[noreturn]] void throwFatal() { throw FatalInput{}; }

// Keeps each run fast: a header may claim a huge image over a few bytes.
const long MAX_FUZZ_PIXELS = 1 << 20;

// Every row with its alpha (PAM of any tuple type included), each promoted.
void readWholeImage(FILE* f) {
    int cols, rows, format;
    Sample maxval;
    pnm_readpaminit(f, &cols, &rows, &maxval, &format);
    if (long(cols) * rows > MAX_FUZZ_PIXELS || rows > MAX_FUZZ_PIXELS) return;
    // One row kept across runs: a fatal line leaves by exception, and a row
    // freed only on the normal path would leak on every refused input.
    static Xel* row = nullptr;
    static std::vector<Sample> alpha;
    static int rowCols = -1;
    if (cols > rowCols) {
        pm_freerow(row);
        row = nullptr;
        rowCols = -1;
        row = pnm_allocrow(cols);
        alpha.resize(size_t(cols));
        rowCols = cols;
    }
    for (int y = 0; y < rows; ++y) {
        pnm_readpamrow(f, row, alpha.data(), cols, maxval, format);
        for (int x = 0; x < cols; ++x)
            if (alpha[size_t(x)] > maxval) abort();
        if (maxval <= PPM_OVERALLMAXVAL) pnm_promoteformatrow(row, cols, maxval, format, 255, PPM_FORMAT);
    }
}

// The whole-image readers over the same bytes: the stream cannot be
// measured, so the image grows as rows arrive. A fatal line must release
// what they had taken (the harness runs with leak checking).
void readWholeImageAtOnce(FILE* f) {
    int cols, rows, format;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    if (long(cols) * rows > MAX_FUZZ_PIXELS || rows > MAX_FUZZ_PIXELS) return;
    if (!pnm_rasterpresent(f, cols, rows, maxval, format)) return;
    rewind(f);
    if (pnm_formattype(format) == PPM_FORMAT) {
        Pixel** image = ppm_readppm(f, &cols, &rows, &maxval);
        pm_freearray(image, rows);
    } else {
        Sample** image = pgm_readpgm(f, &cols, &rows, &maxval);
        pm_freearray(image, rows);
    }
}

// Closes a stream however the run ends (a fatal line leaves by exception).
struct StreamGuard {
    FILE* f;
    ~StreamGuard() {
        if (f) fclose(f);
    }
};

std::vector<Xel> readRasterOnce(FILE* f, int cols, int rows, Sample maxval, int format) {
    std::vector<Xel> pixels(size_t(cols) * size_t(rows));
    for (int y = 0; y < rows; ++y) pnm_readpnmrow(f, pixels.data() + size_t(y) * size_t(cols), cols, maxval, format);
    return pixels;
}

// The input through a pipe and the rewindable stream over it: header, the
// raster's presence, the raster read twice with a rewind between.
void readThroughRewindablePipe(const uint8_t* data, size_t size) {
    int fds[2];
    if (pipe(fds) != 0) return;
    if (fcntl(fds[1], F_SETPIPE_SZ, 1 << 20) < int(size) ||
        (size > 0 && write(fds[1], data, size) != ssize_t(size))) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    close(fds[1]);
    StreamGuard guard{pm_openLazySeekable(fdopen(fds[0], "rb"), "the fuzz input")};
    FILE* f = guard.f;
    int cols, rows, format;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    if (long(cols) * rows > MAX_FUZZ_PIXELS || rows > MAX_FUZZ_PIXELS) return;
    bool present = pnm_rasterpresent(f, cols, rows, maxval, format);
    uint64_t token;
    pm_tell2(f, &token, sizeof token);
    std::vector<Xel> first = readRasterOnce(f, cols, rows, maxval, format);
    // A raster read whole cannot be shorter than the least size.
    if (!present) abort();
    pm_seek2(f, &token, sizeof token);
    if (readRasterOnce(f, cols, rows, maxval, format) != first) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        static char name[] = "pnmread_fuzz";
        static char quiet[] = "-quiet";
        char* argv[] = {name, quiet, nullptr};
        int argc = 2;
        pnm_init(&argc, argv);
        pm_setfatalhandler(throwFatal);
        ready = true;
    }
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f) return 0;
    try {
        readWholeImage(f);
    } catch (const FatalInput&) {
    }
    rewind(f);
    try {
        readWholeImageAtOnce(f);
    } catch (const FatalInput&) {
    }
    fclose(f);
    try {
        readThroughRewindablePipe(data, size);
    } catch (const FatalInput&) {
    }
    return 0;
}
