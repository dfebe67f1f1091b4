// internal.h - state and helpers shared by the library's own source files.
// Not installed; programs see only orrim.h.
#ifndef ORRIM_INTERNAL_H
#define ORRIM_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// True when the program was given -plain: the writers then write plain PNM.
bool pm_plainRequested();

// pm_error's line, then, unless synopsis is null, pm_usage's line; then the
// run ends as pm_error ends it.
[[noreturn]] void pm_errorThenUsage(const char* synopsis, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// A growable scratch buffer, reused across rows so that reading and writing
// a row does not allocate.
struct ByteBuffer {
    unsigned char* data = nullptr;
    size_t size = 0;
};
// count * size + extra, or the run ends ("<what> is too large to allocate")
// when that overflows a size_t.
size_t pm_checkedBytes(size_t count, size_t size, size_t extra, const char* what);

// Makes buf hold at least bytes bytes (contents are not kept).
unsigned char* pm_reserveBuffer(ByteBuffer& buf, size_t bytes, const char* what);

// An image array (freed by pm_freearray) over rows rows of rowBytes bytes
// each, held one after another in data (from malloc; the array takes it
// over, and frees it at once when rowBytes is 0).
void* pm_arrayOverRows(void* data, size_t rowBytes, int rows);

// Ends the run naming the system's reason when a read from f failed; returns
// when the stream merely reached its end.
void pm_failOnReadError(FILE* f);

// A stream over source (a pipe or terminal, stdin or opened by name) that
// can be rewound: it reads source only when a read needs bytes not yet seen
// and keeps them in an anonymous temporary file. Closing it closes source
// too, unless source is stdin or keepSource is set (a caller's stream).
// description names source in messages.
FILE* pm_openLazySeekable(FILE* source, const char* description, bool keepSource = false);
// For a stream from pm_openLazySeekable: pulls from its pipe until the bytes
// before position end are kept or the pipe ends, and returns how many of
// them the stream holds. -1 when f is another kind of stream. A failed read
// or write of the kept copy ends the run.
int64_t pm_lazyStreamFill(FILE* f, uint64_t end);

// What a PAM format code stands for.
struct PamTupleType {
    int format;        // its PAM_*_FORMAT code
    const char* name;  // its TUPLTYPE
    int family;        // PBM_FORMAT, PGM_FORMAT or PPM_FORMAT: its colour samples
    int channels;      // colour samples a pixel: 1 or 3
    bool alpha;        // an alpha sample follows them
};
// The tuple type of a PAM code; null for any other code.
const PamTupleType* pm_pamTupleType(int format);
// Samples a pixel (the header's DEPTH).
inline int pm_pamDepth(const PamTupleType& t) { return t.channels + (t.alpha ? 1 : 0); }

// "P7" as readMagic reads it, before the tuple type is known.
const int PAM_MAGIC = 'P' * 256 + '7';
// The rest of a PAM header, after its magic number, through the newline of
// ENDHDR; every field checked (see pnm_readpaminit).
void pm_readPamHeader(FILE* f, int* cols, int* rows, uint32_t* maxval, int* format);

// White space as the PNM formats know it.
inline bool pm_isPnmSpace(int c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Most bytes of white space and comments read between two fields of a
// header or a plain raster, and most digits in one number: an endless
// comment or number from a pipe then ends the run instead of being read
// forever.
const long PNM_MAX_SEPARATOR_BYTES = 1L << 20;
const int PNM_MAX_NUMBER_DIGITS = 1000;
// What pm_skipSpaceAndComments returns for a longer run (never a byte, nor EOF).
const int PNM_SEPARATOR_TOO_LONG = -2;

// Skips the rest of a comment line, its newline included, spending budget a
// byte; false when the budget runs out first.
inline bool pm_skipComment(FILE* f, long& budget) {
    int c;
    do {
        if (--budget < 0) return false;
        c = getc_unlocked(f);
    } while (c != '\n' && c != EOF);
    return true;
}

// Reads past white space and comments; returns (consumed) the first other
// character, EOF, or PNM_SEPARATOR_TOO_LONG.
inline int pm_skipSpaceAndComments(FILE* f) {
    long budget = PNM_MAX_SEPARATOR_BYTES;
    int c = getc_unlocked(f);
    for (;;) {
        if (pm_isPnmSpace(c)) {
            if (--budget < 0) return PNM_SEPARATOR_TOO_LONG;
            c = getc_unlocked(f);
        } else if (c == '#') {
            if (!pm_skipComment(f, budget)) return PNM_SEPARATOR_TOO_LONG;
            c = getc_unlocked(f);
        } else {
            return c;
        }
    }
}

#endif
