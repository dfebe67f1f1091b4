// Taking the candidate colours from a map image.
#ifndef HUECUT_MAPFILE_H
#define HUECUT_MAPFILE_H

#include "histogram.h"

#include <orrim.h>

#include <cstdio>
#include <vector>

namespace huecut {

// Reads the map image (from standardInput when mapFileName is "-"), brings
// the input image (in place) to the map's maxval when it differs, and
// returns the map's distinct colours, in the library's histogram order.
// *outMaxval receives the map's maxval. An empty map, one of more than
// MAX_HIST_COLORS colours, or one whose maxval is above 65535 ends the run.
std::vector<ColorHistEntry> loadMapFile(const char* mapFileName, FILE* standardInput, Pixel** pixels, int cols,
                                        int rows, Sample maxval, Sample* outMaxval);

}  // namespace huecut

#endif
