#include "inprocess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testkit {

namespace {

struct FatalLine {};

[[noreturn]] void throwFatalLine() { throw FatalLine{}; }

// The fatal hook for the length of one run.
struct FatalHook {
    FatalHook() { pm_setfatalhandler(throwFatalLine); }
    ~FatalHook() { pm_setfatalhandler(nullptr); }
    FatalHook(const FatalHook&) = delete;
    FatalHook& operator=(const FatalHook&) = delete;
};

// Feeds bytes into a pipe on a thread of its own, so input larger than the
// pipe neither blocks the run nor has to fit; a reader that stops early ends
// the writer with EPIPE (SIGPIPE is ignored in the test process).
class PipeFeeder {
public:
    explicit PipeFeeder(const std::string& bytes) {
        signal(SIGPIPE, SIG_IGN);
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
        fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
        reader_ = fdopen(fds[0], "rb");
        int writeEnd = fds[1];
        writer_ = std::thread([writeEnd, &bytes] {
            size_t done = 0;
            while (done < bytes.size()) {
                ssize_t k = write(writeEnd, bytes.data() + done, bytes.size() - done);
                if (k <= 0) break;
                done += size_t(k);
            }
            close(writeEnd);
        });
    }
    ~PipeFeeder() {
        if (reader_) fclose(reader_);
        writer_.join();
    }
    PipeFeeder(const PipeFeeder&) = delete;
    PipeFeeder& operator=(const PipeFeeder&) = delete;
    FILE* stream() const { return reader_; }

private:
    FILE* reader_ = nullptr;
    std::thread writer_;
};

// The run's standard output: a stream in memory, read back after the run.
class MemoryOutput {
public:
    MemoryOutput() : stream_(open_memstream(&bytes_, &size_)) {
        if (!stream_) throw std::runtime_error("open_memstream failed");
    }
    ~MemoryOutput() {
        if (stream_) fclose(stream_);
        free(bytes_);
    }
    MemoryOutput(const MemoryOutput&) = delete;
    MemoryOutput& operator=(const MemoryOutput&) = delete;
    FILE* stream() const { return stream_; }
    std::string take() {
        fclose(stream_);
        stream_ = nullptr;
        return std::string(bytes_, size_);
    }

private:
    char* bytes_ = nullptr;
    size_t size_ = 0;
    FILE* stream_ = nullptr;
};

int callEntry(const InProcessProgram& program, const std::vector<std::string>& args, FILE* in, FILE* out) {
    std::vector<std::string> words{program.name};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(words.size());
    FatalHook hook;
    try {
        pnm_init(&argc, argv.data());
        return program.entry(argc, argv.data(), in, out);
    } catch (const FatalLine&) {
        return 1;
    }
}

}  // namespace

RunResult runInProcess(const InProcessProgram& program, const std::vector<std::string>& args,
                       const std::string& input, StandardInput kind) {
    RunResult result;
    MemoryOutput out;
    testing::internal::CaptureStderr();
    if (kind == StandardInput::File) {
        std::string path = scratchDir() + "/stdin";
        writeFile(path, input);
        FILE* in = fopen(path.c_str(), "rb");
        if (!in) throw std::runtime_error("cannot open " + path);
        result.status = callEntry(program, args, in, out.stream());
        fclose(in);
    } else {
        PipeFeeder feeder(input);
        result.status = callEntry(program, args, feeder.stream(), out.stream());
    }
    fflush(stderr);
    result.err = testing::internal::GetCapturedStderr();
    result.out = out.take();
    return result;
}

}  // namespace testkit
