// rasterpack's conversion: PNM on input, PNG on standard output.
#ifndef RASTERPACK_DRIVER_H
#define RASTERPACK_DRIVER_H

#include "commandline.h"

#include <cstdio>

// Converts the image on input (seekable) to PNG on standard output. The side
// streams are null when not given; all streams stay open. Returns the exit
// status, 0; every failure ends the process with a message.
int convertPnm(const EncoderSettings* settings, FILE* input, FILE* alphaStream, FILE* paletteStream,
               FILE* commentStream);

// Releases what a conversion holds: libpng's structures, its memory, and the
// input (closed here if the conversion has not closed it). For a caller that
// ends a run through pm_setfatalhandler and goes on (a fuzz harness); the
// program itself never needs it.
void releasePnmConversion();

#endif
