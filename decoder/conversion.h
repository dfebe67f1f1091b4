// rasterunpack's conversion: PNG on input, PBM, PGM or PPM on the output.
#ifndef RASTERUNPACK_CONVERSION_H
#define RASTERUNPACK_CONVERSION_H

#include "commandline.h"

#include <runstreams.h>

#include <cstdio>

namespace rasterunpack {

// Decodes the whole PNG on input, gives the time and text reports, then
// writes the PNM to output. textFile, the -text file open for writing, or
// null without -text, is closed (a borrowed standard output only flushed)
// once the dump is written, before the PNM. Returns the exit status, 0;
// every failure ends the run through pm_error before anything reaches the
// output, and what the conversion holds is released when that unwinds.
int convertPng(const DecoderSettings& settings, FILE* input, OpenedStream* textFile, FILE* output);

}  // namespace rasterunpack

#endif
