// Histogram and colour hash throughput on a many-colour image.
//   histbench [size]      (default 4096: a size x size image)
// Builds smooth gradients with noise in memory (over a million colours),
// times ppm_computecolorhist on it and ppm_computecolorhist2 streaming the
// same image from a raw PPM file, then times 10 million colour hash look-ups.
#include <orrim.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

const double TARGET_MPIXELS = 50.0;
const int RUNS = 3;
const long LOOKUPS = 10000000;

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

uint32_t nextNoise(uint32_t* state) {
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

// Red across, green down, blue along the diagonal, each with a little noise.
Pixel** makeImage(int size) {
    Pixel** img = static_cast<Pixel**>(pm_allocarray(size, size, sizeof(Pixel)));
    uint32_t state = 2463534242u;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            uint32_t n = nextNoise(&state);
            Sample r = Sample(uint64_t(x) * 247 / size + (n & 7));
            Sample g = Sample(uint64_t(y) * 247 / size + (n >> 3 & 7));
            Sample b = Sample(uint64_t(x + y) * 239 / (2 * size) + (n >> 6 & 15));
            img[y][x] = Pixel{r, g, b};
        }
    }
    return img;
}

FILE* writeRawPpm(Pixel** img, int size) {
    FILE* f = tmpfile();
    if (!f) pm_error("cannot create a temporary file");
    ppm_writeppminit(f, size, size, 255, 0);
    for (int y = 0; y < size; ++y) ppm_writeppmrow(f, img[y], size, 255, 0);
    if (fflush(f) != 0) pm_error("cannot write the temporary file");
    return f;
}

void report(const char* what, double pixels, double seconds) {
    double rate = pixels / seconds / 1e6;
    printf("%-38s %8.1f million pixels/s  (%.3f s; target >= %.0f: %s)\n", what, rate, seconds, TARGET_MPIXELS,
           rate >= TARGET_MPIXELS ? "met" : "NOT met");
}

double timeInMemory(Pixel** img, int size, int* colors) {
    double best = 1e30;
    for (int run = 0; run < RUNS; ++run) {
        double t0 = now();
        ColorHist h = ppm_computecolorhist(img, size, size, INT_MAX, colors);
        double t = now() - t0;
        if (!h) pm_error("histogram unexpectedly over its limit");
        ppm_freecolorhist(h);
        if (t < best) best = t;
    }
    return best;
}

double timeStreamed(FILE* f, int* colors) {
    double best = 1e30;
    for (int run = 0; run < RUNS; ++run) {
        rewind(f);
        double t0 = now();
        int cols, rows, format;
        Sample maxval;
        pnm_readpnminit(f, &cols, &rows, &maxval, &format);
        ColorHist h = ppm_computecolorhist2(f, cols, rows, maxval, format, INT_MAX, colors);
        double t = now() - t0;
        if (!h) pm_error("histogram unexpectedly over its limit");
        ppm_freecolorhist(h);
        if (t < best) best = t;
    }
    return best;
}

// Looks up image pixels in raster order, as a colour mapper does.
void timeLookups(Pixel** img, int size) {
    int colors;
    ColorHist h = ppm_computecolorhist(img, size, size, INT_MAX, &colors);
    ColorHash hash = ppm_colorhisttocolorhash(h, colors);
    long total = long(size) * size, found = 0;
    double t0 = now();
    for (long i = 0; i < LOOKUPS; ++i) {
        long k = i % total;
        found += ppm_lookupcolor(hash, &img[k / size][k % size]) >= 0;
    }
    double t = now() - t0;
    if (found != LOOKUPS) pm_error("look-up missed %ld colours", LOOKUPS - found);
    printf("%-38s %8.1f million look-ups/s (%ld in %.3f s, %d colours in the hash)\n", "colour hash look-ups",
           LOOKUPS / t / 1e6, LOOKUPS, t, colors);
    ppm_freecolorhash(hash);
    ppm_freecolorhist(h);
}

}  // namespace

int main(int argc, char** argv) {
    ppm_init(&argc, argv);
    int size = argc > 1 ? atoi(argv[1]) : 4096;
    if (size < 1 || size > 16384) pm_usage("[size]   (1 to 16384)");
    Pixel** img = makeImage(size);
    int colors = 0;
    double inMemory = timeInMemory(img, size, &colors);
    printf("image %d x %d, %d distinct colours\n", size, size, colors);
    double pixels = double(size) * size;
    report("histogram of the image in memory", pixels, inMemory);
    FILE* f = writeRawPpm(img, size);
    report("histogram streamed from a raw PPM", pixels, timeStreamed(f, &colors));
    fclose(f);
    timeLookups(img, size);
    pm_freearray(img, size);
    return 0;
}
