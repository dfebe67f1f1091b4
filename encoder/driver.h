// rasterpack's conversion: PNM on input, PNG on output.
#ifndef RASTERPACK_DRIVER_H
#define RASTERPACK_DRIVER_H

#include "commandline.h"

#include <cstdio>

namespace rasterpack {

// The streams of one conversion; the caller opens and closes them all.
struct ConversionStreams {
    FILE* input = nullptr;     // seekable: every pass rewinds it to the raster
    FILE* alpha = nullptr;     // -alpha mask, or null
    FILE* palette = nullptr;   // -palette file, or null
    FILE* comments = nullptr;  // -text or -ztxt file, or null
    FILE* output = nullptr;
};

// Converts the image on streams->input to PNG on streams->output. Returns
// the exit status, 0; every failure ends the run through pm_error. The
// conversion owns everything it allocates: should pm_error unwind through a
// caller's fatal hook, it is all given back.
int convertPnm(const EncoderSettings* settings, const ConversionStreams* streams);

}  // namespace rasterpack

#endif
