// rasterpack's entry in process: the bytes the program writes, on the
// caller's streams, and nothing held or left open after a failure that
// unwinds through a fatal hook.
#include "pngtestkit.h"
#include "program.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdlib>
#include <cstring>
#include <ostream>

using namespace testkit;

namespace {

// An output stream in memory, as a caller would hand it over.
struct MemoryOutput {
    char* bytes = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&bytes, &size);
    ~MemoryOutput() {
        fclose(f);
        free(bytes);
    }
    std::string text() {
        fflush(f);
        return std::string(bytes, size);
    }
};

struct Arguments {
    std::vector<std::string> words;
    std::vector<char*> argv;
    explicit Arguments(const std::vector<std::string>& args) : words{"rasterpack"} {
        words.insert(words.end(), args.begin(), args.end());
        for (std::string& w : words) argv.push_back(&w[0]);
        argv.push_back(nullptr);
    }
    int count() const { return int(words.size()); }
};

struct InProcessRun {
    int status = -1;
    std::string out, err;
    bool failed = false;  // ended through pm_error
};

struct FatalLine {};
[[noreturn]] void throwFatalLine() { throw FatalLine{}; }

// Runs the entry on the caller's streams; a fatal line comes back as failed.
InProcessRun runInProcess(const std::vector<std::string>& args, FILE* input, FILE* output) {
    InProcessRun r;
    Arguments a(args);
    testing::internal::CaptureStderr();
    pm_setfatalhandler(throwFatalLine);
    try {
        r.status = rasterpack::runCommandLine(a.count(), a.argv.data(), input, output);
    } catch (const FatalLine&) {
        r.failed = true;
    }
    pm_setfatalhandler(nullptr);
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

// The input must still be the caller's afterwards: it is closed here.
InProcessRun runOnBytes(const std::vector<std::string>& args, std::string bytes) {
    FILE* input = fmemopen(&bytes[0], bytes.size(), "rb");
    MemoryOutput out;
    InProcessRun r = runInProcess(args, input, out.f);
    r.out = out.text();
    EXPECT_EQ(fclose(input), 0);
    return r;
}

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
    InProcessRun named = runOnBytes(c.args, c.image);
    EXPECT_FALSE(named.failed) << named.err;
    EXPECT_EQ(named.status, 0);
    EXPECT_TRUE(named.out == program.out) << "in-process output differs from the program's";
    // "-" is the caller's stream, not the process's standard input
    std::vector<std::string> dash = c.args;
    dash.push_back("-");
    EXPECT_TRUE(runOnBytes(dash, c.image).out == program.out);
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

// A pipe is read through a rewindable stream of the run's own, closed with
// the run; the caller's pipe stays open.
TEST(InProcessEntry, PipeInputIsWrappedAndLeftOpen) {
    std::string image = makePgm(5, 4, 255, ramp(20, 255));
    FILE* pipe = pipeStreamOf(image);
    MemoryOutput out;
    InProcessRun r = runInProcess({}, pipe, out.f);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(decodePng(out.text()).samples.size(), 20u);
    EXPECT_EQ(fclose(pipe), 0);
}

// --- failures -------------------------------------------------------------------

int openDescriptors() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++count;
        closedir(d);
    }
    return count;
}

// A failure through libpng's recovery point (the output takes the header and
// no more, whether libpng or the image data writer writes the rows) and one
// before any output, each unwinding through the fatal hook, and
// the same entry afterwards writes what it wrote before: no state is left
// from the failed runs. The sanitized build checks that nothing leaks.
TEST(InProcessEntry, FailuresLeaveNothingBehind) {
    std::string image = makePpm(40, 30, 255, ramp(3600, 255));
    std::string before = runOnBytes({}, image).out;
    ASSERT_FALSE(before.empty());
    std::string mask = sideFile("mask.pgm", makePgm(40, 30, 255, ramp(1200, 255)));
    const int descriptors = openDescriptors();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"-threads", "2"}, {"-optimize"}, {"-alpha", mask, "-interlace"}}) {
        // room for the signature and IHDR: the image data finds the output full
        char room[64];
        FILE* small = fmemopen(room, sizeof room, "wb");
        setvbuf(small, nullptr, _IONBF, 0);
        FILE* input = fmemopen(&image[0], image.size(), "rb");
        InProcessRun r = runInProcess(args, input, small);
        EXPECT_TRUE(r.failed);
        EXPECT_NE(r.err.find("rasterpack:  fatal libpng error: Write Error\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(": setjmp returns error condition (2)\n"), std::string::npos) << r.err;
        EXPECT_EQ(memcmp(room, "\x89PNG", 4), 0);
        EXPECT_EQ(fclose(input), 0);
        fclose(small);
    }
    std::string truncated = image.substr(0, image.size() - 1);
    std::string text = sideFile("text", "Title x\n");
    InProcessRun refused = runOnBytes({"-hist", "-alpha", mask, "-text", text}, truncated);
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("premature end of file in the raster"), std::string::npos) << refused.err;
    EXPECT_EQ(openDescriptors(), descriptors) << "a failed run left a stream open";
    EXPECT_TRUE(runOnBytes({}, image).out == before);
}

}  // namespace
