// pngdecodefloor - the least any PNG-to-PNM decoder built on libpng can take:
// decodes a non-alpha 8- or 16-bit grey or RGB PNG whole into memory with
// libpng, de-interlacing as needed, and writes it as a raw PGM or PPM to
// standard output with one fwrite a row.
//   pngdecodefloor in.png > out.ppm
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

namespace {

struct Decoded {
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0;
    size_t rowBytes = 0;
    png_bytep pixels = nullptr;
    png_bytepp rows = nullptr;
};

// All libpng work in one frame that holds nothing needing destruction.
bool decode(FILE* f, Decoded* d) {
    d->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    d->info = d->png ? png_create_info_struct(d->png) : nullptr;
    if (!d->info) return false;
    if (setjmp(png_jmpbuf(d->png))) return false;
    png_init_io(d->png, f);
    png_read_info(d->png, d->info);
    png_get_IHDR(d->png, d->info, &d->width, &d->height, &d->depth, &d->colorType, nullptr, nullptr, nullptr);
    if ((d->colorType != PNG_COLOR_TYPE_RGB && d->colorType != PNG_COLOR_TYPE_GRAY) || d->depth < 8) return false;
    png_set_interlace_handling(d->png);
    png_read_update_info(d->png, d->info);
    d->rowBytes = png_get_rowbytes(d->png, d->info);
    d->pixels = static_cast<png_bytep>(malloc(d->rowBytes * d->height));
    d->rows = static_cast<png_bytepp>(malloc(sizeof(png_bytep) * d->height));
    if (!d->pixels || !d->rows) return false;
    for (png_uint_32 y = 0; y < d->height; ++y) d->rows[y] = d->pixels + y * d->rowBytes;
    png_read_image(d->png, d->rows);
    png_read_end(d->png, nullptr);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: pngdecodefloor in.png > out.pnm\n");
        return 1;
    }
    FILE* f = fopen(argv[1], "rb");
    if (!f) {
        perror(argv[1]);
        return 1;
    }
    Decoded d;
    if (!decode(f, &d)) {
        fprintf(stderr, "pngdecodefloor: needs an 8- or 16-bit grey or RGB PNG\n");
        return 1;
    }
    fclose(f);
    printf("P%c\n%u %u\n%d\n", d.colorType == PNG_COLOR_TYPE_RGB ? '6' : '5', unsigned(d.width),
           unsigned(d.height), d.depth == 16 ? 65535 : 255);
    for (png_uint_32 y = 0; y < d.height; ++y) fwrite(d.rows[y], 1, d.rowBytes, stdout);
    png_destroy_read_struct(&d.png, &d.info, nullptr);
    free(d.pixels);
    free(d.rows);
    return fflush(stdout) == 0 ? 0 : 1;
}
