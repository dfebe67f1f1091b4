// lazystream.cpp - a rewindable stream over a pipe or terminal that reads the
// pipe only as far as its reader asks. Every byte taken from the pipe is kept
// in an anonymous temporary file, so that a rewind re-reads from there; a read
// beyond what was kept pulls more from the pipe, and never more than one
// buffer ahead of the position asked for.
#include <orrim.h>

#include "internal.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The stream's stdio buffer, and the most bytes taken from the pipe ahead of
// the reader.
const size_t LAZY_BUFFER = size_t(1) << 16;

struct LazySource {
    FILE* stream;          // the stream handed out
    int fd;                // the pipe or terminal
    FILE* owned;           // the source stream when opened by name, closed with ours
    FILE* cache;           // anonymous temporary file with every byte pulled so far
    uint64_t cached;       // bytes pulled from the pipe (and kept)
    uint64_t pos;          // the stream's position
    bool ended;            // the pipe reached its end
    char* buffer;          // stdio buffer of stream
    char* scratch;         // for pulls made outside a read
    LazySource* next;      // all lazy streams open, for pm_lazyStreamFill
};

LazySource* openSources = nullptr;

ssize_t readSome(int fd, char* buf, size_t size) {
    ssize_t n;
    do n = read(fd, buf, size);
    while (n < 0 && errno == EINTR);
    return n;
}

bool storeInCache(LazySource* s, const char* bytes, size_t count) {
    int fd = fileno(s->cache);
    size_t done = 0;
    while (done < count) {
        ssize_t n = pwrite(fd, bytes + done, count - done, off_t(s->cached + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += size_t(n);
    }
    s->cached += count;
    return true;
}

// Takes at most size bytes from the pipe into buf and the cache. Returns the
// count (0 at the pipe's end) or -1 with errno set.
ssize_t pullOnce(LazySource* s, char* buf, size_t size) {
    if (s->ended) return 0;
    ssize_t n = readSome(s->fd, buf, size);
    if (n < 0) return -1;
    if (n == 0) {
        s->ended = true;
        return 0;
    }
    if (!storeInCache(s, buf, size_t(n))) return -1;
    return n;
}

// Pulls from the pipe until the cache holds the bytes before end or the pipe
// ends, through scratch (size bytes). False with errno set on a failure.
bool pullUntil(LazySource* s, uint64_t end, char* scratch, size_t size) {
    while (s->cached < end && !s->ended) {
        uint64_t missing = end - s->cached;
        if (pullOnce(s, scratch, missing < size ? size_t(missing) : size) < 0) return false;
    }
    return true;
}

ssize_t readLazy(void* cookie, char* buf, size_t size) {
    LazySource* s = static_cast<LazySource*>(cookie);
    if (size == 0) return 0;
    // A seek past the bytes seen so far: fill the gap first.
    if (!pullUntil(s, s->pos, buf, size)) return -1;
    if (s->pos < s->cached) {
        uint64_t kept = s->cached - s->pos;
        size_t want = kept < size ? size_t(kept) : size;
        ssize_t n;
        do n = pread(fileno(s->cache), buf, want, off_t(s->pos));
        while (n < 0 && errno == EINTR);
        if (n < 0) return -1;
        if (n == 0) {
            errno = EIO;  // the cache lost bytes it was given
            return -1;
        }
        s->pos += uint64_t(n);
        return n;
    }
    if (s->pos > s->cached) return 0;  // past the end of the input
    ssize_t n = pullOnce(s, buf, size);
    if (n > 0) s->pos += uint64_t(n);
    return n;
}

int seekLazy(void* cookie, off64_t* offset, int whence) {
    LazySource* s = static_cast<LazySource*>(cookie);
    int64_t base;
    if (whence == SEEK_SET) {
        base = 0;
    } else if (whence == SEEK_CUR) {
        base = int64_t(s->pos);
    } else if (whence == SEEK_END) {
        // The end of a pipe is known only once it is all read.
        if (!s->scratch) s->scratch = static_cast<char*>(malloc(LAZY_BUFFER));
        if (!s->scratch) return -1;
        if (!pullUntil(s, UINT64_MAX, s->scratch, LAZY_BUFFER)) return -1;
        base = int64_t(s->cached);
    } else {
        errno = EINVAL;
        return -1;
    }
    if ((*offset > 0 && base > INT64_MAX - *offset) || base + *offset < 0) {
        errno = EINVAL;
        return -1;
    }
    s->pos = uint64_t(base + *offset);
    *offset = off64_t(s->pos);
    return 0;
}

void forget(LazySource* s) {
    for (LazySource** p = &openSources; *p; p = &(*p)->next) {
        if (*p == s) {
            *p = s->next;
            return;
        }
    }
}

int closeLazy(void* cookie) {
    LazySource* s = static_cast<LazySource*>(cookie);
    forget(s);
    fclose(s->cache);
    if (s->owned) fclose(s->owned);
    // stdio leaves a buffer it was given alone once the stream is closed.
    free(s->buffer);
    free(s->scratch);
    free(s);
    return 0;
}

LazySource* findSource(FILE* f) {
    for (LazySource* s = openSources; s; s = s->next)
        if (s->stream == f) return s;
    return nullptr;
}

}  // namespace

FILE* pm_openLazySeekable(FILE* source, const char* description, bool keepSource) {
    FILE* cache = tmpfile();
    if (!cache) pm_error("cannot create a temporary file to hold %s: %s", description, strerror(errno));
    LazySource* s = static_cast<LazySource*>(calloc(1, sizeof(LazySource)));
    char* buffer = static_cast<char*>(malloc(LAZY_BUFFER));
    if (!s || !buffer) pm_error("out of memory allocating a buffer for %s", description);
    s->fd = fileno(source);
    s->owned = source == stdin || keepSource ? nullptr : source;
    s->cache = cache;
    s->buffer = buffer;
    cookie_io_functions_t io = {readLazy, nullptr, seekLazy, closeLazy};
    FILE* f = fopencookie(s, "rb", io);
    if (!f) pm_error("cannot open a rewindable stream over %s: %s", description, strerror(errno));
    setvbuf(f, buffer, _IOFBF, LAZY_BUFFER);
    s->stream = f;
    s->next = openSources;
    openSources = s;
    return f;
}

int64_t pm_lazyStreamFill(FILE* f, uint64_t end) {
    LazySource* s = findSource(f);
    if (!s) return -1;
    if (!s->scratch) s->scratch = static_cast<char*>(malloc(LAZY_BUFFER));
    if (!s->scratch) pm_error("out of memory allocating a buffer for the input");
    if (!pullUntil(s, end, s->scratch, LAZY_BUFFER)) pm_error("error reading the input: %s", strerror(errno));
    return int64_t(s->cached < end ? s->cached : end);
}
