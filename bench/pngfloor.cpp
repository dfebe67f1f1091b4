// pngfloor - the least any PNM-to-PNG encoder built on libpng can take: holds
// a raw 8-bit PPM whole in memory and writes it as an RGB PNG to standard
// output with libpng's default filter and compression choices, the same ones
// rasterpack uses when given no -filter and no -compression.
//   pngfloor in.ppm > out.png
#include <orrim.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

namespace {

struct Image {
    int cols = 0, rows = 0;
    png_bytep pixels = nullptr;
    png_bytepp rowPointers = nullptr;
};

Image readRawPpm(const char* name) {
    Image image;
    FILE* f = pm_openr(name);
    Sample maxval = 0;
    int format = 0;
    pnm_readpnminit(f, &image.cols, &image.rows, &maxval, &format);
    if (format != RPPM_FORMAT || maxval != 255) pm_error("pngfloor needs a raw PPM of maxval 255");
    size_t rowBytes = size_t(image.cols) * 3;
    image.pixels = static_cast<png_bytep>(malloc(rowBytes * image.rows));
    image.rowPointers = static_cast<png_bytepp>(malloc(sizeof(png_bytep) * image.rows));
    if (!image.pixels || !image.rowPointers) pm_error("out of memory for a %d x %d image", image.cols, image.rows);
    if (fread(image.pixels, rowBytes, image.rows, f) != size_t(image.rows)) pm_error("truncated raster");
    for (int y = 0; y < image.rows; ++y) image.rowPointers[y] = image.pixels + y * rowBytes;
    pm_closer(f);
    return image;
}

// All libpng work in one frame that holds nothing needing destruction.
bool writePng(const Image* image) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) return false;
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, stdout);
    png_set_IHDR(png, info, image->cols, image->rows, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, image->rowPointers);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    if (argc != 2) pm_usage("in.ppm");
    Image image = readRawPpm(argv[1]);
    if (!writePng(&image)) pm_error("libpng failed");
    free(image.pixels);
    free(image.rowPointers);
    pm_closew(stdout);
    return 0;
}
