// streams.cpp - opening and closing streams, and file positions that work
// on pipes too.
#include <orrim.h>

#include "internal.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

const char* describeName(const char* name) { return strcmp(name, "-") == 0 ? "standard input" : name; }

// "standard input" for the stream stdin, else a neutral word for messages.
const char* streamName(const FILE* f) { return f == stdin ? "standard input" : "the input"; }

bool isRegularFile(FILE* f) {
    struct stat st;
    return fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && ftello(f) >= 0;
}

// A stream with no descriptor that still knows its position is held in
// memory (fmemopen) and rewinds as a file does.
bool isMemoryStream(FILE* f) { return fileno(f) < 0 && ftello(f) >= 0; }

}  // namespace

void pm_failOnReadError(FILE* f) {
    if (ferror(f)) pm_error("error reading %s: %s", streamName(f), strerror(errno ? errno : EIO));
}

FILE* pm_openr(const char* name) {
    if (strcmp(name, "-") == 0) return stdin;
    FILE* f = fopen(name, "rb");
    if (!f) pm_error("cannot open file '%s' for reading: %s", pm_escapetext(name).c_str(), strerror(errno));
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        // Closed before the line: a fatal hook unwinding from it leaves no owner.
        fclose(f);
        pm_error("cannot open file '%s' for reading: %s", pm_escapetext(name).c_str(), strerror(EISDIR));
    }
    return f;
}

FILE* pm_openw(const char* name) {
    if (strcmp(name, "-") == 0) return stdout;
    FILE* f = fopen(name, "wb");
    if (!f) pm_error("cannot open file '%s' for writing: %s", pm_escapetext(name).c_str(), strerror(errno));
    return f;
}

FILE* pm_openr_seekable(const char* name) {
    FILE* f = pm_openr(name);
    if (isRegularFile(f)) return f;
    // A pipe or terminal is read only as far as the reader asks, keeping
    // what it read so that a rewind works.
    return pm_openLazySeekable(f, pm_escapetext(describeName(name)).c_str());
}

FILE* pm_seekable(FILE* f) {
    if (isRegularFile(f) || isMemoryStream(f)) return f;
    return pm_openLazySeekable(f, streamName(f), true);
}

void pm_closer(FILE* f) {
    if (!f || f == stdin) return;
    fclose(f);
}

void pm_flushw(FILE* f) {
    if (!f) return;
    if (fflush(f) != 0 || ferror(f)) pm_error("error writing the output: %s", strerror(errno ? errno : EIO));
}

void pm_closew(FILE* f) {
    if (!f) return;
    pm_flushw(f);
    if (f == stdout || f == stderr) return;
    if (fclose(f) != 0) pm_error("error writing the output: %s", strerror(errno));
}

void pm_close(FILE* f) {
    if (!f || f == stdin) return;
    if (f == stdout || f == stderr) {
        pm_closew(f);
        return;
    }
    // A stream opened for writing reports its errors here; for a read-only
    // stream fflush has nothing to do. The stream is closed before the line,
    // which may unwind to a caller (a fatal hook) that no longer holds it.
    if (ferror(f)) {
        const int reason = errno ? errno : EIO;
        fclose(f);
        pm_error("error on stream: %s", strerror(reason));
    }
    if (fclose(f) != 0) pm_error("error closing a stream: %s", strerror(errno));
}

void pm_tell2(FILE* f, void* token, size_t size) {
    off_t pos = ftello(f);
    if (pos < 0) pm_error("cannot get the file position: %s", strerror(errno));
    if (size == sizeof(uint32_t)) {
        if (uint64_t(pos) > UINT32_MAX)
            pm_error("file position %lld does not fit a 4-byte position token", static_cast<long long>(pos));
        uint32_t small = uint32_t(pos);
        memcpy(token, &small, sizeof small);
    } else if (size == sizeof(int64_t)) {
        int64_t big = int64_t(pos);
        memcpy(token, &big, sizeof big);
    } else {
        pm_error("internal error: file position token of %zu bytes (4 or 8 expected)", size);
    }
}

void pm_seek2(FILE* f, const void* token, size_t size) {
    off_t pos;
    if (size == sizeof(uint32_t)) {
        uint32_t small;
        memcpy(&small, token, sizeof small);
        pos = off_t(small);
    } else if (size == sizeof(int64_t)) {
        int64_t big;
        memcpy(&big, token, sizeof big);
        pos = off_t(big);
    } else {
        pm_error("internal error: file position token of %zu bytes (4 or 8 expected)", size);
    }
    if (fseeko(f, pos, SEEK_SET) != 0) pm_error("cannot seek to file position %lld: %s", static_cast<long long>(pos), strerror(errno));
}
