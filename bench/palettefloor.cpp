// palettefloor - the least a palette PNG writer built on libpng can take:
// reads a raw PPM of maxval 255 and at most 256 colours, turns it into
// palette indexes in memory, then writes the palette PNG to standard output
// with libpng's default filter and compression, 8-bit indexes (or narrower
// as rasterpack chooses). Only the writing from memory is timed; it reports
//   palettefloor-write <wall seconds> <cpu seconds>
// on standard error.
//   palettefloor in.ppm > out.png
#include "benchclock.h"

#include <orrim.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

struct Indexed {
    int cols = 0, rows = 0, colours = 0, depth = 8;
    png_color palette[256];
    std::vector<png_byte> indexes;
    std::vector<png_bytep> rowPointers;
};

Indexed readAndIndex(const char* name) {
    Indexed image;
    FILE* f = pm_openr(name);
    Sample maxval = 0;
    int format = 0;
    pnm_readpnminit(f, &image.cols, &image.rows, &maxval, &format);
    if (format != RPPM_FORMAT || maxval != 255) pm_error("palettefloor needs a raw PPM of maxval 255");
    std::vector<int16_t> indexOf(1 << 24, -1);
    std::vector<png_byte> rgb(size_t(image.cols) * 3);
    image.indexes.resize(size_t(image.cols) * image.rows);
    for (int y = 0; y < image.rows; ++y) {
        if (fread(rgb.data(), 1, rgb.size(), f) != rgb.size()) pm_error("truncated raster");
        for (int x = 0; x < image.cols; ++x) {
            int key = rgb[3 * x] << 16 | rgb[3 * x + 1] << 8 | rgb[3 * x + 2];
            if (indexOf[key] < 0) {
                if (image.colours == 256) pm_error("more than 256 colours");
                image.palette[image.colours] = png_color{rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]};
                indexOf[key] = int16_t(image.colours++);
            }
            image.indexes[size_t(y) * image.cols + x] = png_byte(indexOf[key]);
        }
    }
    pm_closer(f);
    image.depth = image.colours <= 2 ? 1 : image.colours <= 4 ? 2 : image.colours <= 16 ? 4 : 8;
    for (int y = 0; y < image.rows; ++y) image.rowPointers.push_back(&image.indexes[size_t(y) * image.cols]);
    return image;
}

// All libpng work in one frame that holds nothing needing destruction.
bool writePng(Indexed* image) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) return false;
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, stdout);
    png_set_IHDR(png, info, image->cols, image->rows, image->depth, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, image->palette, image->colours);
    png_write_info(png, info);
    png_set_packing(png);
    png_write_image(png, image->rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    if (argc != 2) pm_usage("in.ppm");
    Indexed image = readAndIndex(argv[1]);
    double wall = seconds(CLOCK_MONOTONIC), cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
    if (!writePng(&image)) pm_error("libpng failed");
    fflush(stdout);
    fprintf(stderr, "palettefloor-write %.3f %.3f\n", seconds(CLOCK_MONOTONIC) - wall,
            seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu);
    pm_closew(stdout);
    return 0;
}
