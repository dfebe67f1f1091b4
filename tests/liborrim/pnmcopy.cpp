// pnmcopy - test program: reads a PNM image (file or standard input) through
// a seekable stream, reads the raster twice (rewinding with a 4-byte and an
// 8-byte position token) and fails if the passes differ, then writes the
// image to standard output in the same format family.
//   pnmcopy [pnmfile]
#include <orrim.h>

#include <cstring>
#include <vector>

namespace {

std::vector<Xel> readRaster(FILE* f, int cols, int rows, Sample maxval, int format) {
    std::vector<Xel> image;
    Xel* row = pnm_allocrow(cols);
    for (int y = 0; y < rows; ++y) {
        pnm_readpnmrow(f, row, cols, maxval, format);
        image.insert(image.end(), row, row + cols);
    }
    pm_freerow(row);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    if (argc > 2) pm_usage("[pnmfile]");
    FILE* f = pm_openr_seekable(argc == 2 ? argv[1] : "-");
    int cols, rows, format;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    uint32_t shortToken;
    uint64_t longToken;
    pm_tell2(f, &shortToken, sizeof shortToken);
    pm_tell2(f, &longToken, sizeof longToken);
    std::vector<Xel> first = readRaster(f, cols, rows, maxval, format);
    pm_seek2(f, &shortToken, sizeof shortToken);
    std::vector<Xel> second = readRaster(f, cols, rows, maxval, format);
    pm_seek2(f, &longToken, sizeof longToken);
    std::vector<Xel> third = readRaster(f, cols, rows, maxval, format);
    if (first != second || first != third) pm_error("the raster differs after rewinding");
    pm_message("read a %d x %d image", cols, rows);
    pnm_writepnminit(stdout, cols, rows, maxval, format, 0);
    for (int y = 0; y < rows; ++y) pnm_writepnmrow(stdout, &first[size_t(y) * cols], cols, maxval, format, 0);
    pm_closer(f);
    pm_closew(stdout);
    return 0;
}
