#include "mapfile.h"

#include "commandline.h"
#include "owners.h"

namespace huecut {

std::vector<ColorHistEntry> loadMapFile(const char* mapFileName, FILE* standardInput, Pixel** pixels, int cols,
                                        int rows, Sample maxval, Sample* outMaxval) {
    // Only the map's distinct colours matter: they are counted straight from
    // the file, row by row, so that the header is checked before any of the
    // raster is read and a map of too many colours is refused as soon as it
    // shows them, without ever holding the map image.
    const ReadStream map(mapFileName, standardInput);
    FILE* f = map.get();
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
    const OwnedColorHist hist(ppm_computecolorhist2(f, mapCols, mapRows, mapMaxval, format, MAX_HIST_COLORS, &count));

    if (mapMaxval != maxval) {
        pm_message("rescaling input image to match colormap maxval");
        // A map that is refused below needs no rescaled input.
        if (hist) rescalePixels(pixels, cols, rows, maxval, mapMaxval);
    }
    if (!hist) pm_error("too many colors in colormap!");
    pm_message("%d colors found in colormap", count);

    *outMaxval = mapMaxval;
    return std::vector<ColorHistEntry>(hist.get(), hist.get() + count);
}

}  // namespace huecut
