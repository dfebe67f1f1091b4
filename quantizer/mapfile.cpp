#include "mapfile.h"

#include "commandline.h"

namespace huecut {

QuantColormap loadMapFile(const char* mapFileName, Pixel** pixels, int cols, int rows, Sample maxval, int* mapSize,
                          Sample* outMaxval) {
    // Only the map's distinct colours matter: they are counted straight from
    // the file, row by row, so that the header is checked before any of the
    // raster is read and a map of too many colours is refused as soon as it
    // shows them, without ever holding the map image.
    // Closed however the run ends (a fatal hook may unwind through here).
    struct StreamGuard {
        FILE* f;
        ~StreamGuard() { pm_closer(f); }
    } guard{pm_openr(mapFileName)};
    FILE* f = guard.f;
    int mapCols = 0, mapRows = 0, format = 0;
    Sample mapMaxval = 0;
    pnm_readpaminit(f, &mapCols, &mapRows, &mapMaxval, &format);
    const std::string name = pm_escapetext(mapFileName);
    if (pnm_formathasalpha(format))
        pm_error("colormap in file '%s' is a PAM image with alpha (tuple type %s); quantizing transparency is not "
                 "supported",
                 name.c_str(), pnm_tupletype(format));
    if (mapCols == 0 || mapRows == 0) pm_error("colormap in file '%s' contains no pixels", name.c_str());
    // The rescaling and distance arithmetic are 32-bit and made for 16-bit samples.
    if (mapMaxval > PPM_OVERALLMAXVAL)
        pm_error("colormap in file '%s' has maxval %u; at most %u is supported", name.c_str(), mapMaxval,
                 PPM_OVERALLMAXVAL);
    int count = 0;
    ColorHist hist = ppm_computecolorhist2(f, mapCols, mapRows, mapMaxval, format, MAX_HIST_COLORS, &count);

    if (mapMaxval != maxval) {
        pm_message("rescaling input image to match colormap maxval");
        // A map that is refused below needs no rescaled input.
        if (hist) rescalePixels(pixels, cols, rows, maxval, mapMaxval);
    }
    if (!hist) pm_error("too many colors in colormap!");
    pm_message("%d colors found in colormap", count);

    *mapSize = count;
    *outMaxval = mapMaxval;
    return hist;
}

}  // namespace huecut
