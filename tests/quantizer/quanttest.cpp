#include "quanttest.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace testkit {

RowView::RowView(TestImage& image) {
    for (int y = 0; y < image.rows; ++y) rows.push_back(image.pixels.data() + (size_t)y * image.cols);
}

std::vector<huecut::ColorCount> colorsOf(TestImage image) {
    RowView rows(image);
    return huecut::countImageColors(rows.data(), image.cols, image.rows, image.maxval);
}

std::string toPpm(const TestImage& image, bool plain) {
    std::vector<Sample> rgb;
    for (const Pixel& p : image.pixels) rgb.insert(rgb.end(), {p.r, p.g, p.b});
    return makePpm(image.cols, image.rows, image.maxval, rgb, plain);
}

TestImage parsePpm(const std::string& bytes) {
    TestImage image;
    FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    EXPECT_NE(f, nullptr);
    if (!f) return image;
    Pixel** rows = ppm_readppm(f, &image.cols, &image.rows, &image.maxval);
    fclose(f);
    for (int y = 0; y < image.rows; ++y) image.pixels.insert(image.pixels.end(), rows[y], rows[y] + image.cols);
    pm_freearray(rows, image.rows);
    return image;
}

std::set<Rgb> distinctColors(const TestImage& image) {
    std::set<Rgb> colors;
    for (const Pixel& p : image.pixels) colors.insert(Rgb(p.r, p.g, p.b));
    return colors;
}

TestImage makeNoiseImage(int cols, int rows, Sample maxval, int levels, unsigned seed) {
    TestImage image;
    image.cols = cols, image.rows = rows, image.maxval = maxval;
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> pick(0, levels - 1);
    auto sample = [&] { return (Sample)((uint64_t)pick(gen) * maxval / (levels - 1)); };
    for (int i = 0; i < cols * rows; ++i) {
        Sample r = sample(), g = sample(), b = sample();
        image.pixels.push_back(Pixel{r, g, b});
    }
    return image;
}

TestImage makeGradientImage(int cols, int rows, Sample maxval) {
    TestImage image;
    image.cols = cols, image.rows = rows, image.maxval = maxval;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            Sample r = (Sample)((uint64_t)x * maxval / (cols > 1 ? cols - 1 : 1));
            Sample g = (Sample)((uint64_t)y * maxval / (rows > 1 ? rows - 1 : 1));
            Sample b = (Sample)((uint64_t)((x + y) % (cols + rows)) * maxval / (cols + rows));
            image.pixels.push_back(Pixel{r, g, b});
        }
    return image;
}

}  // namespace testkit
