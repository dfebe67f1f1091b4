// write.cpp - PNM headers and rows, raw or plain, and PAM headers and rows.
// Every row is built as bytes in a reused buffer and written with one fwrite.
#include <orrim.h>

#include "internal.h"

#include <cerrno>
#include <cstring>

namespace {

ByteBuffer rowBuffer;

// Plain rows wrap before this many characters a line.
const int PLAIN_LINE_LIMIT = 70;

bool writesPlain(int forceplain) { return forceplain != 0 || pm_plainRequested(); }

int checkFamily(int format) {
    int family = pnm_formattype(format);
    if (family < 0) pm_error("cannot write unknown PNM format code 0x%x", unsigned(format));
    return family;
}

void checkMaxval(Sample maxval, bool plain) {
    if (maxval == 0) pm_error("cannot write an image with maxval 0");
    if (!plain && maxval > PPM_OVERALLMAXVAL)
        pm_error("maxval %u is too large for a raw image (at most %u); use plain output", maxval, PPM_OVERALLMAXVAL);
}

void writeBytes(FILE* f, const void* bytes, size_t count) {
    if (count != 0 && fwrite(bytes, 1, count, f) != count)
        pm_error("error writing the output: %s", strerror(errno ? errno : EIO));
}

[[noreturn]] void failAboveMaxval(Sample v, Sample maxval) {
    pm_error("cannot write sample value %u: it is above maxval %u", v, maxval);
}

// Decimal digits of v at p; returns the end.
char* putDecimal(char* p, Sample v) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) *p++ = digits[--n];
    return p;
}

void writeRawPbmRow(FILE* f, const Xel* row, int cols) {
    size_t bytes = size_t(cols) / 8 + (cols % 8 != 0);
    unsigned char* buf = pm_reserveBuffer(rowBuffer, bytes, "an output row buffer");
    memset(buf, 0, bytes);
    for (int x = 0; x < cols; ++x)
        if (row[x].b == 0) buf[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    writeBytes(f, buf, bytes);
}

void writePlainPbmRow(FILE* f, const Xel* row, int cols) {
    size_t n = size_t(cols);
    unsigned char* buf = pm_reserveBuffer(
        rowBuffer, pm_checkedBytes(n, 1, n / PLAIN_LINE_LIMIT + 1, "an output row buffer"), "an output row buffer");
    unsigned char* p = buf;
    for (int x = 0; x < cols; ++x) {
        if (x > 0 && x % PLAIN_LINE_LIMIT == 0) *p++ = '\n';
        *p++ = row[x].b == 0 ? '1' : '0';
    }
    *p++ = '\n';
    writeBytes(f, buf, size_t(p - buf));
}

// The samples of cols pixels as bytes at p: SPP samples a pixel (1: blue
// only; 3: red, green, blue), WIDTH bytes a sample, high byte first. Fixing
// both at compile time keeps the loop free of per-sample tests.
template <int SPP, int WIDTH>
void packRawSamples(unsigned char* p, const Xel* row, int cols, Sample maxval) {
    for (int x = 0; x < cols; ++x) {
        Sample s[3] = {row[x].r, row[x].g, row[x].b};
        for (int i = 3 - SPP; i < 3; ++i) {
            Sample v = s[i];
            if (v > maxval) failAboveMaxval(v, maxval);
            if (WIDTH == 2) *p++ = static_cast<unsigned char>(v >> 8);
            *p++ = static_cast<unsigned char>(v);
        }
    }
}

void writeRawSamples(FILE* f, const Xel* row, int cols, Sample maxval, int samplesPerPixel) {
    size_t count = pm_checkedBytes(size_t(cols), size_t(samplesPerPixel), 0, "an output row buffer");
    size_t width = maxval > 255 ? 2 : 1;
    unsigned char* buf =
        pm_reserveBuffer(rowBuffer, pm_checkedBytes(count, width, 0, "an output row buffer"), "an output row buffer");
    if (samplesPerPixel == 3)
        width == 2 ? packRawSamples<3, 2>(buf, row, cols, maxval) : packRawSamples<3, 1>(buf, row, cols, maxval);
    else
        width == 2 ? packRawSamples<1, 2>(buf, row, cols, maxval) : packRawSamples<1, 1>(buf, row, cols, maxval);
    writeBytes(f, buf, count * width);
}

void writePlainSamples(FILE* f, const Xel* row, int cols, Sample maxval, int samplesPerPixel) {
    size_t count = pm_checkedBytes(size_t(cols), size_t(samplesPerPixel), 0, "an output row buffer");
    // At most 10 digits and a separator a sample, plus the final newline.
    unsigned char* buf =
        pm_reserveBuffer(rowBuffer, pm_checkedBytes(count, 11, 1, "an output row buffer"), "an output row buffer");
    char* start = reinterpret_cast<char*>(buf);
    char* p = start;
    char* lineStart = p;
    for (int x = 0; x < cols; ++x) {
        Sample s[3] = {row[x].r, row[x].g, row[x].b};
        for (int i = 3 - samplesPerPixel; i < 3; ++i) {
            Sample v = s[i];
            if (v > maxval) failAboveMaxval(v, maxval);
            if (p != lineStart) {
                if (p - lineStart + 11 > PLAIN_LINE_LIMIT) {
                    *p++ = '\n';
                    lineStart = p;
                } else {
                    *p++ = ' ';
                }
            }
            p = putDecimal(p, v);
        }
    }
    *p++ = '\n';
    writeBytes(f, start, size_t(p - start));
}

const PamTupleType& pamTypeOf(int format) {
    const PamTupleType* type = pm_pamTupleType(format);
    if (!type) pm_error("cannot write a PAM: format code 0x%x is not a PAM code", unsigned(format));
    return *type;
}

void checkPamMaxval(Sample maxval, const PamTupleType& type) {
    if (maxval == 0 || maxval > PPM_OVERALLMAXVAL)
        pm_error("cannot write a PAM with maxval %u: it must be 1 to %u", maxval, PPM_OVERALLMAXVAL);
    if (type.family == PBM_FORMAT && maxval != 1)
        pm_error("cannot write a %s PAM with maxval %u: it takes maxval 1", type.name, maxval);
}

// The samples of a PAM row at p: each pixel's colour samples, then its alpha.
template <int WIDTH>
void packPamSamples(unsigned char* p, const Xel* row, const Sample* alpha, int cols, Sample maxval,
                    const PamTupleType& type) {
    auto put = [&p, maxval](Sample v) {
        if (v > maxval) failAboveMaxval(v, maxval);
        if (WIDTH == 2) *p++ = static_cast<unsigned char>(v >> 8);
        *p++ = static_cast<unsigned char>(v);
    };
    for (int x = 0; x < cols; ++x) {
        if (type.channels == 3) {
            put(row[x].r);
            put(row[x].g);
        }
        put(row[x].b);
        if (type.alpha) put(alpha ? alpha[x] : maxval);
    }
}

}  // namespace

void pnm_writepaminit(FILE* f, int cols, int rows, Sample maxval, int format) {
    const PamTupleType& type = pamTypeOf(format);
    if (cols < 0 || rows < 0) pm_error("cannot write an image of %d x %d pixels", cols, rows);
    checkPamMaxval(maxval, type);
    char header[160];
    int len = snprintf(header, sizeof header, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %u\nTUPLTYPE %s\nENDHDR\n",
                       cols, rows, pm_pamDepth(type), maxval, type.name);
    writeBytes(f, header, size_t(len));
}

void pnm_writepamrow(FILE* f, const Xel* row, const Sample* alpha, int cols, Sample maxval, int format) {
    const PamTupleType& type = pamTypeOf(format);
    if (cols < 0) pm_error("cannot write a row of %d columns", cols);
    checkPamMaxval(maxval, type);
    const size_t width = maxval > 255 ? 2 : 1;
    const size_t count = pm_checkedBytes(size_t(cols), size_t(pm_pamDepth(type)), 0, "an output row buffer");
    unsigned char* buf =
        pm_reserveBuffer(rowBuffer, pm_checkedBytes(count, width, 0, "an output row buffer"), "an output row buffer");
    if (width == 2)
        packPamSamples<2>(buf, row, alpha, cols, maxval, type);
    else
        packPamSamples<1>(buf, row, alpha, cols, maxval, type);
    writeBytes(f, buf, count * width);
}

void pnm_writepnminit(FILE* f, int cols, int rows, Sample maxval, int format, int forceplain) {
    if (pm_pamTupleType(format)) {
        pnm_writepaminit(f, cols, rows, maxval, format);
        return;
    }
    int family = checkFamily(format);
    bool plain = writesPlain(forceplain);
    if (cols < 0 || rows < 0) pm_error("cannot write an image of %d x %d pixels", cols, rows);
    int digit = family == PBM_FORMAT ? 1 : family == PGM_FORMAT ? 2 : 3;
    if (!plain) digit += 3;
    char header[64];
    int len;
    if (family == PBM_FORMAT) {
        len = snprintf(header, sizeof header, "P%d\n%d %d\n", digit, cols, rows);
    } else {
        checkMaxval(maxval, plain);
        len = snprintf(header, sizeof header, "P%d\n%d %d\n%u\n", digit, cols, rows, maxval);
    }
    writeBytes(f, header, size_t(len));
}

void pnm_writepnmrow(FILE* f, const Xel* row, int cols, Sample maxval, int format, int forceplain) {
    if (pm_pamTupleType(format)) {
        pnm_writepamrow(f, row, nullptr, cols, maxval, format);
        return;
    }
    int family = checkFamily(format);
    bool plain = writesPlain(forceplain);
    if (cols < 0) pm_error("cannot write a row of %d columns", cols);
    if (family == PBM_FORMAT) {
        if (plain)
            writePlainPbmRow(f, row, cols);
        else
            writeRawPbmRow(f, row, cols);
        return;
    }
    checkMaxval(maxval, plain);
    int samplesPerPixel = family == PPM_FORMAT ? 3 : 1;
    if (plain)
        writePlainSamples(f, row, cols, maxval, samplesPerPixel);
    else
        writeRawSamples(f, row, cols, maxval, samplesPerPixel);
}

bool pnm_writesplain(int format, int forceplain) { return !pm_pamTupleType(format) && writesPlain(forceplain); }

void pnm_writerawrow(FILE* f, const void* bytes, size_t count) { writeBytes(f, bytes, count); }

void ppm_writeppminit(FILE* f, int cols, int rows, Sample maxval, int forceplain) {
    pnm_writepnminit(f, cols, rows, maxval, PPM_FORMAT, forceplain);
}

void ppm_writeppmrow(FILE* f, const Pixel* row, int cols, Sample maxval, int forceplain) {
    pnm_writepnmrow(f, row, cols, maxval, PPM_FORMAT, forceplain);
}
