// messages.cpp - program name, library start-up options, and the message,
// error and usage lines on standard error.
#include <orrim.h>

#include "internal.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

const char* progName = "orrim";
bool quietRequested = false;
bool plainRequested = false;
void (*fatalHandler)() = nullptr;

// Ends the run after a fatal line: the installed handler first (it must not
// return), else exit status 1.
[[noreturn]] void endRun() {
    if (fatalHandler) fatalHandler();
    exit(1);
}

const char* baseName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Matches a library option spelled in full, with one or two hyphens, so that
// it never swallows an abbreviation that belongs to the program.
bool isLibraryOption(const char* arg, const char* name) {
    if (arg[0] != '-') return false;
    const char* rest = arg[1] == '-' ? arg + 2 : arg + 1;
    return strcmp(rest, name) == 0;
}

// Writes "<prefix><text>\n" to standard error in one call, so that lines
// from different processes sharing the terminal do not interleave.
void writeLine(const char* prefix, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int textLen = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (textLen < 0) textLen = 0;
    size_t prefixLen = strlen(prefix);
    size_t total = prefixLen + size_t(textLen) + 2;
    char small[1024];
    char* line = total <= sizeof small ? small : static_cast<char*>(malloc(total));
    if (!line) {
        // Cannot format the text: at least say who failed.
        fputs(prefix, stderr);
        fputs(format, stderr);
        fputc('\n', stderr);
        return;
    }
    memcpy(line, prefix, prefixLen);
    vsnprintf(line + prefixLen, size_t(textLen) + 1, format, args);
    line[prefixLen + size_t(textLen)] = '\n';
    fwrite(line, 1, prefixLen + size_t(textLen) + 1, stderr);
    fflush(stderr);
    if (line != small) free(line);
}

void initLibrary(int* argc, char** argv) {
    if (*argc > 0 && argv[0] && argv[0][0]) progName = baseName(argv[0]);
    // Each initialisation reflects its own arguments: a test running several
    // command lines in one process must not inherit an earlier -quiet.
    quietRequested = false;
    plainRequested = false;
    int kept = 1;
    bool optionsEnded = false;
    for (int i = 1; i < *argc; ++i) {
        const char* arg = argv[i];
        if (!optionsEnded && strcmp(arg, "--") == 0) optionsEnded = true;
        if (!optionsEnded && isLibraryOption(arg, "quiet")) {
            quietRequested = true;
        } else if (!optionsEnded && isLibraryOption(arg, "plain")) {
            plainRequested = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    if (*argc > 0) {
        *argc = kept;
        argv[kept] = nullptr;
    }
}

}  // namespace

bool pm_plainRequested() { return plainRequested; }

void pnm_init(int* argc, char** argv) { initLibrary(argc, argv); }
void ppm_init(int* argc, char** argv) { initLibrary(argc, argv); }

const char* pm_progname() { return progName; }

// "<program>: <text>\n" on standard error.
static void writeProgramLine(const char* format, va_list args) {
    char prefix[512];
    snprintf(prefix, sizeof prefix, "%s: ", progName);
    writeLine(prefix, format, args);
}

void pm_message(const char* format, ...) {
    if (quietRequested) return;
    va_list args;
    va_start(args, format);
    writeProgramLine(format, args);
    va_end(args);
}

void pm_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeProgramLine(format, args);
    va_end(args);
    endRun();
}

void pm_usage(const char* synopsis) {
    fprintf(stderr, "usage: %s %s\n", progName, synopsis);
    endRun();
}

void pm_errorThenUsage(const char* synopsis, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeProgramLine(format, args);
    va_end(args);
    if (synopsis) pm_usage(synopsis);
    endRun();
}

void pm_setfatalhandler(void (*handler)()) { fatalHandler = handler; }
