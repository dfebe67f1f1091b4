#include "analyses.h"

// The narrower-depth and mask-reduction tests are not in yet: the image keeps
// the depth its maxval needs and a mask stays an alpha channel. Both answers
// are always correct, only not always the most compact.

int findGraySigBits(const RasterSource* raster) { return pm_maxvaltobits(raster->maxval); }

int findColorSigBits(const RasterSource* raster) { return pm_maxvaltobits(raster->maxval); }

MaskColorResult findMaskTransparentColor(const RasterSource*, const AlphaMask*) { return MaskColorResult(); }
