// readimage.cpp - whole images, and bringing a row to another maxval and
// format.
#include <orrim.h>

#include "internal.h"

#include <sys/stat.h>

#include <cstdint>

namespace {

// Least number of bytes the raster can take: rules out a truncated regular
// file before a large image is allocated for it.
uint64_t minimumRasterBytes(int cols, int rows, Sample maxval, int format) {
    uint64_t pixels = uint64_t(cols) * uint64_t(rows);
    switch (format) {
    case RPBM_FORMAT: return (uint64_t(cols) + 7) / 8 * uint64_t(rows);
    case RPGM_FORMAT: return pixels * (maxval > 255 ? 2 : 1);
    case RPPM_FORMAT: return pixels * (maxval > 255 ? 6 : 3);
    case PBM_FORMAT: return pixels;
    case PGM_FORMAT: return pixels == 0 ? 0 : 2 * pixels - 1;
    case PPM_FORMAT: return pixels == 0 ? 0 : 6 * pixels - 1;
    default: return 0;
    }
}

void checkRasterFits(FILE* f, int cols, int rows, Sample maxval, int format) {
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return;
    off_t pos = ftello(f);
    if (pos < 0 || pos > st.st_size) return;
    uint64_t remaining = uint64_t(st.st_size - pos);
    if (remaining < minimumRasterBytes(cols, rows, maxval, format))
        pm_error("premature end of file in the raster (the header promises %d x %d pixels)", cols, rows);
}

}  // namespace

Xel** pnm_readpnm(FILE* f, int* cols, int* rows, Sample* maxval, int* format) {
    pnm_readpnminit(f, cols, rows, maxval, format);
    checkRasterFits(f, *cols, *rows, *maxval, *format);
    Xel** image = static_cast<Xel**>(pm_allocarray(*cols, *rows, sizeof(Xel)));
    for (int y = 0; y < *rows; ++y) pnm_readpnmrow(f, image[y], *cols, *maxval, *format);
    return image;
}

Pixel** ppm_readppm(FILE* f, int* cols, int* rows, Sample* maxval) {
    int format;
    // The row reader already gives bit and grey pixels equal red, green and
    // blue, which is their promotion at the same maxval.
    return pnm_readpnm(f, cols, rows, maxval, &format);
}

Sample** pgm_readpgm(FILE* f, int* cols, int* rows, Sample* maxval) {
    int format;
    pnm_readpnminit(f, cols, rows, maxval, &format);
    if (pnm_formattype(format) == PPM_FORMAT) pm_error("the input is a PPM image; a PBM or PGM image is needed");
    checkRasterFits(f, *cols, *rows, *maxval, format);
    Sample** image = static_cast<Sample**>(pm_allocarray(*cols, *rows, sizeof(Sample)));
    Xel* row = pnm_allocrow(*cols);
    for (int y = 0; y < *rows; ++y) {
        pnm_readpnmrow(f, row, *cols, *maxval, format);
        for (int x = 0; x < *cols; ++x) image[y][x] = row[x].b;
    }
    pm_freerow(row);
    return image;
}

void pnm_promoteformatrow(Xel* row, int cols, Sample maxval, int format, Sample newmaxval, int newformat) {
    int family = pnm_formattype(format);
    int newFamily = pnm_formattype(newformat);
    if (family < 0) pm_error("unknown PNM format code 0x%x", unsigned(format));
    if (newFamily < 0) pm_error("unknown PNM format code 0x%x", unsigned(newformat));
    if (newFamily < family) pm_error("cannot convert a row to a format of fewer channels");
    if (maxval == 0 || newmaxval == 0) pm_error("cannot promote a row with maxval 0");
    if (family == PBM_FORMAT) maxval = 1;
    bool grey = family != PPM_FORMAT;
    if (maxval == newmaxval) {
        if (grey)
            for (int x = 0; x < cols; ++x) row[x].r = row[x].g = row[x].b;
        return;
    }
    for (int x = 0; x < cols; ++x) {
        if (grey) {
            Sample v = pm_rescalesample(row[x].b, maxval, newmaxval);
            row[x] = Xel{v, v, v};
        } else {
            row[x] = Xel{pm_rescalesample(row[x].r, maxval, newmaxval), pm_rescalesample(row[x].g, maxval, newmaxval),
                         pm_rescalesample(row[x].b, maxval, newmaxval)};
        }
    }
}
