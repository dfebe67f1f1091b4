// Shared by the harnesses that run a whole program: a fatal line returns to
// the harness as an exception, the program's standard output goes to
// /dev/null, and the input is cut into the pieces a run takes.
#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <orrim.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// libFuzzer's entry point, which each harness defines.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

struct FatalInput {};

[[noreturn]] inline void throwFatal() { throw FatalInput{}; }

// Once per process: the program's name with -quiet (so that only fatal lines
// reach standard error), the fatal hook, and standard output discarded.
inline void prepareHarness(const char* programName) {
    static bool ready = false;
    if (ready) return;
    static std::string name = programName;
    static char quiet[] = "-quiet";
    char* argv[] = {&name[0], quiet, nullptr};
    int argc = 2;
    pnm_init(&argc, argv);
    pm_setfatalhandler(throwFatal);
    if (!freopen("/dev/null", "wb", stdout)) abort();
    ready = true;
}

// Takes the fuzz input from the front: single bytes for choices, then pieces
// whose lengths the input gives, then the rest.
struct InputCursor {
    const uint8_t* data;
    size_t size;

    uint8_t byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    // A piece of at most 2^16 - 1 bytes, its length in two bytes ahead of it.
    std::string piece() {
        size_t length = byte();
        length |= size_t(byte()) << 8;
        return take(length);
    }
    std::string take(size_t length) {
        if (length > size) length = size;
        std::string out(reinterpret_cast<const char*>(data), length);
        data += length;
        size -= length;
        return out;
    }
    std::string rest() { return take(size); }
};

// A read stream over bytes that must outlive it (an empty one reads
// /dev/null: fmemopen refuses a zero size).
inline FILE* streamOver(const std::string& bytes) {
    if (bytes.empty()) return fopen("/dev/null", "rb");
    return fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
}

// Closes a stream however the run ends.
struct StreamGuard {
    FILE* f = nullptr;
    ~StreamGuard() {
        if (f) fclose(f);
    }
};

// Whether a PNM header claims more pixels than a run should spend time on:
// each run must stay fast, and the work of a huge image over a few bytes
// is bounded by the library's own checks, which other harnesses cover.
inline bool headerTooLarge(const std::string& bytes) {
    const long MAX_FUZZ_PIXELS = 1 << 18;
    StreamGuard guard{streamOver(bytes)};
    if (!guard.f) return true;
    try {
        int cols, rows, format;
        Sample maxval;
        pnm_readpnminit(guard.f, &cols, &rows, &maxval, &format);
        return long(cols) * rows > MAX_FUZZ_PIXELS || rows > MAX_FUZZ_PIXELS || cols > MAX_FUZZ_PIXELS;
    } catch (const FatalInput&) {
        return false;
    }
}

// An argv built of strings, for the programs' own option scans. argv[0]
// must outlive the run (the library keeps a pointer to the program name).
struct Arguments {
    char* program;
    std::vector<std::string> words;
    std::vector<char*> argv;
    explicit Arguments(char* programName) : program(programName) {}
    void add(const std::string& word) { words.push_back(word); }
    char** finish() {
        argv.clear();
        argv.push_back(program);
        for (std::string& w : words) argv.push_back(&w[0]);
        argv.push_back(nullptr);
        return argv.data();
    }
    int count() const { return int(words.size()) + 1; }
};

#endif
