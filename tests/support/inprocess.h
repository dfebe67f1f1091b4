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

enum class StandardInput { Pipe, File };

// Runs program with args (without argv[0]) as runProgram runs the built one:
// the library is initialised from the arguments as main does, input arrives
// through a pipe (or a regular file), standard error is captured whole, and a
// fatal line (pm_error, pm_usage) ends the run with status 1, as the program
// exits. Input of any size is fed by a writer thread; the run may stop
// reading early.
RunResult runInProcess(const InProcessProgram& program, const std::vector<std::string>& args,
                       const std::string& input = "", StandardInput kind = StandardInput::Pipe);

}  // namespace testkit

#endif
