// rasterunpack's conversion: PNG on input, PBM, PGM or PPM on standard output.
#ifndef RASTERUNPACK_CONVERSION_H
#define RASTERUNPACK_CONVERSION_H

#include "commandline.h"

#include <cstdio>

// Decodes the whole PNG on input, gives the time and text reports, then
// writes the PNM. textStream, the -text file opened for writing, or null
// without -text, belongs to the conversion, which closes it (standard output
// only flushed) once the dump is written, before the PNM. Returns the exit
// status, 0; every failure ends the process with a message before anything
// reaches standard output.
int convertPng(const DecoderSettings* settings, FILE* input, FILE* textStream);

// Releases what a conversion holds and closes its input and text stream
// unless a failure or the conversion closed them already. For a caller that
// ends a run through pm_setfatalhandler and goes on (a fuzz harness).
void releasePngConversion();

#endif
