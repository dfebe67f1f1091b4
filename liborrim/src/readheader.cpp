// readheader.cpp - the PNM header: magic number, dimensions, maxval.
#include <orrim.h>

#include "internal.h"

#include <cstdint>

namespace {

void failPrematureEnd(FILE* f, const char* what) {
    pm_failOnReadError(f);
    pm_error("premature end of file reading the %s of the header", what);
}

[[noreturn]] void failLongSeparator(const char* where, const char* what) {
    pm_error("bad header: more than %ld bytes of comments and white space %s the %s", PNM_MAX_SEPARATOR_BYTES, where,
             what);
}

// Reads one unsigned decimal header field. Values above limit are reported
// as too large; the separator after the digits is consumed (a comment that
// follows directly is skipped up to and including its newline).
uint32_t readHeaderNumber(FILE* f, const char* what, uint64_t limit) {
    int c = pm_skipSpaceAndComments(f);
    if (c == EOF) failPrematureEnd(f, what);
    if (c == PNM_SEPARATOR_TOO_LONG) failLongSeparator("before", what);
    if (c < '0' || c > '9') {
        if (c >= 0x20 && c < 0x7f)
            pm_error("bad header: the %s is not a number (found '%c')", what, c);
        pm_error("bad header: the %s is not a number (found byte 0x%02x)", what, c);
    }
    uint64_t value = 0;
    int digits = 0;
    while (c >= '0' && c <= '9') {
        value = value * 10 + uint64_t(c - '0');
        // The digits still to come cannot bring it back within the limit.
        if (value > limit)
            pm_error("bad header: the %s is too large (at most %llu)", what, static_cast<unsigned long long>(limit));
        if (++digits > PNM_MAX_NUMBER_DIGITS)
            pm_error("bad header: the %s has more than %d digits", what, PNM_MAX_NUMBER_DIGITS);
        c = getc_unlocked(f);
    }
    if (c == '#') {
        long budget = PNM_MAX_SEPARATOR_BYTES;
        if (!pm_skipComment(f, budget)) failLongSeparator("after", what);
    } else if (c != EOF && !pm_isPnmSpace(c)) {
        if (c >= 0x20 && c < 0x7f) pm_error("bad header: the %s is followed by '%c'", what, c);
        pm_error("bad header: the %s is followed by byte 0x%02x", what, c);
    }
    return uint32_t(value);
}

int readMagic(FILE* f) {
    int c1 = getc_unlocked(f);
    if (c1 == EOF) {
        pm_failOnReadError(f);
        pm_error("empty input: there is no PNM header");
    }
    int c2 = getc_unlocked(f);
    if (c2 == EOF) pm_failOnReadError(f);
    if (c1 != 'P' || c2 < '1' || c2 > '7') pm_error("bad magic number - not a PBM, PGM, PPM or PAM file");
    return 'P' * 256 + c2;
}

void readHeader(FILE* f, int* cols, int* rows, Sample* maxval, int* format, bool alphaAllowed) {
    int fmt = readMagic(f);
    if (fmt == PAM_MAGIC) {
        pm_readPamHeader(f, cols, rows, maxval, format);
        if (!alphaAllowed && pnm_formathasalpha(*format))
            pm_error("the input is a PAM image with alpha (tuple type %s), which this program does not read",
                     pnm_tupletype(*format));
        return;
    }
    Sample width = readHeaderNumber(f, "width", PNM_MAX_DIMENSION);
    Sample height = readHeaderNumber(f, "height", PNM_MAX_DIMENSION);
    Sample mv = 1;
    if (pnm_formattype(fmt) != PBM_FORMAT) {
        mv = readHeaderNumber(f, "maxval", UINT32_MAX);
        if (mv == 0) pm_error("bad header: the maxval is 0 (it must be at least 1)");
        if ((fmt == RPGM_FORMAT || fmt == RPPM_FORMAT) && mv > PPM_OVERALLMAXVAL)
            pm_error("bad header: maxval %u is too large for a raw image (at most %u)", mv, PPM_OVERALLMAXVAL);
    }
    *cols = int(width);
    *rows = int(height);
    *maxval = mv;
    *format = fmt;
}

}  // namespace

int pnm_formattype(int format) {
    switch (format) {
    case PBM_FORMAT:
    case RPBM_FORMAT: return PBM_FORMAT;
    case PGM_FORMAT:
    case RPGM_FORMAT: return PGM_FORMAT;
    case PPM_FORMAT:
    case RPPM_FORMAT: return PPM_FORMAT;
    default: {
        const PamTupleType* t = pm_pamTupleType(format);
        return t ? t->family : -1;
    }
    }
}

void pnm_readpnminit(FILE* f, int* cols, int* rows, Sample* maxval, int* format) {
    readHeader(f, cols, rows, maxval, format, false);
}

void pnm_readpaminit(FILE* f, int* cols, int* rows, Sample* maxval, int* format) {
    readHeader(f, cols, rows, maxval, format, true);
}
