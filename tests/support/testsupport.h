// Shared test helpers: run a built program with given stdin, capture its
// output; build PNM images as bytes.
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <orrim.h>

#include <string>
#include <vector>

namespace testkit {

struct RunResult {
    int status = -1;       // exit status, or 128 + signal number when killed
    std::string out;       // standard output, bytes unchanged
    std::string err;       // standard error
};

// Runs program with args (argv[0] is the program path itself), feeding input
// to its standard input through a pipe. A non-empty stdinFile replaces the pipe
// with that file opened for reading.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input = "", const std::string& stdinFile = "");

// A fresh scratch folder for one test, removed when the process ends.
std::string scratchDir();
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

// A stream reading bytes from a pipe (not seekable) whose writer has closed.
// bytes must fit the pipe, which is enlarged to 1 MiB.
FILE* pipeStreamOf(const std::string& bytes);

// PNM images as bytes. Samples are given row-major; PBM takes 1 for black.
std::string makePbm(int cols, int rows, const std::vector<int>& bits, bool plain = false);
std::string makePgm(int cols, int rows, Sample maxval, const std::vector<Sample>& samples, bool plain = false);
// rgb holds 3 samples a pixel.
std::string makePpm(int cols, int rows, Sample maxval, const std::vector<Sample>& rgb, bool plain = false);

// Number of lines in text (a last line without newline counts).
int countLines(const std::string& text);

}  // namespace testkit

#endif
