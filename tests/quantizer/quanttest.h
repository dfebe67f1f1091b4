// Helpers for the quantizer tests: images as pixel vectors, in and out of
// PPM bytes.
#ifndef QUANTTEST_H
#define QUANTTEST_H

#include "histogram.h"

#include <orrim.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace testkit {

struct TestImage {
    int cols = 0, rows = 0;
    Sample maxval = 255;
    std::vector<Pixel> pixels;  // row-major
};

// Row pointers into an image's pixels, as the quantizer's functions take them.
struct RowView {
    std::vector<Pixel*> rows;
    explicit RowView(TestImage& image);
    Pixel** data() { return rows.data(); }
};

std::string toPpm(const TestImage& image, bool plain = false);
// Parses PPM bytes with the library; the test fails when they are no PPM.
TestImage parsePpm(const std::string& bytes);

typedef std::tuple<Sample, Sample, Sample> Rgb;
std::set<Rgb> distinctColors(const TestImage& image);

// A reproducible pseudo-random image; samples drawn from levels evenly
// spread values in 0..maxval (fewer levels give more repeated colours).
TestImage makeNoiseImage(int cols, int rows, Sample maxval, int levels, unsigned seed);
// Smooth colour ramps, like a photograph's gradients.
TestImage makeGradientImage(int cols, int rows, Sample maxval);

// The image's distinct colours with their pixel counts, as the quantizer
// counts them.
std::vector<huecut::ColorCount> colorsOf(TestImage image);

}  // namespace testkit

#endif
