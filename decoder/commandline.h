// rasterunpack's settings record, its command-line scan, and the run the
// command line asks for.
#ifndef RASTERUNPACK_COMMANDLINE_H
#define RASTERUNPACK_COMMANDLINE_H

#include <cstdio>

namespace rasterunpack {

// What the output pixels hold: the colour, the alpha channel alone, or the
// colour composited against a background.
enum AlphaMode { ALPHA_NONE, ALPHA_ONLY, ALPHA_MIX };

// Filled once by the option scan and only read afterwards.
struct DecoderSettings {
    bool verbose = false;
    AlphaMode alphaMode = ALPHA_NONE;
    const char* backgroundColor = nullptr;  // -background text, unparsed
    float displayGamma = -1.0f;             // -1.0: no gamma conversion
    const char* textFile = nullptr;
    bool reportTime = false;
};

extern const char* const USAGE_SYNOPSIS;

// Scans the options from argv[1] on into settings and returns the index of
// the first argument that is not an option. A missing value ends the run with
// the usage; an unknown option with the version line and the usage.
int scanOptions(int argc, char** argv, DecoderSettings* settings);

// One whole run: the options, the PNG named on the command line (none, or
// "-", is standardInput), the -text file ("-" is standardOutput), the PNM on
// standardOutput, which is flushed and checked but stays open. Returns the
// exit status; every failure ends the run through pm_error, and what the run
// opened or allocated is released when that unwinds.
int runCommandLine(int argc, char** argv, FILE* standardInput, FILE* standardOutput);

}  // namespace rasterunpack

#endif
