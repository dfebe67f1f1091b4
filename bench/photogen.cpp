// photogen - writes a photograph-like raw PPM to standard output: smooth
// lighting and colour fields, a few soft-edged shapes, fine texture and
// sensor-like grain, so that it has hundreds of thousands of colours the way
// a real photograph does. Deterministic for a given size and seed.
//   photogen [width height [seed]]     (default 2048 x 2048, seed 1)
#include <orrim.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

struct Blob {
    double x, y, radius, r, g, b;
};

uint32_t nextRandom(uint32_t* state) {
    *state ^= *state << 13;
    *state ^= *state >> 17;
    *state ^= *state << 5;
    return *state;
}

double unitRandom(uint32_t* state) { return (nextRandom(state) & 0xFFFFFF) / double(0x1000000); }

double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

}  // namespace

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    int cols = 2048, rows = 2048;
    uint32_t seed = 1;
    if (argc >= 3) {
        cols = atoi(argv[1]);
        rows = atoi(argv[2]);
    }
    if (argc >= 4) seed = (uint32_t)strtoul(argv[3], nullptr, 10);
    if (cols <= 0 || rows <= 0) pm_error("width and height must be positive");
    uint32_t state = seed * 2654435761u + 1;

    const int BLOBS = 14;
    Blob blobs[BLOBS];
    for (Blob& b : blobs)
        b = Blob{unitRandom(&state), unitRandom(&state), 0.05 + 0.2 * unitRandom(&state),
                 unitRandom(&state), unitRandom(&state), unitRandom(&state)};

    Pixel* row = ppm_allocrow(cols);
    ppm_writeppminit(stdout, cols, rows, 255, 0);
    for (int y = 0; y < rows; ++y) {
        const double v = double(y) / rows;
        for (int x = 0; x < cols; ++x) {
            const double u = double(x) / cols;
            // Sky-to-ground lighting with slow colour drift.
            double r = 0.55 + 0.35 * std::sin(2.1 * u + 0.7) * (1 - v) + 0.15 * v;
            double g = 0.45 + 0.30 * std::cos(1.7 * v + 2.3 * u) + 0.05 * std::sin(9 * u);
            double b = 0.70 - 0.50 * v + 0.10 * std::sin(5 * u + 3 * v);
            // Soft objects over it.
            for (const Blob& o : blobs) {
                const double dx = u - o.x, dy = v - o.y;
                const double d2 = (dx * dx + dy * dy) / (o.radius * o.radius);
                if (d2 < 1.5) {
                    const double w = 1 / (1 + std::exp((d2 - 1) * 12));
                    const double shade = 0.75 + 0.25 * std::cos(d2 * 2.5 + dx * 8);
                    r += w * (o.r * shade - r);
                    g += w * (o.g * shade - g);
                    b += w * (o.b * shade - b);
                }
            }
            // Fine texture and grain.
            const double texture = 0.03 * std::sin(u * 180 + 7 * std::sin(v * 40)) * std::cos(v * 150);
            const double grain = (unitRandom(&state) - 0.5) * 0.04;
            r = clamp01(r + texture + grain + (unitRandom(&state) - 0.5) * 0.015);
            g = clamp01(g + texture + grain + (unitRandom(&state) - 0.5) * 0.015);
            b = clamp01(b + texture + grain + (unitRandom(&state) - 0.5) * 0.015);
            row[x] = Pixel{(Sample)std::lround(r * 255), (Sample)std::lround(g * 255), (Sample)std::lround(b * 255)};
        }
        ppm_writeppmrow(stdout, row, cols, 255, 0);
    }
    pm_freerow(row);
    pm_closew(stdout);
    return 0;
}
