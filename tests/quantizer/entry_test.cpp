// huecut's entry called in process on streams in memory: it must do exactly
// what the program does, read and write only the streams it is handed, leave
// them open, and end a failure through the library's fatal hook with its
// line. Under the address sanitizer the binary's leak check at exit also
// proves that a run ended anywhere by a fatal line gives back all it held.
#include "quantize.h"
#include "quanttest.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace testkit;

namespace {

struct FatalLine {};
[[noreturn]] void throwFatalLine() { throw FatalLine{}; }

// The program's name in messages, as the library's start-up records it,
// and a fatal hook that returns the run to the test.
struct InProcess {
    InProcess() {
        static char name[] = "huecut";
        char* argv[] = {name, nullptr};
        int argc = 1;
        pnm_init(&argc, argv);
        pm_setfatalhandler(throwFatalLine);
    }
    ~InProcess() { pm_setfatalhandler(nullptr); }
};

// A stream of bytes that must outlive it (fmemopen refuses no bytes).
FILE* readStream(const std::string& bytes) {
    return bytes.empty() ? fopen("/dev/null", "rb") : fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
}

// argv over words, which must outlive it.
std::vector<char*> argvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return argv;
}

int runEntry(std::vector<std::string> args, FILE* in, FILE* out) {
    args.insert(args.begin(), "huecut");
    std::vector<char*> argv = argvOf(args);
    return huecut::runCommandLine(static_cast<int>(args.size()), argv.data(), in, out);
}

// Runs huecut::runCommandLine with input on its standard input; the result
// reads as runProgram's, a fatal line giving status 1.
RunResult runInProcess(const std::vector<std::string>& args, const std::string& input) {
    InProcess hook;
    char* bytes = nullptr;
    size_t size = 0;
    // A pipe, as the spawned program is given: a stream in memory has a size
    // and would be checked as a file is.
    FILE* in = pipeStreamOf(input);
    FILE* out = open_memstream(&bytes, &size);
    EXPECT_TRUE(in && out);
    RunResult r;
    testing::internal::CaptureStderr();
    try {
        r.status = runEntry(args, in, out);
    } catch (const FatalLine&) {
        r.status = 1;
    }
    r.err = testing::internal::GetCapturedStderr();
    // Both streams are still the caller's (closing one twice would be caught
    // by the sanitizer): the output takes more bytes after the run's.
    EXPECT_GE(fputs("|after", out), 0);
    fclose(in);
    fclose(out);
    r.out.assign(bytes, size);
    free(bytes);
    EXPECT_EQ(r.out.substr(r.out.size() - 6), "|after");
    r.out.resize(r.out.size() - 6);
    return r;
}

struct EntryCase {
    std::string name;
    std::vector<std::string> args;  // IN, MAP, EMPTYMAP, BIGMAP and CUTMAP: the files below
    std::string input;              // standard input
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }

class InProcessRun : public testing::TestWithParam<EntryCase> {};

TEST_P(InProcessRun, DoesWhatTheProgramDoes) {
    const EntryCase& c = GetParam();
    const std::string dir = scratchDir();
    writeFile(dir + "/in.ppm", toPpm(makeGradientImage(23, 17, 255)));
    writeFile(dir + "/map.ppm", makePpm(3, 1, 15, {0, 0, 0, 15, 15, 15, 9, 2, 12}));
    writeFile(dir + "/empty.ppm", makePpm(0, 0, 255, {}));
    writeFile(dir + "/big.ppm", toPpm(makeGradientImage(200, 200, 255)));
    writeFile(dir + "/cut.ppm", "P6\n30 30\n255\n0123456789");
    std::vector<std::string> args;
    for (const std::string& a : c.args)
        args.push_back(a == "IN"         ? dir + "/in.ppm"
                       : a == "MAP"      ? dir + "/map.ppm"
                       : a == "EMPTYMAP" ? dir + "/empty.ppm"
                       : a == "BIGMAP"   ? dir + "/big.ppm"
                       : a == "CUTMAP"   ? dir + "/cut.ppm"
                                         : a);
    const RunResult program = runProgram(HUECUT_PATH, args, c.input);
    const RunResult inProcess = runInProcess(args, c.input);
    EXPECT_EQ(inProcess.status, program.status);
    EXPECT_EQ(inProcess.err, program.err);
    EXPECT_TRUE(inProcess.out == program.out) << inProcess.out.size() << " bytes in process, " << program.out.size()
                                              << " from the program";
}

const std::string NOISE = toPpm(makeNoiseImage(31, 19, 255, 6, 5));
const std::string WIDE = toPpm(makeNoiseImage(40, 30, 65535, 50, 8));
const std::string SMALL_MAP = makePpm(2, 1, 255, {0, 0, 0, 255, 255, 255});

INSTANTIATE_TEST_SUITE_P(
    Cases, InProcessRun,
    testing::Values(
        EntryCase{"CountReadsStandardInput", {"4"}, NOISE},
        EntryCase{"DashReadsStandardInput", {"-fs", "-randomseed", "3", "8", "-"}, WIDE},
        EntryCase{"NamedInputIgnoresStandardInput", {"-refine", "2", "6", "IN"}, NOISE},
        EntryCase{"RefinedAndDithered", {"-refine", "3", "-floyd", "-randomseed", "11", "5"}, WIDE},
        EntryCase{"MapFile", {"-mapfile", "MAP", "IN"}, ""},
        EntryCase{"MapFileOnStandardInput", {"-mapfile", "-", "IN"}, SMALL_MAP},
        EntryCase{"ImageThenMapOnStandardInput", {"-fs", "-randomseed", "1", "-mapfile", "-"}, NOISE + SMALL_MAP},
        EntryCase{"ImageWithoutPixels", {"-fs", "3"}, "P6\n9 0\n255\n"},
        // Failures at each stage of the run: the arguments, the input's
        // header and raster, the map, after the image has been read.
        EntryCase{"CountOfOne", {"1"}, NOISE},
        EntryCase{"UnknownOption", {"-bogus", "4"}, NOISE},
        EntryCase{"MissingInput", {"4", "no-such-file"}, ""},
        EntryCase{"TruncatedRaster", {"-refine", "2", "4"}, NOISE.substr(0, NOISE.size() - 10)},
        EntryCase{"EmptyMap", {"-fs", "-mapfile", "EMPTYMAP", "-"}, NOISE},
        EntryCase{"MapOfTooManyColours", {"-mapfile", "BIGMAP"}, toPpm(makeNoiseImage(5, 5, 1000, 4, 2))},
        EntryCase{"TruncatedMap", {"-refine", "0", "-mapfile", "CUTMAP", "IN"}, ""},
        EntryCase{"MapFileMissingFromStandardInput", {"-mapfile", "-"}, NOISE}),
    [](const testing::TestParamInfo<EntryCase>& info) { return info.param.name; });

// A full output device ends every kind of run with the write error's line,
// through the hook, whether the rows or the final flush meet it.
TEST(InProcessRun, FullOutputEndsTheRunWithItsLine) {
    const std::string image = toPpm(makeGradientImage(60, 50, 255));
    const std::vector<std::vector<std::string>> runs = {
        {"16"}, {"-fs", "-randomseed", "2", "16"}, {"-refine", "2", "16"}, {"-fs", "-refine", "2", "2"}};
    InProcess hook;
    for (const std::vector<std::string>& args : runs) {
        FILE* in = readStream(image);
        FILE* full = fopen("/dev/full", "wb");
        ASSERT_TRUE(in && full);
        testing::internal::CaptureStderr();
        bool fatal = false;
        try {
            runEntry(args, in, full);
        } catch (const FatalLine&) {
            fatal = true;
        }
        const std::string err = testing::internal::GetCapturedStderr();
        fclose(in);
        fclose(full);
        EXPECT_TRUE(fatal) << args[0];
        const std::string line = "huecut: error writing the output: No space left on device\n";
        EXPECT_EQ(err.substr(err.size() < line.size() ? 0 : err.size() - line.size()), line) << err;
    }
}

}  // namespace
