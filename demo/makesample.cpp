// Writes the suite's sample image, a colour test pattern with gradients and
// flat areas, as a raw PPM to standard output.
//   makesample [width height]
#include <orrim.h>

#include <cstdlib>

namespace {

// Eight flat colour bars across the top third.
Pixel barColor(int x, int cols, Sample maxval) {
    static const int bars[8][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0},
                                   {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};
    const int* c = bars[(x * 8) / cols];
    return Pixel{c[0] * maxval, c[1] * maxval, c[2] * maxval};
}

// A hue sweep left to right that fades to white towards the bottom.
Pixel gradientColor(int x, int y, int cols, int rows, Sample maxval) {
    double h = 6.0 * x / cols, f = h - int(h), lift = double(y) / rows;
    double c[3];
    switch (int(h) % 6) {
    case 0: c[0] = 1, c[1] = f, c[2] = 0; break;
    case 1: c[0] = 1 - f, c[1] = 1, c[2] = 0; break;
    case 2: c[0] = 0, c[1] = 1, c[2] = f; break;
    case 3: c[0] = 0, c[1] = 1 - f, c[2] = 1; break;
    case 4: c[0] = f, c[1] = 0, c[2] = 1; break;
    default: c[0] = 1, c[1] = 0, c[2] = 1 - f; break;
    }
    Sample s[3];
    for (int i = 0; i < 3; ++i) s[i] = Sample((c[i] + (1 - c[i]) * lift) * maxval + 0.5);
    return Pixel{s[0], s[1], s[2]};
}

Pixel greyRamp(int x, int cols, Sample maxval) {
    Sample v = Sample(double(x) * maxval / (cols - 1) + 0.5);
    return Pixel{v, v, v};
}

}  // namespace

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    int cols = argc > 2 ? atoi(argv[1]) : 512;
    int rows = argc > 2 ? atoi(argv[2]) : 384;
    if (cols < 8 || rows < 6) pm_error("the sample image needs at least 8 x 6 pixels");
    const Sample maxval = 255;
    Pixel* row = ppm_allocrow(cols);
    ppm_writeppminit(stdout, cols, rows, maxval, 0);
    for (int y = 0; y < rows; ++y) {
        int band = y * 3 / rows;
        for (int x = 0; x < cols; ++x) {
            if (band == 0)
                row[x] = barColor(x, cols, maxval);
            else if (band == 1)
                row[x] = gradientColor(x, y - rows / 3, cols, rows / 3, maxval);
            else
                row[x] = greyRamp(x, cols, maxval);
        }
        ppm_writeppmrow(stdout, row, cols, maxval, 0);
    }
    pm_freerow(row);
    pm_closew(stdout);
    return 0;
}
