// huecut: reduces a PPM image to a few colours, chosen by median cut or taken
// from a map image, optionally with Floyd-Steinberg dithering.
#include "colormapping.h"
#include "commandline.h"
#include "mapfile.h"
#include "mediancut.h"

#include <orrim.h>

#include <ctime>
#include <unistd.h>

int main(int argc, char** argv) {
    ppm_init(&argc, argv);
    QuantCmdline cmdline;
    parseCommandLine(argc, argv, &cmdline);

    FILE* in = pm_openr(cmdline.inputFileName);
    int cols = 0, rows = 0;
    Sample maxval = 0;
    Pixel** pixels = ppm_readppm(in, &cols, &rows, &maxval);
    pm_close(in);
    // Rescaling, distances and the raw output are all made for 16-bit samples.
    if (maxval > PPM_OVERALLMAXVAL)
        pm_error("input image has maxval %u; at most %u is supported", maxval, PPM_OVERALLMAXVAL);

    QuantColormap map = nullptr;
    int mapSize = 0, searchSize = 0;
    Sample outMaxval = maxval;
    if (cmdline.mapFileName) {
        map = loadMapFile(cmdline.mapFileName, pixels, cols, rows, maxval, &mapSize, &outMaxval);
        searchSize = mapSize;
    } else {
        int colors = 0;
        ColorHist hist = computeHistogram(pixels, cols, rows, maxval, &colors, &outMaxval);
        pm_message("choosing %d colors...", cmdline.requestedColors);
        int boxCount = 0;
        map = medianCut(hist, colors, (int64_t)rows * cols, outMaxval, cmdline.requestedColors, &boxCount);
        ppm_freecolorhist(hist);
        mapSize = cmdline.requestedColors;
        // The entries after the boxes are all black: only the first of them
        // can ever be the nearest colour.
        searchSize = boxCount < mapSize ? boxCount + 1 : mapSize;
    }

    ppm_writeppminit(stdout, cols, rows, outMaxval, 0);
    pm_message("mapping image to new colors...");

    ColorMapping mapping;
    initColorMapping(&mapping, map, mapSize, searchSize, outMaxval);
    DitherState dither = {};
    if (cmdline.floyd) {
        const unsigned int seed =
            cmdline.randomSeedGiven ? cmdline.randomSeed : (unsigned int)(time(nullptr) ^ getpid());
        initDitherState(&dither, cols, seed);
    }
    for (int y = 0; y < rows; ++y) {
        mapRow(pixels[y], cols, &mapping, cmdline.floyd, &dither);
        ppm_writeppmrow(stdout, pixels[y], cols, outMaxval, 0);
    }
    freeColorMapping(&mapping);
    pm_close(stdout);
    return 0;
}
