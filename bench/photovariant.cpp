// photovariant - turns an 8-bit raw PPM (such as photogen's) into one of the
// inputs of the palette benchmark, on standard output:
//   photovariant palette in.ppm   the image in at most 252 colours (6 x 7 x 6
//                                 levels with ordered dithering), maxval 255
//   photovariant wide in.ppm      the image at maxval 65535, every sample a
//                                 byte copy (v * 257), so 8 bits are exact
#include <orrim.h>

#include <cstring>

namespace {

// 4 x 4 ordered-dither thresholds, 0..15.
const int BAYER[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

Sample quantize(Sample v, int levels, int threshold) {
    int steps = levels - 1;
    int scaled = int(v) * steps * 16 + threshold * 255;  // v / 255 * steps, dithered
    int level = scaled / (255 * 16);
    if (level > steps) level = steps;
    return Sample(level * 255 / steps);
}

}  // namespace

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    if (argc != 3 || (strcmp(argv[1], "palette") != 0 && strcmp(argv[1], "wide") != 0))
        pm_usage("palette|wide in.ppm");
    const bool wide = strcmp(argv[1], "wide") == 0;
    FILE* in = pm_openr(argv[2]);
    int cols = 0, rows = 0, format = 0;
    Sample maxval = 0;
    pnm_readpnminit(in, &cols, &rows, &maxval, &format);
    if (maxval != 255) pm_error("photovariant needs maxval 255");
    Xel* row = pnm_allocrow(cols);
    ppm_writeppminit(stdout, cols, rows, wide ? 65535 : 255, 0);
    for (int y = 0; y < rows; ++y) {
        pnm_readpnmrow(in, row, cols, maxval, format);
        for (int x = 0; x < cols; ++x) {
            Pixel& p = row[x];
            if (wide) {
                p = Pixel{p.r * 257, p.g * 257, p.b * 257};
            } else {
                int t = BAYER[y & 3][x & 3];
                p = Pixel{quantize(p.r, 6, t), quantize(p.g, 7, t), quantize(p.b, 6, t)};
            }
        }
        ppm_writeppmrow(stdout, row, cols, wide ? 65535 : 255, 0);
    }
    pm_freerow(row);
    pm_closer(in);
    pm_closew(stdout);
    return 0;
}
