// internal.h - state and helpers shared by the library's own source files.
// Not installed; programs see only orrim.h.
#ifndef ORRIM_INTERNAL_H
#define ORRIM_INTERNAL_H

#include <cstddef>
#include <cstdio>

// True when the program was given -plain: the writers then write plain PNM.
bool pm_plainRequested();

// A growable scratch buffer, reused across rows so that reading and writing
// a row does not allocate.
struct ByteBuffer {
    unsigned char* data = nullptr;
    size_t size = 0;
};
// Makes buf hold at least bytes bytes (contents are not kept).
unsigned char* pm_reserveBuffer(ByteBuffer& buf, size_t bytes, const char* what);

// Ends the run naming the system's reason when a read from f failed; returns
// when the stream merely reached its end.
void pm_failOnReadError(FILE* f);

// White space as the PNM formats know it.
inline bool pm_isPnmSpace(int c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Skips the rest of a comment line, its newline included.
inline void pm_skipComment(FILE* f) {
    int c;
    do c = getc_unlocked(f);
    while (c != '\n' && c != EOF);
}

// Reads past white space and comments; returns (consumed) the first other
// character, or EOF.
inline int pm_skipSpaceAndComments(FILE* f) {
    int c = getc_unlocked(f);
    for (;;) {
        if (pm_isPnmSpace(c)) {
            c = getc_unlocked(f);
        } else if (c == '#') {
            pm_skipComment(f);
            c = getc_unlocked(f);
        } else {
            return c;
        }
    }
}

#endif
