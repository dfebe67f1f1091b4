// Damaged inputs through the whole programs: each run either fails with one
// line and a non-zero status or gives exactly what the intact input gives;
// rasterunpack, and rasterpack on a PNM, write nothing at all when they fail.
#include "pngtestkit.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace testkit;

namespace {

struct Program {
    const char* name;
    std::string path;
    std::vector<std::string> args;
};

// The program's own lines on standard error; libpng's lines ("libpng
// warning: ...", "<program>:  fatal libpng error: ...") come beside them by design.
std::vector<std::string> ownLines(const std::string& name, const std::string& err) {
    std::vector<std::string> own;
    size_t start = 0;
    while (start < err.size()) {
        size_t end = err.find('\n', start);
        if (end == std::string::npos) end = err.size();
        std::string line = err.substr(start, end - start);
        if (line.rfind("libpng warning: ", 0) != 0 && line.rfind(name + ":  fatal libpng error: ", 0) != 0)
            own.push_back(line);
        start = end + 1;
    }
    return own;
}

// A damaged run is sound when it fails cleanly or matches the intact run.
void expectSound(const Program& p, const std::string& input, const RunResult& intact, bool silentOnFailure,
                 const std::string& what) {
    RunResult r = runProgram(p.path, p.args, input);
    SCOPED_TRACE(std::string(p.name) + " on " + what + ": " + r.err);
    if (r.status == 0) {
        EXPECT_EQ(r.out, intact.out);
        return;
    }
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> own = ownLines(p.name, r.err);
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0].rfind(std::string(p.name) + ": ", 0), 0u);
    EXPECT_EQ(r.err.back(), '\n');
    if (silentOnFailure) {
        EXPECT_EQ(r.out.size(), 0u);
    }
}

void everyTruncation(const Program& p, const std::string& file, bool silentOnFailure) {
    RunResult intact = runProgram(p.path, p.args, file);
    ASSERT_EQ(intact.status, 0) << p.name << ": " << intact.err;
    for (size_t length = 0; length < file.size(); ++length)
        expectSound(p, file.substr(0, length), intact, silentOnFailure, std::to_string(length) + " bytes");
}

std::vector<std::string> pnmFiles() {
    return {makePbm(9, 2, {1, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0, 0, 1, 1}),
            makePgm(2, 2, 65535, {0, 300, 65535, 7}), makePpm(2, 2, 255, {1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3}),
            makePpm(2, 1, 15, {1, 2, 3, 15, 14, 3}, true)};
}

TEST(DamagedInputs, EveryTruncationOfAPnmIsRefusedOrExact) {
    const Program programs[] = {{"rasterpack", rasterpackPath(), {}}, {"huecut", HUECUT_PATH, {"-quiet", "2"}}};
    for (const Program& p : programs)
        for (const std::string& file : pnmFiles()) everyTruncation(p, file, p.name == std::string("rasterpack"));
}

// A small PNG with nothing beside its image chunks, so that a chunk libpng
// skips as damaged cannot change the image.
std::string smallPng() {
    RunResult r = runProgram(rasterpackPath(), {"-force"}, makePpm(3, 2, 255, {0, 255, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                                                                             200, 100, 50, 9, 9, 9}));
    return r.out;
}

TEST(DamagedInputs, EveryTruncationAndByteChangeOfAPngIsRefusedOrExact) {
    const Program p{"rasterunpack", rasterunpackPath(), {}};
    const std::string png = smallPng();
    ASSERT_GT(png.size(), 50u);
    everyTruncation(p, png, true);
    RunResult intact = runProgram(p.path, p.args, png);
    for (size_t at = 0; at < png.size(); ++at) {
        for (unsigned char change : {0x01, 0xff}) {
            std::string damaged = png;
            damaged[at] = char(damaged[at] ^ change);
            expectSound(p, damaged, intact, true, "byte " + std::to_string(at) + " ^ " + std::to_string(change));
        }
    }
}

}  // namespace
