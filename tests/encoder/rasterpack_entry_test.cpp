// rasterpack's entry in process: the bytes the program writes, on the
// caller's streams, and nothing held or left open after a failure that
// unwinds through a fatal hook.
#include "pngtestkit.h"
#include "programs.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

using namespace testkit;

namespace {

std::string sideFile(const std::string& name, const std::string& bytes) {
    std::string path = scratchDir() + "/" + name;
    writeFile(path, bytes);
    return path;
}

std::vector<Sample> ramp(int n, Sample maxval) {
    std::vector<Sample> v;
    for (int i = 0; i < n; ++i) v.push_back(Sample(i * 7919 % (maxval + 1)));
    return v;
}

// --- the program's bytes -------------------------------------------------------

struct EntryCase {
    const char* name;
    std::string image;
    std::vector<std::string> args;
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }

class InProcessEntry : public testing::TestWithParam<EntryCase> {};

TEST_P(InProcessEntry, WritesTheProgramsBytesToTheCallersStream) {
    const EntryCase& c = GetParam();
    RunResult program = runProgram(rasterpackPath(), c.args, c.image);
    ASSERT_EQ(program.status, 0) << program.err;
    std::string redirected = scratchDir() + "/in.pnm";
    writeFile(redirected, c.image);
    EXPECT_TRUE(runProgram(rasterpackPath(), c.args, "", redirected).out == program.out)
        << "the program's output from a file differs from a pipe's";
    // "-" is the caller's stream, not the process's standard input
    std::vector<std::string> dash = c.args;
    dash.push_back("-");
    for (StandardInput kind : {StandardInput::Pipe, StandardInput::File, StandardInput::Memory}) {
        for (const std::vector<std::string>& args : {c.args, dash}) {
            RunResult named = runInProcess(RASTERPACK, args, c.image, kind);
            EXPECT_EQ(named.status, 0) << named.err;
            EXPECT_TRUE(named.out == program.out) << "in-process output differs from the program's";
        }
    }
}

std::string entryName(const testing::TestParamInfo<EntryCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Runs, InProcessEntry,
    testing::Values(EntryCase{"Palette", makePpm(3, 2, 255, {1, 2, 3, 4, 5, 6, 1, 2, 3, 7, 8, 9, 4, 5, 6, 1, 2, 3}), {}},
                    EntryCase{"Grey16", makePgm(9, 7, 65535, ramp(63, 65535)), {"-interlace"}},
                    EntryCase{"Bits", makePbm(11, 3, std::vector<int>(33, 1)), {"-gamma", "0.45"}},
                    EntryCase{"MaskAndText", makePpm(2, 2, 255, ramp(12, 255)),
                              {"-alpha", sideFile("mask.pgm", makePgm(2, 2, 255, {0, 9, 255, 40})), "-text",
                               sideFile("text", "Title entry\n"), "-time", "2003-01-02", "12:34:56"}},
                    EntryCase{"Threads", makePpm(40, 30, 255, ramp(3600, 255)), {"-threads", "2", "-interlace"}},
                    EntryCase{"Optimize", makePgm(30, 20, 255, ramp(600, 255)), {"-optimize"}}),
    entryName);

// Failures on the real command line: the same line and status in process.
TEST(InProcessEntry, FailsAsTheProgramDoes) {
    const std::string image = makePgm(5, 4, 255, ramp(20, 255));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-", "extra"}, {"-filter", "9"}, {"-alpha", "/nonexistent/mask"}, {"-gamma"}}) {
        RunResult program = runProgram(rasterpackPath(), args, image);
        RunResult inProcess = runInProcess(RASTERPACK, args, image);
        EXPECT_EQ(program.status, 1) << args[0];
        EXPECT_EQ(inProcess.status, program.status) << args[0];
        EXPECT_EQ(inProcess.err, program.err);
        EXPECT_EQ(inProcess.out, "");
    }
}

// --- failures -------------------------------------------------------------------

// A failure through libpng's recovery point (the output takes the header and
// no more, whether libpng or the image data writer writes the rows) and one
// before any output, each unwinding through the fatal hook, and
// the same entry afterwards writes what it wrote before: no state is left
// from the failed runs. The sanitized build checks that nothing leaks.
TEST(InProcessEntry, FailuresLeaveNothingBehind) {
    std::string image = makePpm(40, 30, 255, ramp(3600, 255));
    std::string before = runInProcess(RASTERPACK, {}, image).out;
    ASSERT_FALSE(before.empty());
    std::string mask = sideFile("mask.pgm", makePgm(40, 30, 255, ramp(1200, 255)));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"-threads", "2"}, {"-optimize"}, {"-alpha", mask, "-interlace"}}) {
        // room for the signature and IHDR: the image data finds the output full
        char room[64];
        FILE* small = fmemopen(room, sizeof room, "wb");
        setvbuf(small, nullptr, _IONBF, 0);
        RunResult r = runInProcess(RASTERPACK, args, image, StandardInput::Memory, small);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("rasterpack:  fatal libpng error: Write Error\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(": setjmp returns error condition (2)\n"), std::string::npos) << r.err;
        EXPECT_EQ(memcmp(room, "\x89PNG", 4), 0);
        fclose(small);
    }
    std::string truncated = image.substr(0, image.size() - 1);
    std::string text = sideFile("text", "Title x\n");
    RunResult refused =
        runInProcess(RASTERPACK, {"-hist", "-alpha", mask, "-text", text}, truncated, StandardInput::Memory);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("premature end of file in the raster"), std::string::npos) << refused.err;
    EXPECT_TRUE(runInProcess(RASTERPACK, {}, image).out == before);
}

}  // namespace
