#include "inprocess.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
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
        EXPECT_EQ(fclose(reader_), 0) << "the run closed its input";
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

int openDescriptors() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++count;
        closedir(d);
    }
    return count;
}

// The output must still be the caller's after the run: bytes written after
// it land behind the run's own.
std::string outputLeftOpen(MemoryOutput& out) {
    static const char MARK[] = "|after the run";
    const size_t markLength = sizeof MARK - 1;
    if (fputs(MARK, out.stream()) < 0) ADD_FAILURE() << "the run left its output unusable";
    std::string bytes = out.take();
    if (bytes.size() < markLength || bytes.compare(bytes.size() - markLength, markLength, MARK) != 0) {
        ADD_FAILURE() << "the run closed its output";
        return bytes;
    }
    bytes.resize(bytes.size() - markLength);
    return bytes;
}

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

// The run's standard input as kind asks, closed after the run: it must still
// be the caller's then.
class InputStream {
public:
    InputStream(const std::string& bytes, StandardInput kind) {
        if (kind == StandardInput::Pipe) {
            feeder_.reset(new PipeFeeder(bytes));
            stream_ = feeder_->stream();
        } else if (kind == StandardInput::Memory) {
            stream_ = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
        } else {
            std::string path = scratchDir() + "/stdin";
            writeFile(path, bytes);
            stream_ = fopen(path.c_str(), "rb");
        }
        if (!stream_) throw std::runtime_error("cannot open the run's standard input");
    }
    ~InputStream() {
        if (feeder_) return;  // the feeder closes its pipe
        EXPECT_EQ(fclose(stream_), 0) << "the run closed its input";
    }
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;
    FILE* stream() const { return stream_; }

private:
    std::unique_ptr<PipeFeeder> feeder_;
    FILE* stream_ = nullptr;
};

RunResult runWith(const InProcessProgram& program, const std::vector<std::string>& args, const std::string& input,
                  StandardInput kind, FILE* output, MemoryOutput* memory) {
    const int descriptors = openDescriptors();
    RunResult result;
    testing::internal::CaptureStderr();
    {
        InputStream in(input, kind);
        result.status = callEntry(program, args, in.stream(), output);
    }
    fflush(stderr);
    result.err = testing::internal::GetCapturedStderr();
    if (memory) result.out = outputLeftOpen(*memory);
    EXPECT_EQ(openDescriptors(), descriptors) << program.name << " left a descriptor open";
    return result;
}

}  // namespace

RunResult runInProcess(const InProcessProgram& program, const std::vector<std::string>& args,
                       const std::string& input, StandardInput kind) {
    MemoryOutput out;
    return runWith(program, args, input, kind, out.stream(), &out);
}

RunResult runInProcess(const InProcessProgram& program, const std::vector<std::string>& args,
                       const std::string& input, StandardInput kind, FILE* output) {
    return runWith(program, args, input, kind, output, nullptr);
}

}  // namespace testkit
