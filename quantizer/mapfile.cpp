#include "mapfile.h"

QuantColormap loadMapFile(const char* mapFileName, Pixel** pixels, int cols, int rows, Sample maxval,
                          int* mapSize, Sample* outMaxval) {
    FILE* f = pm_openr(mapFileName);
    int mapCols = 0, mapRows = 0;
    Sample mapMaxval = 0;
    Pixel** mapPixels = ppm_readppm(f, &mapCols, &mapRows, &mapMaxval);
    pm_close(f);
    if (mapCols == 0 || mapRows == 0)
        pm_error("colormap in file '%s' contains no pixels", mapFileName);
    // The rescaling and distance arithmetic are 32-bit and made for 16-bit samples.
    if (mapMaxval > PPM_OVERALLMAXVAL)
        pm_error("colormap in file '%s' has maxval %u; at most %u is supported", mapFileName, mapMaxval,
                 PPM_OVERALLMAXVAL);

    if (mapMaxval != maxval) {
        pm_message("rescaling input image to match colormap maxval");
        rescalePixels(pixels, cols, rows, maxval, mapMaxval);
    }

    int count = 0;
    ColorHist hist = ppm_computecolorhist(mapPixels, mapCols, mapRows, MAX_HIST_COLORS, &count);
    if (!hist) pm_error("too many colors in colormap!");
    pm_message("%d colors found in colormap", count);
    pm_freearray(mapPixels, mapRows);

    *mapSize = count;
    *outMaxval = mapMaxval;
    return hist;
}
