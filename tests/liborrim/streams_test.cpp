// Streams, positions, memory, messages and the library's start-up options,
// partly through a real process (pnmcopy) fed by a pipe.
#include <orrim.h>

#include <gtest/gtest.h>

#include "testsupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace testkit;

// The tests provoke allocations far beyond any machine; under
// AddressSanitizer they must fail like ordinary malloc, not abort.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

const std::string PNMCOPY = PNMCOPY_PATH;
const std::string PROGRAM_NAME = "liborrim_pnmcopy";

std::vector<Sample> gradient(size_t count, Sample maxval) {
    std::vector<Sample> s(count);
    for (size_t i = 0; i < count; ++i) s[i] = Sample(i * 7919 % (maxval + 1));
    return s;
}

// --------------------------------------------------------------------------
// Opening and closing

TEST(Streams, DashIsStandardInputAndOutput) {
    EXPECT_EQ(pm_openr("-"), stdin);
    EXPECT_EQ(pm_openw("-"), stdout);
}

TEST(Streams, UnopenableFilesEndTheRunNamingFileAndReason) {
    EXPECT_EXIT(pm_openr("/nonexistent/in.ppm"), ::testing::ExitedWithCode(1),
                "^orrim: cannot open file '/nonexistent/in.ppm' for reading: No such file or directory\n$");
    EXPECT_EXIT(pm_openr_seekable("/nonexistent/in.ppm"), ::testing::ExitedWithCode(1),
                "cannot open file '/nonexistent/in.ppm' for reading");
    EXPECT_EXIT(pm_openr(scratchDir().c_str()), ::testing::ExitedWithCode(1), "for reading: Is a directory\n$");
    EXPECT_EXIT(pm_openw("/nonexistent/out.png"), ::testing::ExitedWithCode(1),
                "^orrim: cannot open file '/nonexistent/out.png' for writing: No such file or directory\n$");
}

TEST(Streams, WriteErrorIsReportedAtClose) {
    EXPECT_EXIT(
        {
            FILE* f = pm_openw("/dev/full");
            fputs("some bytes", f);
            pm_closew(f);
        },
        ::testing::ExitedWithCode(1), "^orrim: error writing the output: No space left on device\n$");
}

// A caller's output is flushed and checked with the same message, and stays
// open for the caller.
TEST(Streams, FlushChecksAndLeavesTheStreamOpen) {
    EXPECT_EXIT(
        {
            FILE* f = fopen("/dev/full", "wb");
            fputs("some bytes", f);
            pm_flushw(f);
        },
        ::testing::ExitedWithCode(1), "^orrim: error writing the output: No space left on device\n$");
    char* bytes = nullptr;
    size_t size = 0;
    FILE* memory = open_memstream(&bytes, &size);
    fputs("one", memory);
    pm_flushw(memory);
    EXPECT_EQ(std::string(bytes, size), "one");
    fputs(" two", memory);
    fclose(memory);
    EXPECT_EQ(std::string(bytes, size), "one two");
    free(bytes);
}

struct FatalLine {};
[[noreturn]] void throwFatalLine() { throw FatalLine{}; }

// The failing close still closes: a caller whose fatal hook unwinds has let
// go of the stream and could not close it afterwards.
TEST(Streams, ErrorAtCloseIsReportedAndTheStreamClosed) {
    FILE* f = fopen("/dev/null", "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fgetc(f), EOF);  // a read from a stream open for writing sets its error
    ASSERT_TRUE(ferror(f));
    const int descriptor = fileno(f);
    testing::internal::CaptureStderr();
    pm_setfatalhandler(throwFatalLine);
    EXPECT_THROW(pm_close(f), FatalLine);
    pm_setfatalhandler(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("orrim: error on stream: ", 0), 0u);
    EXPECT_EQ(fcntl(descriptor, F_GETFD), -1) << "the stream was left open";
}

TEST(Streams, DirectoryRefusedForReadingIsClosed) {
    testing::internal::CaptureStderr();
    const int lowestFree = open("/dev/null", O_RDONLY);  // the descriptor fopen takes next
    close(lowestFree);
    pm_setfatalhandler(throwFatalLine);
    EXPECT_THROW(pm_openr(scratchDir().c_str()), FatalLine);
    pm_setfatalhandler(nullptr);
    const bool leftOpen = lowestFree >= 0 && fcntl(lowestFree, F_GETFD) != -1;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("for reading: Is a directory"), std::string::npos);
    EXPECT_FALSE(leftOpen) << "the directory's stream was left open";
}

TEST(Streams, WrittenFileReadsBack) {
    std::string path = scratchDir() + "/image.pgm";
    FILE* out = pm_openw(path.c_str());
    Xel row[2] = {Xel{0, 0, 7}, Xel{0, 0, 300}};
    pnm_writepnminit(out, 2, 1, 300, PGM_FORMAT, 0);
    pnm_writepnmrow(out, row, 2, 300, PGM_FORMAT, 0);
    pm_closew(out);
    EXPECT_EQ(readFile(path), makePgm(2, 1, 300, {7, 300}));
}

// --------------------------------------------------------------------------
// Positions

TEST(Positions, FourAndEightByteTokensRewind) {
    FILE* f = tmpfile();
    fputs("0123456789", f);
    fseek(f, 3, SEEK_SET);
    uint32_t shortToken = 0;
    uint64_t longToken = 0;
    pm_tell2(f, &shortToken, 4);
    pm_tell2(f, &longToken, 8);
    EXPECT_EQ(shortToken, 3u);
    EXPECT_EQ(longToken, 3u);
    fgetc(f);
    fgetc(f);
    pm_seek2(f, &shortToken, 4);
    EXPECT_EQ(fgetc(f), '3');
    fseek(f, 8, SEEK_SET);
    pm_seek2(f, &longToken, 8);
    EXPECT_EQ(fgetc(f), '3');
    fclose(f);
}

TEST(Positions, PositionBeyondFourBytesNeedsTheLongToken) {
    FILE* f = tmpfile();
    const off_t far = off_t(5) << 30;  // sparse: nothing is written
    ASSERT_EQ(fseeko(f, far, SEEK_SET), 0);
    uint64_t longToken = 0;
    pm_tell2(f, &longToken, 8);
    EXPECT_EQ(longToken, uint64_t(far));
    uint32_t shortToken;
    EXPECT_EXIT(pm_tell2(f, &shortToken, 4), ::testing::ExitedWithCode(1),
                "^orrim: file position 5368709120 does not fit a 4-byte position token\n$");
    EXPECT_EXIT(pm_tell2(f, &longToken, 2), ::testing::ExitedWithCode(1), "token of 2 bytes \\(4 or 8 expected\\)");
    fclose(f);
}

// --------------------------------------------------------------------------
// Seekable input through a real process: pnmcopy reads the raster three
// times (rewinding with both token sizes) and copies the image out.

TEST(Seekable, StandardInputFromAPipeRewinds) {
    // More than a pipe buffer holds, so the rewinds re-read the kept copy.
    const int cols = 300, rows = 200;
    std::string image = makePpm(cols, rows, 65535, gradient(3 * cols * rows, 65535));
    RunResult r = runProgram(PNMCOPY, {}, image);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, PROGRAM_NAME + ": read a 300 x 200 image\n");
    EXPECT_TRUE(r.out == image) << "output differs from input";
}

TEST(Seekable, PlainInputFromAPipeComesOutRaw) {
    std::vector<Sample> samples = gradient(3 * 40 * 30, 1000);
    RunResult r = runProgram(PNMCOPY, {"-"}, makePpm(40, 30, 1000, samples, true));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == makePpm(40, 30, 1000, samples));
}

TEST(Seekable, StandardInputFromAFileAndANamedFile) {
    std::string path = scratchDir() + "/in.pbm";
    std::string image = makePbm(13, 2, std::vector<int>(26, 1));
    writeFile(path, image);
    RunResult fromStdin = runProgram(PNMCOPY, {}, "", path);
    EXPECT_EQ(fromStdin.status, 0) << fromStdin.err;
    EXPECT_TRUE(fromStdin.out == image);
    RunResult named = runProgram(PNMCOPY, {path});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(named.out == image);
}

TEST(Seekable, EmptyPipeIsReported) {
    RunResult r = runProgram(PNMCOPY, {}, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, PROGRAM_NAME + ": empty input: there is no PNM header\n");
    EXPECT_EQ(r.out, "");
}

// --------------------------------------------------------------------------
// Start-up options and messages of a real program

TEST(Startup, PlainAndQuietAreTakenOutOfArgv) {
    std::string image = makePgm(3, 1, 255, {0, 128, 255});
    for (const char* plain : {"-plain", "--plain"}) {
        RunResult r = runProgram(PNMCOPY, {plain, "-quiet"}, image);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, "P2\n3 1\n255\n0 128 255\n");
    }
}

TEST(Startup, AbbreviationsAreLeftToTheProgram) {
    RunResult r = runProgram(PNMCOPY, {"-qui"}, makePgm(1, 1, 255, {0}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, PROGRAM_NAME + ": cannot open file '-qui' for reading: No such file or directory\n");
}

TEST(Startup, UsageLine) {
    RunResult r = runProgram(PNMCOPY, {"a", "b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "usage: " + PROGRAM_NAME + " [pnmfile]\n");
}

TEST(Messages, MessageLineAndLongText) {
    testing::internal::CaptureStderr();
    pm_message("value %d of %s", 5, "five");
    std::string longText(5000, 'x');
    pm_message("%s", longText.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "orrim: value 5 of five\norrim: " + longText + "\n");
    EXPECT_STREQ(pm_progname(), "orrim");
}

TEST(Messages, UserTextIsEscapedForTheTerminal) {
    const struct {
        const char* text;
        const char* escaped;
    } table[] = {
        {"plain name.ppm", "plain name.ppm"},
        {"a\x1b[2Jb", "a\\x1b[2Jb"},         // ESC
        {"bell\a cr\r lf\n", "bell\\x07 cr\\x0d lf\\x0a"},
        {"del\x7f", "del\\x7f"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},  // UTF-8 stays
        {"\xc2\x9b" "1m", "\\xc2\\x9b" "1m"},  // C1 CSI in UTF-8
        {"\x9b" "1m", "\\x9b" "1m"},              // C1 CSI as one byte
        {"cut \xe2\x82", "cut \\xe2\\x82"},      // sequence cut short
        {"\xc0\xaf", "\\xc0\\xaf"},              // overlong
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},      // surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // beyond U+10FFFF
        {"", ""},
    };
    for (const auto& t : table) EXPECT_EQ(pm_escapetext(t.text), t.escaped) << t.escaped;
    EXPECT_EXIT(pm_openr("/nonexistent/\x1b]0;title\a"), ::testing::ExitedWithCode(1),
                "^orrim: cannot open file '/nonexistent/\\\\x1b]0;title\\\\x07' for reading: No such file or directory\n$");
}

TEST(Messages, ErrorAndUsageExitWithStatusOne) {
    EXPECT_EXIT(pm_error("bad %s", "thing"), ::testing::ExitedWithCode(1), "^orrim: bad thing\n$");
    EXPECT_EXIT(pm_usage("[-x] file"), ::testing::ExitedWithCode(1), "^usage: orrim \\[-x\\] file\n$");
}

// --------------------------------------------------------------------------
// Memory

TEST(Memory, MaxvalBitConversions) {
    const struct {
        Sample maxval;
        int bits;
    } table[] = {{0, 1}, {1, 1}, {2, 2}, {3, 2}, {4, 3}, {255, 8}, {256, 9}, {65535, 16}, {65536, 17}, {4294967295u, 32}};
    for (const auto& t : table) EXPECT_EQ(pm_maxvaltobits(t.maxval), t.bits) << t.maxval;
    for (int bits : {1, 2, 8, 15, 16, 31}) EXPECT_EQ(pm_bitstomaxval(bits), (Sample(1) << bits) - 1);
    EXPECT_EQ(pm_bitstomaxval(32), 4294967295u);
}

TEST(Memory, ArrayRowsAreDistinctAndWritable) {
    Xel** image = static_cast<Xel**>(pm_allocarray(5, 3, sizeof(Xel)));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) image[y][x] = Xel{Sample(y), Sample(x), 0};
    EXPECT_EQ(image[1] + 5, image[2]);
    EXPECT_EQ(image[2][4], (Xel{2, 4, 0}));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(image[0]) % alignof(Xel), 0u);
    pm_freearray(image, 3);
    void* empty = pm_allocarray(0, 0, sizeof(Xel));
    EXPECT_NE(empty, nullptr);
    pm_freearray(empty, 0);
}

TEST(Memory, ImpossibleSizesEndTheRunNamingTheAllocation) {
    EXPECT_EXIT(pm_allocrow(-1, 4), ::testing::ExitedWithCode(1), "^orrim: cannot allocate a row of -1 columns\n$");
    EXPECT_EXIT(pm_allocarray(1 << 27, 1 << 27, size_t(1) << 20), ::testing::ExitedWithCode(1),
                "^orrim: an image is too large to allocate\n$");
    EXPECT_EXIT(pm_allocrow(1 << 30, size_t(1) << 32), ::testing::ExitedWithCode(1),
                "orrim: out of memory allocating a row \\([0-9]+ bytes\\)\n$");
}

}  // namespace
