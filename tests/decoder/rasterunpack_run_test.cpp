// rasterunpack's whole run in process: runCommandLine on memory streams
// writes what the spawned program writes, and a run that ends with a fatal
// line (the library's fatal hook throws) leaves no stream open; under the
// sanitizer build the leak check at exit shows that it leaves no memory held.
#include "commandline.h"

#include "pngbuilder.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

using namespace testkit;

namespace {

struct RunEnded {};

[[noreturn]] void throwRunEnded() { throw RunEnded{}; }

int openDescriptors() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++count;
        closedir(d);
    }
    return count;
}

struct InProcessRun {
    bool ended = false;  // by a fatal line
    int status = -1;
    std::string out;
};

InProcessRun runInProcess(std::vector<std::string> args, const std::string& input) {
    args.insert(args.begin(), "rasterunpack");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    InProcessRun r;
    char* outBytes = nullptr;
    size_t outSize = 0;
    // fmemopen refuses a zero size.
    FILE* in = input.empty() ? fopen("/dev/null", "rb") : fmemopen(const_cast<char*>(input.data()), input.size(), "rb");
    FILE* out = open_memstream(&outBytes, &outSize);
    pm_setfatalhandler(throwRunEnded);
    try {
        r.status = rasterunpack::runCommandLine(int(args.size()), argv.data(), in, out);
    } catch (const RunEnded&) {
        r.ended = true;
    }
    pm_setfatalhandler(nullptr);
    fclose(in);
    fclose(out);
    r.out.assign(outBytes, outSize);
    free(outBytes);
    return r;
}

std::string textPng() {
    PngRecipe s;
    s.width = 2;
    s.colorType = 6;
    s.samples = {200, 10, 0, 128, 1, 2, 3, 255};
    s.beforeData.push_back({"tEXt", std::string("Title\0Sunset", 12)});
    s.afterData.push_back({"zTXt", std::string("Note\0\0x\x9c\x4b\x04\x00\x00\x62\x00\x62", 15)});
    return buildPng(s);
}

std::string truncated(const std::string& png) { return png.substr(0, png.size() - 20); }

struct RunCase {
    const char* name;
    std::vector<std::string> args;  // DIR stands for a scratch folder
    std::string input;
    bool fails;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class InProcess : public testing::TestWithParam<RunCase> {};

// Every case against the spawned program: the same output and outcome, and
// the descriptors open before the run are all that is open after it.
TEST_P(InProcess, MatchesTheProgramAndReleasesEverything) {
    const RunCase& c = GetParam();
    std::string dir = scratchDir();
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
        if (a.compare(0, 3, "DIR") == 0) a = dir + a.substr(3);

    RunResult spawned = runProgram(rasterunpackPath(), args, c.input);
    int before = openDescriptors();
    InProcessRun r = runInProcess(args, c.input);
    EXPECT_EQ(openDescriptors(), before);

    EXPECT_EQ(r.ended, c.fails);
    EXPECT_EQ(spawned.status != 0, c.fails) << spawned.err;
    EXPECT_EQ(r.out, spawned.out);
    if (!c.fails) {
        EXPECT_EQ(r.status, spawned.status);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, InProcess,
    testing::Values(RunCase{"Plain", {}, textPng(), false}, RunCase{"Mix", {"-mix", "-v", "-ti"}, textPng(), false},
                    RunCase{"TextFile", {"-text", "DIR/dump.txt"}, textPng(), false},
                    RunCase{"TextOnTheOutput", {"-text", "-"}, textPng(), false},
                    RunCase{"Truncated", {"-text", "DIR/dump.txt"}, truncated(textPng()), true},
                    RunCase{"NotAPng", {}, "GIF89a", true}, RunCase{"Empty", {"-"}, "", true},
                    RunCase{"BadBackground", {"-te", "DIR/t", "-background", "nonsense"}, textPng(), true},
                    RunCase{"TextFileFull", {"-text", "/dev/full"}, textPng(), true},
                    RunCase{"TextFileUnopenable", {"-text", "DIR"}, textPng(), true},
                    RunCase{"MissingInput", {"DIR/absent.png"}, "", true},
                    RunCase{"Surplus", {"-", "extra"}, textPng(), true},
                    RunCase{"UnknownOption", {"-x"}, textPng(), true}),
    [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

}  // namespace
