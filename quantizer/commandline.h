// Command line of huecut: options, arguments and their checks.
#ifndef HUECUT_COMMANDLINE_H
#define HUECUT_COMMANDLINE_H

#include <string>

namespace huecut {

struct QuantCmdline {
    const char* inputFileName;  // "-" means standard input
    const char* mapFileName;    // null when -mapfile is not given
    int requestedColors;        // set (at least 2) only without -mapfile
    unsigned int floyd;         // nonzero: Floyd-Steinberg dithering
    unsigned int randomSeedGiven;
    unsigned int randomSeed;  // seed of the dithering generator when given
    int refinePasses;         // passes of palette refinement after the median cut,
                              // 0..1000
};

// The synopsis that follows an option error (and --help) as the usage line.
extern const char* const USAGE_SYNOPSIS;

// Fills cmdline from argv; every error ends the run through pm_error (an
// unknown or malformed option with the usage line after it).
// argv is modified: the options are taken out of it.
void parseCommandLine(int argc, char** argv, QuantCmdline* cmdline);

}  // namespace huecut

#endif
