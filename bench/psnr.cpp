// psnr - peak signal-to-noise ratio of an image against a reference, in dB.
//   psnr reference.ppm image.ppm
// Both are read as PPM; samples are compared as fractions of their own
// maxval, so an image at a smaller maxval is judged fairly. Prints one number
// ("inf" for identical images).
#include <orrim.h>

#include <cmath>
#include <cstdio>

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    if (argc != 3) pm_usage("reference.ppm image.ppm");
    int cols[2], rows[2];
    Sample maxval[2];
    Pixel** images[2];
    for (int i = 0; i < 2; ++i) {
        FILE* f = pm_openr(argv[i + 1]);
        images[i] = ppm_readppm(f, &cols[i], &rows[i], &maxval[i]);
        pm_close(f);
    }
    if (cols[0] != cols[1] || rows[0] != rows[1])
        pm_error("the images differ in size: %dx%d and %dx%d", cols[0], rows[0], cols[1], rows[1]);
    double sum = 0;
    for (int y = 0; y < rows[0]; ++y)
        for (int x = 0; x < cols[0]; ++x) {
            const Pixel& a = images[0][y][x];
            const Pixel& b = images[1][y][x];
            const double d[3] = {double(a.r) / maxval[0] - double(b.r) / maxval[1],
                                 double(a.g) / maxval[0] - double(b.g) / maxval[1],
                                 double(a.b) / maxval[0] - double(b.b) / maxval[1]};
            sum += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        }
    const double samples = 3.0 * cols[0] * rows[0];
    if (sum == 0 || samples == 0)
        printf("inf\n");
    else
        printf("%.2f\n", 10 * std::log10(samples / sum));
    return 0;
}
