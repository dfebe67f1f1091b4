// Fuzzes the PNM reader: header, every row, promotion to PPM, and the
// whole-image readers. A fatal line
// from the library is an expected outcome; a crash, a sanitizer report or a
// hang is a finding.
#include <orrim.h>

#include <cstdint>
#include <cstdio>

namespace {

struct FatalInput {};

[[noreturn]] void throwFatal() { throw FatalInput{}; }

// Keeps each run fast: a header may claim a huge image over a few bytes.
const long MAX_FUZZ_PIXELS = 1 << 20;

void readWholeImage(FILE* f) {
    int cols, rows, format;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    if (long(cols) * rows > MAX_FUZZ_PIXELS || rows > MAX_FUZZ_PIXELS) return;
    // One row kept across runs: a fatal line leaves by exception, and a row
    // freed only on the normal path would leak on every refused input.
    static Xel* row = nullptr;
    static int rowCols = -1;
    if (cols > rowCols) {
        pm_freerow(row);
        row = nullptr;
        rowCols = -1;
        row = pnm_allocrow(cols);
        rowCols = cols;
    }
    for (int y = 0; y < rows; ++y) {
        pnm_readpnmrow(f, row, cols, maxval, format);
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

}  // namespace

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
    return 0;
}
