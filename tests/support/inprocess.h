// A program's whole run in the test's own process: its entry point is called
// as main would call it, on a pipe (or a file) and a stream in memory, so an
// end-to-end case costs a function call instead of a process. Spawn the built
// program (runProgram) only for what needs a real process: the exit status
// of the unrecoverable path, signals, the real standard streams.
#ifndef INPROCESS_H
#define INPROCESS_H

#include "testsupport.h"

#include <cstdio>
#include <string>
#include <vector>

namespace testkit {

// The programs' entry points: int runCommandLine(argc, argv, in, out).
using ProgramEntry = int (*)(int argc, char** argv, FILE* standardInput, FILE* standardOutput);

struct InProcessProgram {
    const char* name;  // argv[0], and the name in the program's lines
    ProgramEntry entry;
};

// How the run's standard input holds its bytes: a pipe (as a shell hands it
// over), a regular file (a redirection) or a stream in memory (a caller's).
enum class StandardInput { Pipe, File, Memory };

// Runs program with args (without argv[0]) as runProgram runs the built one:
// the library is initialised from the arguments as main does, input arrives
// as kind says, standard error is captured whole, and a fatal line (pm_error,
// pm_usage) ends the run with status 1, as the program exits. Input of any
// size is fed into a pipe by a writer thread; the run may stop reading early.
// A run that closes the input or output it was handed, or leaves a
// descriptor open, adds a test failure.
RunResult runInProcess(const InProcessProgram& program, const std::vector<std::string>& args,
                       const std::string& input = "", StandardInput kind = StandardInput::Pipe);
// The same run writing to output, a stream of the caller's (a full device, a
// buffer with little room), which it keeps; the result's out stays empty.
RunResult runInProcess(const InProcessProgram& program, const std::vector<std::string>& args,
                       const std::string& input, StandardInput kind, FILE* output);

}  // namespace testkit

#endif
