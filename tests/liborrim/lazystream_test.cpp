// The rewindable stream over a pipe: it reads the pipe only as far as its
// reader asks, re-reads what it kept after a rewind or seek, and lets a real
// program end while its writer still has data. Also pnm_rasterpresent.
#include <orrim.h>

#include <gtest/gtest.h>

#include "../../liborrim/src/internal.h"
#include "testsupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

using namespace testkit;

namespace {

std::string patternBytes(size_t n) {
    std::string s(n, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = char(x >> 24);
    }
    return s;
}

// A pipe holding bytes, its write end kept open unless closeWriter: a read
// beyond bytes would then block, so every test below proves by finishing
// that the stream asked for no more than it needed.
struct FilledPipe {
    int readFd = -1, writeFd = -1;
    FilledPipe(const std::string& bytes, bool closeWriter) {
        int fds[2];
        if (pipe(fds) != 0) abort();
        readFd = fds[0];
        writeFd = fds[1];
        // Room for every byte, so that the writes below never block.
        if (fcntl(writeFd, F_SETPIPE_SZ, 1 << 20) < int(bytes.size())) abort();
        if (!bytes.empty() && write(writeFd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) abort();
        if (closeWriter) {
            close(writeFd);
            writeFd = -1;
        }
    }
    ~FilledPipe() {
        if (writeFd >= 0) close(writeFd);
    }
    // Bytes still in the pipe, not yet taken by the stream.
    int unread() const {
        int n = -1;
        ioctl(readFd, FIONREAD, &n);
        return n;
    }
    FILE* lazyStream() { return pm_openLazySeekable(fdopen(readFd, "rb"), "the test pipe"); }
};

std::string readBytes(FILE* f, size_t n) {
    std::string s(n, '\0');
    s.resize(fread(&s[0], 1, n, f));
    return s;
}

const size_t PIPE_BYTES = 600000;
// What the stream may take from the pipe beyond what was asked for.
const int READ_AHEAD = 1 << 16;

TEST(LazyStream, ReadsOnlyAsFarAsAskedAndRewinds) {
    const std::string data = patternBytes(PIPE_BYTES);
    FilledPipe p(data, false);
    FILE* f = p.lazyStream();
    EXPECT_EQ(readBytes(f, 10), data.substr(0, 10));
    EXPECT_GE(p.unread(), int(PIPE_BYTES) - READ_AHEAD);
    uint32_t token;
    pm_tell2(f, &token, sizeof token);
    EXPECT_EQ(token, 10u);
    EXPECT_EQ(readBytes(f, 100000), data.substr(10, 100000));
    EXPECT_GE(p.unread(), int(PIPE_BYTES) - 100010 - READ_AHEAD);
    pm_seek2(f, &token, sizeof token);
    // From the kept copy, then on past its end into the pipe again.
    EXPECT_EQ(readBytes(f, 300000), data.substr(10, 300000));
    EXPECT_GE(p.unread(), int(PIPE_BYTES) - 300010 - READ_AHEAD);
    EXPECT_FALSE(ferror(f));
    fclose(f);
}

TEST(LazyStream, SeeksForwardToBytesNotYetRead) {
    const std::string data = patternBytes(PIPE_BYTES);
    FilledPipe p(data, false);
    FILE* f = p.lazyStream();
    ASSERT_EQ(fseeko(f, 400000, SEEK_SET), 0);
    EXPECT_EQ(ftello(f), 400000);
    EXPECT_EQ(readBytes(f, 5), data.substr(400000, 5));
    EXPECT_GE(p.unread(), int(PIPE_BYTES) - 400005 - READ_AHEAD);
    // The skipped bytes were kept on the way.
    ASSERT_EQ(fseeko(f, 123456, SEEK_SET), 0);
    EXPECT_EQ(readBytes(f, 1000), data.substr(123456, 1000));
    ASSERT_EQ(fseeko(f, 1000, SEEK_CUR), 0);
    EXPECT_EQ(getc(f), (unsigned char)data[125456]);
    fclose(f);
}

TEST(LazyStream, EndOfInputThenRewind) {
    const std::string data = patternBytes(70000);
    FilledPipe p(data, true);
    FILE* f = p.lazyStream();
    EXPECT_EQ(readBytes(f, 100000), data);
    EXPECT_EQ(getc(f), EOF);
    EXPECT_TRUE(feof(f));
    EXPECT_FALSE(ferror(f));
    rewind(f);
    EXPECT_EQ(readBytes(f, 100000), data);
    // Beyond the end, as on a file: nothing to read, no error; back again.
    ASSERT_EQ(fseeko(f, 90000, SEEK_SET), 0);
    EXPECT_EQ(getc(f), EOF);
    EXPECT_FALSE(ferror(f));
    ASSERT_EQ(fseeko(f, -5, SEEK_END), 0);
    EXPECT_EQ(ftello(f), 69995);
    EXPECT_EQ(readBytes(f, 10), data.substr(69995));
    EXPECT_NE(fseeko(f, -1, SEEK_SET), 0);
    fclose(f);
}

TEST(LazyStream, ReadErrorReachesTheReader) {
    // A directory cannot be read: the error surfaces as the stream's error.
    int fd = open(scratchDir().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    FILE* f = pm_openLazySeekable(fdopen(fd, "rb"), "a directory");
    int cols, rows, format;
    Sample maxval;
    EXPECT_EXIT(pnm_readpnminit(f, &cols, &rows, &maxval, &format), ::testing::ExitedWithCode(1),
                "^orrim: error reading the input: Is a directory\n$");
    fclose(f);
}

// --------------------------------------------------------------------------
// pnm_rasterpresent: every format, a full and a one-byte-short raster, from a
// regular file and from a rewindable pipe; the position stays put.

struct PresenceCase {
    const char* name;
    std::string image;  // header and full raster
};

class RasterPresent : public ::testing::TestWithParam<PresenceCase> {};

void expectPresence(FILE* f, bool expected) {
    int cols, rows, format;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    off_t pos = ftello(f);
    EXPECT_EQ(pnm_rasterpresent(f, cols, rows, maxval, format), expected);
    EXPECT_EQ(ftello(f), pos);
    if (!expected) return;
    std::vector<Xel> row(size_t(cols) + 1);
    for (int y = 0; y < rows; ++y) pnm_readpnmrow(f, row.data(), cols, maxval, format);
}

TEST_P(RasterPresent, FullIsPresentOneByteShortIsNot) {
    const std::string& full = GetParam().image;
    const std::string shortened = full.substr(0, full.size() - 1);
    const std::string path = scratchDir() + "/image";
    for (bool complete : {true, false}) {
        SCOPED_TRACE(complete ? "full" : "one byte short");
        writeFile(path, complete ? full : shortened);
        FILE* file = fopen(path.c_str(), "rb");
        expectPresence(file, complete);
        fclose(file);
        // A short input ends; a full raw one may go on (the writer stays).
        // A plain raster's last number needs the end of input after it.
        bool raw = full[1] >= '4';
        FilledPipe p(complete ? full : shortened, !(complete && raw));
        FILE* lazy = p.lazyStream();
        expectPresence(lazy, complete);
        fclose(lazy);
        std::string bytes = complete ? full : shortened;
        FILE* memory = fmemopen(&bytes[0], bytes.size(), "rb");
        expectPresence(memory, complete);
        fclose(memory);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RasterPresent,
    ::testing::Values(PresenceCase{"RawPbm", makePbm(9, 3, std::vector<int>(27, 1))},
                      PresenceCase{"RawPgm", makePgm(5, 4, 255, std::vector<Sample>(20, 7))},
                      PresenceCase{"RawPgm16", makePgm(5, 4, 1000, std::vector<Sample>(20, 999))},
                      PresenceCase{"RawPpm", makePpm(300, 200, 255, std::vector<Sample>(180000, 1))},
                      PresenceCase{"RawPpm16", makePpm(3, 2, 65535, std::vector<Sample>(18, 65535))},
                      PresenceCase{"PlainPbm", "P1 3 2 010110"},
                      PresenceCase{"PlainPgm", "P2 3 1 9 1 2 3"},
                      PresenceCase{"PlainPpm", "P3 1 2 9 1 2 3 4 5 6"}),
    [](const ::testing::TestParamInfo<PresenceCase>& info) { return std::string(info.param.name); });

TEST(RasterPresentLimits, HugeHeaderOverFewBytesAndStreamsThatCannotTell) {
    const std::string path = scratchDir() + "/huge.ppm";
    writeFile(path, "P6 134217727 134217727 65535\nabcdef");
    FILE* f = fopen(path.c_str(), "rb");
    int cols, rows, format;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    EXPECT_FALSE(pnm_rasterpresent(f, cols, rows, maxval, format));
    fclose(f);
    // A plain pipe cannot be measured without reading it: true, untouched.
    FilledPipe p("abc", false);
    FILE* raw = fdopen(p.readFd, "rb");
    EXPECT_TRUE(pnm_rasterpresent(raw, 100, 100, 255, RPPM_FORMAT));
    EXPECT_EQ(p.unread(), 3);
    fclose(raw);
    // No pixels: always present.
    FilledPipe empty("", true);
    FILE* lazy = empty.lazyStream();
    EXPECT_TRUE(pnm_rasterpresent(lazy, 0, 134217727, 1, RPBM_FORMAT));
    fclose(lazy);
}

// A caller's stream: used as it is when it rewinds, else wrapped, and the
// wrapper's close leaves the caller's stream open.
TEST(Seekable, CallersStreamIsWrappedOnlyWhenItCannotRewind) {
    const std::string path = scratchDir() + "/seekable";
    writeFile(path, "abc");
    FILE* file = fopen(path.c_str(), "rb");
    EXPECT_EQ(pm_seekable(file), file);
    fclose(file);
    std::string bytes = "abc";
    FILE* memory = fmemopen(&bytes[0], bytes.size(), "rb");
    EXPECT_EQ(pm_seekable(memory), memory);
    fclose(memory);

    const std::string data = patternBytes(100000);
    FilledPipe p(data, true);
    FILE* pipeStream = fdopen(p.readFd, "rb");
    FILE* seekable = pm_seekable(pipeStream);
    ASSERT_NE(seekable, pipeStream);
    EXPECT_EQ(readBytes(seekable, 70000), data.substr(0, 70000));
    rewind(seekable);
    EXPECT_EQ(readBytes(seekable, 200000), data);
    pm_closer(seekable);
    EXPECT_NE(fcntl(p.readFd, F_GETFD), -1) << "the caller's stream was closed";
    EXPECT_EQ(fclose(pipeStream), 0);
}

// --------------------------------------------------------------------------
// Real programs fed an image followed by endless data: each must end while
// the writer still has data to give. The writer stops after TAIL_CAP bytes
// of tail, so a program that reads the pipe to its end fails the test
// instead of hanging it.

const size_t TAIL_CAP = size_t(256) << 20;

struct EndlessRun {
    int status = -1;
    std::string out, err;
    size_t tailWritten = 0;
};

EndlessRun runWithEndlessTail(const std::string& program, const std::vector<std::string>& args,
                              const std::string& head, char tailByte) {
    signal(SIGPIPE, SIG_IGN);
    const std::string dir = scratchDir();
    const std::string outPath = dir + "/out", errPath = dir + "/err";
    int fds[2];
    if (pipe(fds) != 0) abort();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[0], 0);
        close(fds[0]);
        close(fds[1]);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[0]);
    EndlessRun run;
    bool open = write(fds[1], head.data(), head.size()) == ssize_t(head.size()) || head.empty();
    const std::string tail(1 << 16, tailByte);
    while (open && run.tailWritten < TAIL_CAP) {
        ssize_t n = write(fds[1], tail.data(), tail.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the reader went away
        run.tailWritten += size_t(n);
    }
    close(fds[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

struct EndlessCase {
    const char* name;
    std::string head;
    char tail;
    int status;
    const char* err;  // expected standard error after "<program>: "; "" for none
};

class EndlessInput : public ::testing::TestWithParam<EndlessCase> {};

void expectEndsEarly(const std::string& program, const std::string& programName, const EndlessCase& c,
                     const std::vector<std::string>& args, const std::string& expectedOut) {
    EndlessRun r = runWithEndlessTail(program, args, c.head, c.tail);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_LT(r.tailWritten, TAIL_CAP) << "the program read the whole tail";
    EXPECT_EQ(r.err, *c.err ? programName + ": " + c.err + "\n" : "");
    // What a program writes before a fault in the raster is its own affair.
    if (c.status == 0) {
        EXPECT_TRUE(r.out == expectedOut) << "output differs";
    }
}

TEST_P(EndlessInput, LibraryCopyEndsWhileTheWriterStillHasData) {
    const EndlessCase& c = GetParam();
    // pnmcopy writes the image back raw; from the image alone it gives the same.
    std::string expected = c.status == 0 ? runProgram(PNMCOPY_PATH, {"-quiet"}, c.head).out : "";
    expectEndsEarly(PNMCOPY_PATH, "liborrim_pnmcopy", c, {"-quiet"}, expected);
}

#ifdef RASTERPACK_PATH
TEST_P(EndlessInput, RasterpackEndsWhileTheWriterStillHasData) {
    const EndlessCase& c = GetParam();
    // -quiet: the palette's progress line is not what this test is about.
    std::string expected = c.status == 0 ? runProgram(RASTERPACK_PATH, {"-quiet"}, c.head).out : "";
    ASSERT_EQ(expected.empty(), c.status != 0);
    expectEndsEarly(RASTERPACK_PATH, "rasterpack", c, {"-quiet"}, expected);
}
#endif

const std::string BIG_PPM = makePpm(400, 300, 255, std::vector<Sample>(360000, 200));
const std::string PAM_RGB = "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\nabcdef";

// Alpha travels through the library's own copy (the programs that read
// alpha come later).
TEST(EndlessInput, LibraryCopiesAPamWithAlphaAndEndsWhileTheWriterStillHasData) {
    const std::string pam = "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nabcdefgh";
    expectEndsEarly(PNMCOPY_PATH, "liborrim_pnmcopy", EndlessCase{"", pam, '\0', 0, ""}, {"-quiet"}, pam);
}

INSTANTIATE_TEST_SUITE_P(
    Tails, EndlessInput,
    ::testing::Values(
        EndlessCase{"Zeros", "", '\0', 1, "bad magic number - not a PBM, PGM, PPM or PAM file"},
        EndlessCase{"Yes", "", 'y', 1, "bad magic number - not a PBM, PGM, PPM or PAM file"},
        EndlessCase{"RawImageThenZeros", makePpm(3, 2, 255, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}),
                    '\0', 0, ""},
        EndlessCase{"LargeRawImageThenZeros", BIG_PPM, '\0', 0, ""},
        EndlessCase{"PlainImageThenNewlines", "P2 2 2 9\n1 2\n3 4\n", '\n', 0, ""},
        EndlessCase{"EndlessComment", "P2 #", 'x', 1,
                    "bad header: more than 1048576 bytes of comments and white space before the width"},
        EndlessCase{"EndlessNumber", "P2 1", '1', 1, "bad header: the width is too large (at most 134217727)"},
        EndlessCase{"EndlessLeadingZeros", "P2 ", '0', 1, "bad header: the width has more than 1000 digits"},
        EndlessCase{"EndlessWhiteSpaceInRaster", "P2 2 2 9\n1 2\n3", ' ', 1,
                    "more than 1048576 bytes of comments and white space in the plain raster"},
        EndlessCase{"EndlessSample", "P2 2 2 9\n1 2\n3 ", '0', 1,
                    "a sample in the plain raster has more than 1000 digits"},
        EndlessCase{"PamThenZeros", PAM_RGB, '\0', 0, ""},
        EndlessCase{"PamThenEndlessComment", "P7\nWIDTH 1\n#", 'x', 1,
                    "bad PAM header: more than 1048576 bytes of comments and blank lines"},
        EndlessCase{"PamEndlessBlankLines", "P7\n", '\n', 1,
                    "bad PAM header: more than 1048576 bytes of comments and blank lines"},
        EndlessCase{"PamEndlessLine", "P7\nWIDTH ", '0', 1, "bad PAM header: a header line is longer than 256 bytes"}),
    [](const ::testing::TestParamInfo<EndlessCase>& info) { return std::string(info.param.name); });

}  // namespace
