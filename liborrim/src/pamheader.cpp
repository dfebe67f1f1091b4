// pamheader.cpp - the PAM format codes and the PAM header: keyword lines
// from P7 to ENDHDR.
#include <orrim.h>

#include "internal.h"

#include <cstdint>
#include <cstring>

namespace {

const PamTupleType PAM_TUPLE_TYPES[] = {
    // format, TUPLTYPE, family, colour samples, alpha
    {PAM_BLACKANDWHITE_FORMAT, "BLACKANDWHITE", PBM_FORMAT, 1, false},
    {PAM_GRAYSCALE_FORMAT, "GRAYSCALE", PGM_FORMAT, 1, false},
    {PAM_RGB_FORMAT, "RGB", PPM_FORMAT, 3, false},
    {PAM_BLACKANDWHITE_ALPHA_FORMAT, "BLACKANDWHITE_ALPHA", PBM_FORMAT, 1, true},
    {PAM_GRAYSCALE_ALPHA_FORMAT, "GRAYSCALE_ALPHA", PGM_FORMAT, 1, true},
    {PAM_RGB_ALPHA_FORMAT, "RGB_ALPHA", PPM_FORMAT, 3, true},
};

const PamTupleType* tupleTypeNamed(const char* name) {
    for (const PamTupleType& t : PAM_TUPLE_TYPES)
        if (strcmp(t.name, name) == 0) return &t;
    return nullptr;
}

// Longest header line other than a comment, without its newline: room for
// every valid line with plenty of white space and leading zeros, while a
// line from a pipe never runs on.
const size_t PAM_MAX_LINE_BYTES = 256;

enum PamField { FIELD_WIDTH, FIELD_HEIGHT, FIELD_DEPTH, FIELD_MAXVAL, FIELD_TUPLTYPE, FIELD_COUNT };
const char* const FIELD_NAMES[FIELD_COUNT] = {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL", "TUPLTYPE"};

struct PamFields {
    bool seen[FIELD_COUNT] = {};
    uint32_t number[FIELD_TUPLTYPE] = {};  // WIDTH, HEIGHT, DEPTH, MAXVAL
    const PamTupleType* type = nullptr;
};

[[noreturn]] void failPrematureEnd(FILE* f) {
    pm_failOnReadError(f);
    pm_error("premature end of file in the PAM header (before its ENDHDR line)");
}

[[noreturn]] void failLongSeparator() {
    pm_error("bad PAM header: more than %ld bytes of comments and blank lines", PNM_MAX_SEPARATOR_BYTES);
}

bool isLineSpace(int c) { return c != '\n' && pm_isPnmSpace(c); }

// The rest of the magic number's line: white space alone.
void readMagicLineEnd(FILE* f) {
    int c = getc_unlocked(f);
    while (isLineSpace(c)) c = getc_unlocked(f);
    if (c == EOF) failPrematureEnd(f);
    if (c != '\n') pm_error("bad PAM header: the magic number P7 must stand alone on its line");
}

// The next line that is neither a comment nor blank, without its newline
// and the white space around it, into line (PAM_MAX_LINE_BYTES + 1 bytes).
// Comments and blank lines spend budget.
void readContentLine(FILE* f, char* line, long& budget) {
    for (;;) {
        int c = getc_unlocked(f);
        while (isLineSpace(c)) {
            if (--budget < 0) failLongSeparator();
            c = getc_unlocked(f);
        }
        if (c == EOF) failPrematureEnd(f);
        if (c == '\n') {
            if (--budget < 0) failLongSeparator();
            continue;
        }
        if (c == '#') {
            if (!pm_skipComment(f, budget)) failLongSeparator();
            continue;
        }
        size_t n = 0;
        for (; c != '\n'; c = getc_unlocked(f)) {
            if (c == EOF) failPrematureEnd(f);
            if ((c < 0x20 || c == 0x7f) && !pm_isPnmSpace(c))
                pm_error("bad PAM header: stray byte 0x%02x in a header line", c);
            if (n == PAM_MAX_LINE_BYTES)
                pm_error("bad PAM header: a header line is longer than %zu bytes", PAM_MAX_LINE_BYTES);
            line[n++] = char(c);
        }
        while (n > 0 && pm_isPnmSpace(static_cast<unsigned char>(line[n - 1]))) --n;
        line[n] = '\0';
        return;
    }
}

// A decimal value from lo to hi; the text is quoted as given when it is not.
uint32_t parseNumber(const char* field, const char* text, uint32_t lo, uint32_t hi) {
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            pm_error("bad PAM header: the %s value '%s' is not a number", field, pm_escapetext(text).c_str());
        value = value * 10 + uint64_t(*p - '0');
        if (value > hi) value = uint64_t(hi) + 1;  // saturate; reported below
    }
    if (value < lo || value > hi) pm_error("bad PAM header: %s %s is out of range (%u to %u)", field, text, lo, hi);
    return uint32_t(value);
}

void storeField(PamFields* fields, PamField field, const char* value) {
    const char* name = FIELD_NAMES[field];
    if (fields->seen[field]) pm_error("bad PAM header: more than one %s line", name);
    fields->seen[field] = true;
    if (*value == '\0') pm_error("bad PAM header: the %s line has no value", name);
    switch (field) {
    case FIELD_WIDTH:
    case FIELD_HEIGHT: fields->number[field] = parseNumber(name, value, 0, PNM_MAX_DIMENSION); break;
    case FIELD_DEPTH: fields->number[field] = parseNumber(name, value, 1, 4); break;
    case FIELD_MAXVAL: fields->number[field] = parseNumber(name, value, 1, PPM_OVERALLMAXVAL); break;
    default:
        fields->type = tupleTypeNamed(value);
        if (!fields->type)
            pm_error("bad PAM header: tuple type '%s' is not supported (BLACKANDWHITE, GRAYSCALE or RGB, each with "
                     "or without _ALPHA)",
                     pm_escapetext(value).c_str());
    }
}

// One content line: false for ENDHDR, true for a field stored.
bool readHeaderLine(FILE* f, PamFields* fields, long& budget) {
    char line[PAM_MAX_LINE_BYTES + 1];
    readContentLine(f, line, budget);
    size_t keywordLength = 0;
    while (line[keywordLength] && !pm_isPnmSpace(static_cast<unsigned char>(line[keywordLength]))) ++keywordLength;
    const char* value = line + keywordLength;
    while (pm_isPnmSpace(static_cast<unsigned char>(*value))) ++value;
    if (keywordLength == 6 && strncmp(line, "ENDHDR", 6) == 0) {
        if (*value) pm_error("bad PAM header: ENDHDR is followed by '%s'", pm_escapetext(value).c_str());
        return false;
    }
    for (int field = 0; field < FIELD_COUNT; ++field) {
        if (strlen(FIELD_NAMES[field]) == keywordLength && strncmp(line, FIELD_NAMES[field], keywordLength) == 0) {
            storeField(fields, PamField(field), value);
            return true;
        }
    }
    pm_error("bad PAM header: unknown header line '%s'", pm_escapetext(line).c_str());
}

void checkFields(const PamFields& fields) {
    for (int field = 0; field < FIELD_COUNT; ++field)
        if (!fields.seen[field]) pm_error("bad PAM header: no %s line before ENDHDR", FIELD_NAMES[field]);
    const PamTupleType& type = *fields.type;
    const uint32_t depth = fields.number[FIELD_DEPTH], maxval = fields.number[FIELD_MAXVAL];
    if (depth != uint32_t(pm_pamDepth(type)))
        pm_error("bad PAM header: DEPTH %u does not match tuple type %s (which takes DEPTH %d)", depth, type.name,
                 pm_pamDepth(type));
    if (type.family == PBM_FORMAT && maxval != 1)
        pm_error("bad PAM header: MAXVAL %u does not fit tuple type %s (which takes MAXVAL 1)", maxval, type.name);
}

}  // namespace

const PamTupleType* pm_pamTupleType(int format) {
    for (const PamTupleType& t : PAM_TUPLE_TYPES)
        if (t.format == format) return &t;
    return nullptr;
}

void pm_readPamHeader(FILE* f, int* cols, int* rows, uint32_t* maxval, int* format) {
    readMagicLineEnd(f);
    PamFields fields;
    long budget = PNM_MAX_SEPARATOR_BYTES;
    while (readHeaderLine(f, &fields, budget)) {
    }
    checkFields(fields);
    *cols = int(fields.number[FIELD_WIDTH]);
    *rows = int(fields.number[FIELD_HEIGHT]);
    *maxval = fields.number[FIELD_MAXVAL];
    *format = fields.type->format;
}

bool pnm_formathasalpha(int format) {
    const PamTupleType* t = pm_pamTupleType(format);
    return t && t->alpha;
}

const char* pnm_tupletype(int format) {
    if (const PamTupleType* t = pm_pamTupleType(format)) return t->name;
    int family = pnm_formattype(format);
    return family < 0 ? nullptr : pm_pamTupleType(pnm_pamformat(family, false))->name;
}

int pnm_pamformat(int format, bool alpha) {
    int family = pnm_formattype(format);
    if (family < 0) pm_error("unknown PNM format code 0x%x", unsigned(format));
    for (const PamTupleType& t : PAM_TUPLE_TYPES)
        if (t.family == family && t.alpha == alpha) return t.format;
    pm_error("unknown PNM format code 0x%x", unsigned(format));
}
