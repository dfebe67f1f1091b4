// pnmcopy - test program: reads a PNM or PAM image (file or standard input)
// through a seekable stream, reads the raster twice (rewinding with a 4-byte
// and an 8-byte position token) and fails if the passes differ, then writes
// the image to standard output in the same format family (a PAM as a PAM of
// its tuple type, alpha included).
//   pnmcopy [pnmfile]
#include <orrim.h>

#include <cstring>
#include <vector>

namespace {

struct Raster {
    std::vector<Xel> pixels;
    std::vector<Sample> alpha;
    bool operator==(const Raster& o) const { return pixels == o.pixels && alpha == o.alpha; }
};

Raster readRaster(FILE* f, int cols, int rows, Sample maxval, int format) {
    Raster raster;
    Xel* row = pnm_allocrow(cols);
    std::vector<Sample> alpha(static_cast<size_t>(cols));
    for (int y = 0; y < rows; ++y) {
        pnm_readpamrow(f, row, alpha.data(), cols, maxval, format);
        raster.pixels.insert(raster.pixels.end(), row, row + cols);
        raster.alpha.insert(raster.alpha.end(), alpha.begin(), alpha.end());
    }
    pm_freerow(row);
    return raster;
}

void writeImage(const Raster& image, int cols, int rows, Sample maxval, int format) {
    // The PNM writer takes an alpha-less PAM code as well.
    if (!pnm_formathasalpha(format)) {
        pnm_writepnminit(stdout, cols, rows, maxval, format, 0);
        for (int y = 0; y < rows; ++y)
            pnm_writepnmrow(stdout, &image.pixels[size_t(y) * cols], cols, maxval, format, 0);
        return;
    }
    pnm_writepaminit(stdout, cols, rows, maxval, format);
    for (int y = 0; y < rows; ++y)
        pnm_writepamrow(stdout, &image.pixels[size_t(y) * cols], &image.alpha[size_t(y) * cols], cols, maxval,
                        format);
}

}  // namespace

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    if (argc > 2) pm_usage("[pnmfile]");
    FILE* f = pm_openr_seekable(argc == 2 ? argv[1] : "-");
    int cols, rows, format;
    Sample maxval;
    pnm_readpaminit(f, &cols, &rows, &maxval, &format);
    uint32_t shortToken;
    uint64_t longToken;
    pm_tell2(f, &shortToken, sizeof shortToken);
    pm_tell2(f, &longToken, sizeof longToken);
    Raster first = readRaster(f, cols, rows, maxval, format);
    pm_seek2(f, &shortToken, sizeof shortToken);
    Raster second = readRaster(f, cols, rows, maxval, format);
    pm_seek2(f, &longToken, sizeof longToken);
    Raster third = readRaster(f, cols, rows, maxval, format);
    if (!(first == second) || !(first == third)) pm_error("the raster differs after rewinding");
    pm_message("read a %d x %d image", cols, rows);
    writeImage(first, cols, rows, maxval, format);
    pm_closer(f);
    pm_closew(stdout);
    return 0;
}
