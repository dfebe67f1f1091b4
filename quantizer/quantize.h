// One run of huecut as a function of its streams, and the program's entry.
#ifndef HUECUT_QUANTIZE_H
#define HUECUT_QUANTIZE_H

#include "commandline.h"

#include <cstdio>

namespace huecut {

// Reads one image from in, chooses its colours as settings ask (by median
// cut, refined or not, or the colours of the map file settings name, read
// from standardInput when named "-"), maps every pixel onto them and writes
// the PPM to out, each row as soon as it is mapped; out is neither flushed
// nor closed. Failures end the run through pm_error; whatever the run
// allocated is released however it ends.
void quantize(const QuantCmdline& settings, FILE* in, FILE* out, FILE* standardInput);
// The same for a caller whose input is its standard input: a map file named
// "-" follows the image in in.
void quantize(const QuantCmdline& settings, FILE* in, FILE* out);

// The program after the library's start-up: scans argv, reads the input it
// names (standardInput for "-" or no name), writes the result to
// standardOutput, flushes it and checks it (a write error ends the run with
// pm_closew's line) and returns the exit status. A file the run opens it
// closes; the two streams it is handed stay open.
int runCommandLine(int argc, char** argv, FILE* standardInput, FILE* standardOutput);

}  // namespace huecut

#endif
