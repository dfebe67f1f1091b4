// rasterpack as a program: a command line and two streams in, an exit status
// out, so that a caller can run it in process on streams of its own.
#ifndef RASTERPACK_PROGRAM_H
#define RASTERPACK_PROGRAM_H

#include <cstdio>

namespace rasterpack {

// Scans the options of argv (after pnm_init), opens the input (a name of
// "-", or none, means standardInput) and the side files, converts to
// standardOutput, closes what it opened, flushes and checks standardOutput
// (leaving it open) and returns the exit status. Failures end through
// pm_error or pm_usage; under a fatal hook that unwinds, every stream it
// opened is closed and everything it allocated given back.
int runCommandLine(int argc, char** argv, FILE* standardInput, FILE* standardOutput);

}  // namespace rasterpack

#endif
