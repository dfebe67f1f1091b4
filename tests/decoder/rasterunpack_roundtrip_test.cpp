// Property: random images through rasterpack and back through rasterunpack
// come back sample for sample, interlaced or not, in the form rasterpack
// chooses and with -force.
#include "pngtestkit.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

using namespace testkit;

namespace {

struct Pnm {
    int cols = 0, rows = 0;
    Sample maxval = 0;
    std::vector<Sample> samples;  // red, green, blue of every pixel (grey in all three)
};

Pnm parsePnm(const std::string& bytes) {
    Pnm p;
    FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    int format = 0;
    Xel** image = pnm_readpnm(f, &p.cols, &p.rows, &p.maxval, &format);
    for (int y = 0; y < p.rows; ++y)
        for (int x = 0; x < p.cols; ++x) {
            const Xel& px = image[y][x];
            p.samples.insert(p.samples.end(), {px.r, px.g, px.b});
        }
    pm_freearray(image, p.rows);
    fclose(f);
    return p;
}

// A random PBM, PGM or PPM; a colour image may come out all grey or with
// few colours, so that every form rasterpack chooses is exercised.
std::string randomImage(std::mt19937& rng, Sample maxval, int kind, int* cols, int* rows) {
    *cols = 1 + int(rng() % 19);
    *rows = 1 + int(rng() % 11);
    size_t pixels = size_t(*cols) * size_t(*rows);
    int colours = 1 + int(rng() % 6);  // few distinct values, or every one random
    std::vector<Sample> palette;
    for (int i = 0; i < colours * 3; ++i) palette.push_back(Sample(rng() % (maxval + 1)));
    auto sample = [&](size_t i, int c) {
        return colours == 6 ? Sample(rng() % (maxval + 1)) : palette[(i % size_t(colours)) * 3 + size_t(c)];
    };
    if (kind == 0) {
        std::vector<int> bits;
        for (size_t i = 0; i < pixels; ++i) bits.push_back(int(rng() % 2));
        return makePbm(*cols, *rows, bits);
    }
    std::vector<Sample> samples;
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < (kind == 1 ? 1 : 3); ++c) samples.push_back(sample(i, kind == 1 ? 0 : c));
    return kind == 1 ? makePgm(*cols, *rows, maxval, samples) : makePpm(*cols, *rows, maxval, samples);
}

class RoundTrip : public testing::TestWithParam<Sample> {};

TEST_P(RoundTrip, SampleForSample) {
    Sample maxval = GetParam();
    std::mt19937 rng(12345u + maxval);
    for (int trial = 0; trial < 12; ++trial) {
        int kind = maxval == 1 ? trial % 3 : 1 + trial % 2;
        int cols = 0, rows = 0;
        std::string pnm = randomImage(rng, maxval, kind, &cols, &rows);
        for (bool interlace : {false, true})
            for (bool force : {false, true}) {
                std::vector<std::string> args;
                if (interlace) args.push_back("-interlace");
                if (force) args.push_back("-force");
                RunResult packed = runProgram(rasterpackPath(), args, pnm);
                ASSERT_EQ(packed.status, 0) << packed.err;
                RunResult unpacked = runProgram(rasterunpackPath(), {}, packed.out);
                ASSERT_EQ(unpacked.status, 0) << unpacked.err;
                Pnm original = parsePnm(pnm), back = parsePnm(unpacked.out);
                SCOPED_TRACE("trial " + std::to_string(trial) + (interlace ? " interlaced" : "") +
                             (force ? " forced" : ""));
                EXPECT_EQ(back.cols, original.cols);
                EXPECT_EQ(back.rows, original.rows);
                // A palette holds 8-bit entries and no sBIT, so a palette image
                // comes back at maxval 255; its samples must then rescale back
                // exactly. Every other form keeps the maxval.
                if (pngHeader(packed.out).colorType == 3 && back.maxval == 255 && original.maxval < 255)
                    for (Sample& v : back.samples) v = pm_rescalesample(v, 255, original.maxval);
                else
                    EXPECT_EQ(back.maxval, original.maxval);
                EXPECT_EQ(back.samples, original.samples);
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Maxvals, RoundTrip, testing::Values(Sample(1), Sample(3), Sample(15), Sample(255),
                                                             Sample(65535)));

}  // namespace
