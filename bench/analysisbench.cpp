// analysisbench - times rasterpack's image analyses alone on one file: the
// grey scan, the significant-bit test and the colour histogram, as the
// encoder runs them (each a pass from the raster's start). Reports
//   analyses <wall seconds> <cpu seconds>
// on standard error.
//   analysisbench in.pnm
#include "analyses.h"
#include "palettebuild.h"

#include "benchclock.h"

#include <orrim.h>

#include <cstdio>
#include <ctime>

using namespace rasterpack;

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    if (argc != 2) pm_usage("in.pnm");
    RasterSource raster;
    raster.input = pm_openr_seekable(argv[1]);
    pnm_readpnminit(raster.input, &raster.cols, &raster.rows, &raster.maxval, &raster.format);
    pm_tell2(raster.input, &raster.rasterPosition, sizeof raster.rasterPosition);
    double wall = seconds(CLOCK_MONOTONIC), cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
    bool colour = pnm_formattype(raster.format) == PPM_FORMAT;
    bool grey = colour && allPixelsGrey(&raster);
    int bits = colour ? findColorSigBits(&raster) : findGraySigBits(&raster);
    HistogramCache cache;
    if (raster.maxval <= 255) findHistogram(&raster, false, &cache);
    fprintf(stderr, "analyses %.3f %.3f\n", seconds(CLOCK_MONOTONIC) - wall, seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu);
    fprintf(stderr, "(all grey: %s, significant bits: %d, colours: %d)\n", grey ? "yes" : "no", bits,
            cache.hist ? cache.count : -1);
    releaseHistogram(&cache);
    pm_closer(raster.input);
    return 0;
}
