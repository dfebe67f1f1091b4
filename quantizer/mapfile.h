// Taking the candidate colours from a map image.
#ifndef HUECUT_MAPFILE_H
#define HUECUT_MAPFILE_H

#include "histogram.h"

#include <orrim.h>

namespace huecut {

// Reads the map image, brings the input image (in place) to the map's maxval
// when it differs, and returns the map's distinct colours. *mapSize and
// *outMaxval receive their number and the map's maxval. An empty map, one of
// more than MAX_HIST_COLORS colours, or one whose maxval is above 65535 ends
// the run. The caller owns the map and releases it with ppm_freecolorhist.
QuantColormap loadMapFile(const char* mapFileName, Pixel** pixels, int cols, int rows, Sample maxval, int* mapSize,
                          Sample* outMaxval);

}  // namespace huecut

#endif
