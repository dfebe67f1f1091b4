// readraster.cpp - one raster row, raw or plain, PNM or PAM (with its alpha
// samples or without them). Raw rows are read by the piece with fread into a
// small reused buffer and expanded; plain rows go through a small
// hand-written parser over getc_unlocked.
#include <orrim.h>

#include "internal.h"

#include <cstdint>

namespace {

ByteBuffer rowBuffer;

[[noreturn]] void failPrematureEnd(FILE* f) {
    pm_failOnReadError(f);
    pm_error("premature end of file in the raster");
}

[[noreturn]] void failStrayCharacter(int c) {
    if (c == PNM_SEPARATOR_TOO_LONG)
        pm_error("more than %ld bytes of comments and white space in the plain raster", PNM_MAX_SEPARATOR_BYTES);
    if (c >= 0x20 && c < 0x7f) pm_error("stray character '%c' in the plain raster", c);
    pm_error("stray byte 0x%02x in the plain raster", c);
}

[[noreturn]] void failAboveMaxval(uint64_t value, Sample maxval) {
    if (value > UINT32_MAX) pm_error("sample value above maxval %u (too large)", maxval);
    pm_error("sample value %llu is above maxval %u", static_cast<unsigned long long>(value), maxval);
}

// One plain sample: digits, then white space, a comment or the end of file.
inline Sample readPlainSample(FILE* f, Sample maxval) {
    int c = pm_skipSpaceAndComments(f);
    if (c == EOF) failPrematureEnd(f);
    unsigned digit = unsigned(c - '0');
    if (digit > 9) failStrayCharacter(c);
    uint64_t value = digit;
    int digits = 1;
    for (;;) {
        c = getc_unlocked(f);
        digit = unsigned(c - '0');
        if (digit > 9) break;
        value = value * 10 + digit;
        if (value > UINT32_MAX) value = uint64_t(UINT32_MAX) + 1;  // saturate; reported below
        if (++digits > PNM_MAX_NUMBER_DIGITS)
            pm_error("a sample in the plain raster has more than %d digits", PNM_MAX_NUMBER_DIGITS);
    }
    if (c == '#')
        ungetc(c, f);
    else if (c != EOF && !pm_isPnmSpace(c))
        failStrayCharacter(c);
    if (value > maxval) failAboveMaxval(value, maxval);
    return Sample(value);
}

void readPlainPbmRow(FILE* f, Xel* row, int cols) {
    for (int x = 0; x < cols; ++x) {
        int c = pm_skipSpaceAndComments(f);
        if (c == '0') {
            row[x] = Xel{1, 1, 1};
        } else if (c == '1') {
            row[x] = Xel{0, 0, 0};
        } else {
            if (c == EOF) failPrematureEnd(f);
            failStrayCharacter(c);
        }
    }
}

void readPlainPgmRow(FILE* f, Xel* row, int cols, Sample maxval) {
    for (int x = 0; x < cols; ++x) {
        Sample v = readPlainSample(f, maxval);
        row[x] = Xel{v, v, v};
    }
}

void readPlainPpmRow(FILE* f, Xel* row, int cols, Sample maxval) {
    for (int x = 0; x < cols; ++x) {
        Sample r = readPlainSample(f, maxval);
        Sample g = readPlainSample(f, maxval);
        Sample b = readPlainSample(f, maxval);
        row[x] = Xel{r, g, b};
    }
}

// Raw rows are read in pieces of at most this many bytes: the buffer stays
// small however wide a row is, and a truncated row fails before much of it
// is held.
const size_t RAW_CHUNK_BYTES = size_t(1) << 16;

const unsigned char* readRawBytes(FILE* f, size_t bytes) {
    unsigned char* buf = pm_reserveBuffer(rowBuffer, bytes, "a raster row buffer");
    if (fread(buf, 1, bytes, f) != bytes) failPrematureEnd(f);
    return buf;
}

// Eight pixels a byte, the most significant bit first; 1 is black (0).
void expandBits(const unsigned char* buf, Xel* row, size_t pixels) {
    for (size_t x = 0; x < pixels; ++x) {
        Sample v = ((buf[x / 8] >> (7 - x % 8)) & 1) ^ 1;
        row[x] = Xel{v, v, v};
    }
}

void readRawPbmRow(FILE* f, Xel* row, int cols) {
    const size_t chunkPixels = RAW_CHUNK_BYTES * 8;
    for (size_t x = 0; x < size_t(cols); x += chunkPixels) {
        size_t n = size_t(cols) - x < chunkPixels ? size_t(cols) - x : chunkPixels;
        expandBits(readRawBytes(f, (n + 7) / 8), row + x, n);
    }
}

// The first sample of buf (count one-byte or two-byte samples) above maxval.
uint64_t firstAboveMaxval(const unsigned char* buf, size_t count, bool twoBytes, Sample maxval) {
    for (size_t i = 0; i < count; ++i) {
        Sample v = twoBytes ? Sample(buf[2 * i] << 8 | buf[2 * i + 1]) : buf[i];
        if (v > maxval) return v;
    }
    return 0;
}

void checkBytesAgainstMaxval(const unsigned char* buf, size_t count, Sample maxval) {
    if (maxval >= 255) return;
    unsigned char largest = 0;
    for (size_t i = 0; i < count; ++i) largest = buf[i] > largest ? buf[i] : largest;
    if (largest > maxval) failAboveMaxval(firstAboveMaxval(buf, count, false, maxval), maxval);
}

void checkWordsAgainstMaxval(const unsigned char* buf, size_t count, Sample maxval) {
    if (maxval >= 65535) return;
    unsigned largest = 0;
    for (size_t i = 0; i < count; ++i) {
        unsigned v = unsigned(buf[2 * i]) << 8 | buf[2 * i + 1];
        largest = v > largest ? v : largest;
    }
    if (largest > maxval) failAboveMaxval(firstAboveMaxval(buf, count, true, maxval), maxval);
}

// n pixels of channels samples each (1: grey, 3: red, green, blue) from buf.
void expandSamples(const unsigned char* buf, Xel* row, size_t n, int channels, bool twoBytes) {
    if (channels == 1 && !twoBytes) {
        for (size_t x = 0; x < n; ++x) row[x] = Xel{buf[x], buf[x], buf[x]};
    } else if (channels == 1) {
        for (size_t x = 0; x < n; ++x) {
            Sample v = Sample(buf[2 * x]) << 8 | buf[2 * x + 1];
            row[x] = Xel{v, v, v};
        }
    } else if (!twoBytes) {
        for (size_t x = 0; x < n; ++x) {
            const unsigned char* p = buf + 3 * x;
            row[x] = Xel{p[0], p[1], p[2]};
        }
    } else {
        for (size_t x = 0; x < n; ++x) {
            const unsigned char* p = buf + 6 * x;
            row[x] = Xel{Sample(p[0]) << 8 | p[1], Sample(p[2]) << 8 | p[3], Sample(p[4]) << 8 | p[5]};
        }
    }
}

// n PAM pixels of channels colour samples and one alpha sample each from
// buf; alpha, unless null, takes the alpha samples.
void expandSamplesWithAlpha(const unsigned char* buf, Xel* row, Sample* alpha, size_t n, int channels,
                            bool twoBytes) {
    const size_t depth = size_t(channels) + 1;
    auto sampleAt = [buf, twoBytes](size_t i) { return twoBytes ? Sample(buf[2 * i]) << 8 | buf[2 * i + 1] : buf[i]; };
    for (size_t x = 0; x < n; ++x) {
        const size_t first = x * depth;
        if (channels == 1) {
            Sample v = sampleAt(first);
            row[x] = Xel{v, v, v};
        } else {
            row[x] = Xel{sampleAt(first), sampleAt(first + 1), sampleAt(first + 2)};
        }
        if (alpha) alpha[x] = sampleAt(first + size_t(channels));
    }
}

// A raw row of channels colour samples a pixel, and with withAlpha an alpha
// sample after them (into alpha unless it is null).
void readRawSampleRow(FILE* f, Xel* row, Sample* alpha, int cols, Sample maxval, int channels, bool withAlpha) {
    const bool twoBytes = maxval > 255;
    const size_t depth = size_t(channels) + (withAlpha ? 1 : 0);
    const size_t pixelBytes = depth * (twoBytes ? 2 : 1);
    const size_t chunkPixels = RAW_CHUNK_BYTES / pixelBytes;
    for (size_t x = 0; x < size_t(cols); x += chunkPixels) {
        size_t n = size_t(cols) - x < chunkPixels ? size_t(cols) - x : chunkPixels;
        const unsigned char* buf = readRawBytes(f, n * pixelBytes);
        if (twoBytes)
            checkWordsAgainstMaxval(buf, n * depth, maxval);
        else
            checkBytesAgainstMaxval(buf, n * depth, maxval);
        if (withAlpha)
            expandSamplesWithAlpha(buf, row + x, alpha ? alpha + x : nullptr, n, channels, twoBytes);
        else
            expandSamples(buf, row + x, n, channels, twoBytes);
    }
}

// The row request's own checks, shared by both row readers.
void checkRowRequest(int cols, Sample maxval, int format) {
    if (cols < 0 || cols > PNM_MAX_DIMENSION) pm_error("cannot read a row of %d columns", cols);
    if (pnm_formattype(format) == PBM_FORMAT) return;  // bit rows ignore maxval
    if (maxval == 0) pm_error("cannot read a raster with maxval 0");
    const bool raw = format == RPGM_FORMAT || format == RPPM_FORMAT || pm_pamTupleType(format);
    if (raw && maxval > PPM_OVERALLMAXVAL)
        pm_error("maxval %u is too large for a raw image (at most %u)", maxval, PPM_OVERALLMAXVAL);
}

// A PAM row; a BLACKANDWHITE one is at maxval 1 whatever maxval says, as a
// PBM is.
void readPamRow(FILE* f, Xel* row, Sample* alpha, int cols, Sample maxval, const PamTupleType& type) {
    if (type.family == PBM_FORMAT) maxval = 1;
    readRawSampleRow(f, row, alpha, cols, maxval, type.channels, type.alpha);
}

}  // namespace

void pnm_readpnmrow(FILE* f, Xel* row, int cols, Sample maxval, int format) {
    checkRowRequest(cols, maxval, format);
    switch (format) {
    case PBM_FORMAT: readPlainPbmRow(f, row, cols); break;
    case PGM_FORMAT: readPlainPgmRow(f, row, cols, maxval); break;
    case PPM_FORMAT: readPlainPpmRow(f, row, cols, maxval); break;
    case RPBM_FORMAT: readRawPbmRow(f, row, cols); break;
    case RPGM_FORMAT: readRawSampleRow(f, row, nullptr, cols, maxval, 1, false); break;
    case RPPM_FORMAT: readRawSampleRow(f, row, nullptr, cols, maxval, 3, false); break;
    default: {
        const PamTupleType* type = pm_pamTupleType(format);
        if (!type) pm_error("unknown PNM format code 0x%x", unsigned(format));
        readPamRow(f, row, nullptr, cols, maxval, *type);
    }
    }
}

void pnm_readpamrow(FILE* f, Xel* row, Sample* alpha, int cols, Sample maxval, int format) {
    checkRowRequest(cols, maxval, format);
    const PamTupleType* type = pm_pamTupleType(format);
    if (type && type->alpha) {
        readPamRow(f, row, alpha, cols, maxval, *type);
        return;
    }
    pnm_readpnmrow(f, row, cols, maxval, format);
    if (!alpha) return;
    const Sample opaque = pnm_formattype(format) == PBM_FORMAT ? 1 : maxval;
    for (int x = 0; x < cols; ++x) alpha[x] = opaque;
}
