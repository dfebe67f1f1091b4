// The test helpers themselves, where a fault would hide in other binaries'
// results: a death-test child runs the exit handlers it shares with the
// parent.
#include "inprocess.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

using namespace testkit;

namespace {

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(ScratchDir, OutlivesADeathTestChildThatExits) {
    std::string before = scratchDir();
    EXPECT_EXIT(std::exit(3), ::testing::ExitedWithCode(3), "");
    EXPECT_TRUE(isFolder(before));
    std::string after = scratchDir();
    EXPECT_NE(after, before);
    EXPECT_TRUE(isFolder(after));
}

TEST(ScratchDir, PassesOverAFolderAChildMadeUnderTheNextNumber) {
    std::string parent = scratchDir();
    EXPECT_EXIT(
        {
            writeFile(scratchDir() + "/mark", "x");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::string next = scratchDir();
    EXPECT_TRUE(isFolder(next));
    EXPECT_NE(next, parent);
}

// A stand-in program: copies its input to its output until a byte 'X', or
// for "-stop N" only N bytes; "-fail" ends with a fatal line after a message.
int copyProgram(int argc, char** argv, FILE* in, FILE* out) {
    long limit = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-fail") {
            pm_message("about to fail");
            pm_error("failed as asked");
        }
        if (arg == "-stop" && i + 1 < argc) limit = atol(argv[++i]);
    }
    pm_message("copying");
    int c;
    for (long n = 0; (limit < 0 || n < limit) && (c = fgetc(in)) != EOF && c != 'X'; ++n) fputc(c, out);
    return 3;
}

const InProcessProgram COPY{"copier", copyProgram};

TEST(InProcess, RunsLikeAProgram) {
    for (StandardInput kind : {StandardInput::Pipe, StandardInput::File}) {
        RunResult r = runInProcess(COPY, {}, std::string("ab\0cXdef", 8), kind);
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.out, std::string("ab\0c", 4));
        EXPECT_EQ(r.err, "copier: copying\n");

        r = runInProcess(COPY, {"-quiet", "-fail"}, "", kind);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "copier: failed as asked\n");  // -quiet silences only messages
    }
    // -quiet belongs to the run that was given it.
    EXPECT_EQ(runInProcess(COPY, {"-fail"}).err, "copier: about to fail\ncopier: failed as asked\n");
}

// Input beyond what a pipe holds arrives whole, and a run that stops early
// neither blocks nor loses the process to SIGPIPE.
TEST(InProcess, FeedsInputOfAnySize) {
    const std::string big(5 << 20, 'a');
    EXPECT_EQ(runInProcess(COPY, {}, big).out.size(), big.size());
    RunResult early = runInProcess(COPY, {"-stop", "10"}, big);
    EXPECT_EQ(early.out, std::string(10, 'a'));
    EXPECT_EQ(early.status, 3);
}

}  // namespace
