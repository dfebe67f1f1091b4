// Fuzzes huecut's whole run, in process. The first two bytes pick the colour
// count or a map file, -floyd, -refine with its passes, the seed, and whether
// the image comes by name or on the standard input the run is handed; a map
// file comes next as a piece with its length ahead of it; the rest is the
// image. The map reaches the program as a file named on the command line;
// the output goes to a stream in memory. A fatal line returns here, and the
// run must leave nothing held; a run that completes must have written an
// image of the input's size with no more colours than were asked for.
#include "fuzzsupport.h"
#include "quantize.h"

#include <unistd.h>

#include <cstdlib>
#include <set>
#include <tuple>

namespace {

char programName[] = "huecut";

const char* const COUNTS[] = {"2", "3", "4", "16", "256", "257", "65536", "2147483647"};
const int COUNT_VALUES[] = {2, 3, 4, 16, 256, 257, 65536, 2147483647};
// -refine passes; "1001" and "1.5" are refused.
const char* const REFINE_PASSES[] = {"0", "1", "2", "3", "10", "1000", "1001", "1.5"};

std::string writeScratch(const char* what, const std::string& bytes) {
    std::string path = "/tmp/huecut_fuzz." + std::to_string(getpid()) + "." + what;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
    fclose(f);
    return path;
}

// The run's output, in memory, released however the run ends.
struct OutputBuffer {
    char* bytes = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&bytes, &size);
    ~OutputBuffer() {
        if (f) fclose(f);
        free(bytes);
    }
};

// The image's width and height as its header gives them.
void readSize(const std::string& image, int* cols, int* rows) {
    StreamGuard in{streamOver(image)};
    if (!in.f) abort();
    int format;
    Sample maxval;
    pnm_readpaminit(in.f, cols, rows, &maxval, &format);
}

// What a completed run wrote: a PPM the library reads back, of the input's
// size, with at most maxColors colours.
void checkOutput(const std::string& image, const std::string& output, long maxColors) {
    int cols = 0, rows = 0;
    readSize(image, &cols, &rows);
    StreamGuard in{streamOver(output)};
    if (!in.f) abort();
    int outCols = 0, outRows = 0, format = 0;
    Sample maxval = 0;
    Xel** pixels = nullptr;
    try {
        pixels = pnm_readpnm(in.f, &outCols, &outRows, &maxval, &format);
    } catch (const FatalInput&) {
        abort();  // the output does not read back
    }
    std::set<std::tuple<Sample, Sample, Sample>> colors;
    for (int y = 0; y < outRows && outCols > 0; ++y)
        for (int x = 0; x < outCols; ++x) colors.insert(std::make_tuple(pixels[y][x].r, pixels[y][x].g, pixels[y][x].b));
    pm_freearray(pixels, outRows);
    if (pnm_formattype(format) != PPM_FORMAT || outCols != cols || outRows != rows) abort();
    if (long(colors.size()) > maxColors) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    prepareHarness(programName);
    InputCursor in{data, size};
    uint8_t choice = in.byte(), value = in.byte();
    std::string map = in.piece(), image = in.rest();
    const bool useMap = choice & 1, imageByName = choice & 64;
    if (headerTooLarge(image) || (useMap && headerTooLarge(map))) return 0;
    static const std::string imagePath = writeScratch("image", ""), mapPath = writeScratch("map", "");
    // Quiet already: the harness's start-up took -quiet, as ppm_init does.
    Arguments args(programName);
    if (choice & 2) args.add("-floyd");
    if (choice & 4) {
        args.add("-refine");
        args.add(REFINE_PASSES[(value >> 2) & 7]);
    }
    args.add("-randomseed");
    args.add(std::to_string(value));
    const int countChoice = (choice >> 3) & 7;
    if (useMap) {
        writeScratch("map", map);
        args.add("-mapfile");
        args.add(mapPath);
    } else {
        args.add(COUNTS[countChoice]);
    }
    if (imageByName) {
        writeScratch("image", image);
        args.add(imagePath);
    }
    StreamGuard standardInput{streamOver(image)};
    OutputBuffer output;
    if (!standardInput.f || !output.f) abort();
    int status = -1;
    try {
        status = huecut::runCommandLine(args.count(), args.finish(), standardInput.f, output.f);
    } catch (const FatalInput&) {
    }
    if (status == 0) {
        // Only the median cut and the refinement promise a colour count.
        const long maxColors = useMap ? 32767 : COUNT_VALUES[countChoice];
        checkOutput(image, std::string(output.bytes, output.size), maxColors);
    }
    return 0;
}
