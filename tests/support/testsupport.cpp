#include "testsupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testkit {

namespace {

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Pumps input into inFd and drains outFd/errFd until both reach end of file.
void pumpPipes(int inFd, int outFd, int errFd, const std::string& input, RunResult& result) {
    size_t written = 0;
    if (inFd >= 0 && input.empty()) {
        close(inFd);
        inFd = -1;
    }
    char buf[65536];
    while (outFd >= 0 || errFd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
        if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("poll failed");
        }
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].fd == inFd) {
                ssize_t k = write(inFd, input.data() + written, input.size() - written);
                if (k > 0) written += size_t(k);
                if (k < 0 && errno != EAGAIN) written = input.size();  // reader went away
                if (written == input.size()) {
                    close(inFd);
                    inFd = -1;
                }
            } else {
                int& fd = fds[i].fd == outFd ? outFd : errFd;
                std::string& sink = fds[i].fd == outFd ? result.out : result.err;
                ssize_t k = read(fd, buf, sizeof buf);
                if (k > 0) {
                    sink.append(buf, size_t(k));
                } else if (k == 0 || errno != EAGAIN) {
                    close(fd);
                    fd = -1;
                }
            }
        }
    }
    if (inFd >= 0) close(inFd);
}

}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input, const std::string& stdinFile) {
    signal(SIGPIPE, SIG_IGN);
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (!stdinFile.empty()) {
            int fd = open(stdinFile.c_str(), O_RDONLY);
            if (fd < 0) _exit(126);
            dup2(fd, 0);
            close(fd);
        } else {
            dup2(inPipe[0], 0);
        }
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    setNonBlocking(inPipe[1]);
    RunResult result;
    pumpPipes(stdinFile.empty() ? inPipe[1] : (close(inPipe[1]), -1), outPipe[0], errPipe[0], input, result);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

namespace {

// The scratch root, and the process that made it: a death-test child shares
// the parent's memory and its exit handlers, and must not remove the folder
// the parent goes on using.
struct ScratchRoot {
    std::string path;
    pid_t owner = 0;
};

ScratchRoot& scratchRoot() {
    static ScratchRoot root;
    return root;
}

void removeScratchRoot() {
    const ScratchRoot& root = scratchRoot();
    if (root.path.empty() || getpid() != root.owner) return;
    std::string command = "rm -rf '" + root.path + "'";
    if (system(command.c_str())) {
    }
}

}  // namespace

std::string scratchDir() {
    ScratchRoot& root = scratchRoot();
    if (root.path.empty()) {
        char tmpl[] = "/tmp/orrimtest.XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error(std::string("mkdtemp failed: ") + strerror(errno));
        root.path = tmpl;
        root.owner = getpid();
        std::atexit(removeScratchRoot);
    }
    // A folder a death-test child made under the same number is passed over.
    static int counter = 0;
    for (;;) {
        std::string dir = root.path + "/" + std::to_string(++counter);
        if (mkdir(dir.c_str(), 0700) == 0) return dir;
        if (errno != EEXIST) throw std::runtime_error("cannot make the scratch folder " + dir + ": " + strerror(errno));
    }
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

FILE* pipeStreamOf(const std::string& bytes) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    if (fcntl(fds[1], F_SETPIPE_SZ, 1 << 20) < int(bytes.size())) throw std::runtime_error("pipe too small");
    if (!bytes.empty() && write(fds[1], bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        throw std::runtime_error("pipe write failed");
    close(fds[1]);
    return fdopen(fds[0], "rb");
}

namespace {

std::string header(const char* magic, int cols, int rows) {
    return std::string(magic) + "\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n";
}

void appendSample(std::string& out, Sample v, Sample maxval, bool plain) {
    if (plain) {
        out += std::to_string(v);
        out += '\n';
    } else if (maxval > 255) {
        out += char(v >> 8);
        out += char(v & 0xff);
    } else {
        out += char(v);
    }
}

std::string makeGreyOrColor(const char* plainMagic, const char* rawMagic, int cols, int rows, Sample maxval,
                            const std::vector<Sample>& samples, bool plain) {
    std::string out = header(plain ? plainMagic : rawMagic, cols, rows) + std::to_string(maxval) + "\n";
    for (Sample v : samples) appendSample(out, v, maxval, plain);
    return out;
}

}  // namespace

std::string makePbm(int cols, int rows, const std::vector<int>& bits, bool plain) {
    std::string out = header(plain ? "P1" : "P4", cols, rows);
    for (int y = 0; y < rows; ++y) {
        unsigned char acc = 0;
        for (int x = 0; x < cols; ++x) {
            int bit = bits[size_t(y) * cols + x] ? 1 : 0;
            if (plain) {
                out += char('0' + bit);
                out += ' ';
                continue;
            }
            acc = (unsigned char)(acc | (bit << (7 - x % 8)));
            if (x % 8 == 7 || x == cols - 1) {
                out += char(acc);
                acc = 0;
            }
        }
        if (plain) out += '\n';
    }
    return out;
}

std::string makePgm(int cols, int rows, Sample maxval, const std::vector<Sample>& samples, bool plain) {
    return makeGreyOrColor("P2", "P5", cols, rows, maxval, samples, plain);
}

std::string makePpm(int cols, int rows, Sample maxval, const std::vector<Sample>& rgb, bool plain) {
    return makeGreyOrColor("P3", "P6", cols, rows, maxval, rgb, plain);
}

int countLines(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    if (!text.empty() && text.back() != '\n') ++n;
    return n;
}

}  // namespace testkit
