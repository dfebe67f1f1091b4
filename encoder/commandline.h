// rasterpack's settings record and its command-line scan.
#ifndef RASTERPACK_COMMANDLINE_H
#define RASTERPACK_COMMANDLINE_H

namespace rasterpack {

// Filled once by the option scan and only read afterwards: it stays what the
// user asked. What the conversion decides (a mask reduced to one transparent
// colour, say) lives in its own records.
struct EncoderSettings {
    bool verbose = false;
    bool downscale = false;  // accept maxval above 65535
    bool interlace = false;
    bool force = false;      // skip every analysis and palette attempt
    bool alpha = false;
    const char* alphaFile = nullptr;
    int transparent = -1;    // -1 none, 1 from -transparent
    const char* transparentColor = nullptr;
    int background = -1;     // -1 none, 1 from -background
    const char* backgroundColor = nullptr;
    float gamma = -1.0f;     // -1.0: not given
    bool hist = false;
    // white x, white y, red x, red y, green x, green y, blue x, blue y;
    // white x of -1.0 means not given
    float chroma[8] = {-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f};
    int phys[3] = {-1, -1, -1};  // x per unit, y per unit, unit (-1: not given)
    bool text = false;
    bool ztxt = false;
    const char* textFile = nullptr;
    bool time = false;
    const char* timeDate = nullptr;
    const char* timeOfDay = nullptr;
    const char* paletteFile = nullptr;
    int filter = -1;         // 0..4, or -1 for libpng's own choice
    int compression = -1;    // 0..9, or -1 for libpng's default
    int threads = 1;         // image data workers, 1..256; 0: one per available core
    bool optimize = false;   // try filter plans and zlib settings, write the smallest
    bool exhaustive = false; // -optimizemax: -optimize and an exhaustive deflate pass on the winner
};

extern const char* const USAGE_SYNOPSIS;

// Scans the options from argv[1] on into settings and returns the index of
// the first argument that is not an option. Missing values and out-of-range
// filter or compression values end the run with the usage message; an
// unknown option shows the version report.
int scanOptions(int argc, char** argv, EncoderSettings* settings);

}  // namespace rasterpack

#endif
