#include "commandline.h"

#include <optionscan.h>
#include <orrim.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rasterpack {

const char* const USAGE_SYNOPSIS =
    "[-verbose] [-downscale] [-interlace] [-force] [-alpha file] ...\n"
    "             ... [-transparent color] [-background color] [-gamma value] ...\n"
    "             ... [-hist] [-chroma wx wy rx ry gx gy bx by] [-phys x y unit] ...\n"
    "             ... [-text file] [-ztxt file] [-time [yy]yy-mm-dd hh:mm:ss] ...\n"
    "             ... [-palette file] [-filter 0..4] [-compression 0..9] ...\n"
    "             ... [-threads n] [-optimize | -optimizemax] [pnmfile]";

namespace {

const int MAX_THREADS = 256;

// An unknown option only shows the version report; the scan goes on.
const ProgramCommandLine RASTERPACK_COMMAND_LINE = {"rasterpack", "2.37.6 (21 July 2001) +orrim", USAGE_SYNOPSIS,
                                                    VERSION_WITH_LIBRARIES, false};

// As readFloat for an int. A number beyond int is clamped to INT_MIN or
// INT_MAX, so that it fails a range test instead of wrapping into it; the
// return value says whether it fitted.
bool readInt(const char* text, int* value) {
    char* end = nullptr;
    errno = 0;
    long number = strtol(text, &end, 10);
    if (end == text) return true;
    bool fits = errno != ERANGE && number >= INT_MIN && number <= INT_MAX;
    *value = number < INT_MIN ? INT_MIN : number > INT_MAX ? INT_MAX : static_cast<int>(number);
    return fits;
}

// Whether text is a whole number and nothing else: an optional sign, then
// digits only. Its value is read as readInt reads it.
bool readWholeNumber(const char* text, int* value) {
    const char* digits = text + (text[0] == '+' || text[0] == '-');
    if (*digits == '\0') return false;
    for (const char* p = digits; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    readInt(text, value);
    return true;
}

void rejectAlphaWithTransparent() { pm_error("-alpha and -transparent are mutually exclusive"); }

// Scans one option at argv[*index], consuming its values. Returns false when
// the option matches no keyword.
bool scanOneOption(int argc, char** argv, int* index, EncoderSettings* s) {
    const char* arg = argv[*index];
    if (pm_keymatch(arg, "-verbose", 2)) {
        s->verbose = true;
    } else if (pm_keymatch(arg, "-downscale", 2)) {
        s->downscale = true;
    } else if (pm_keymatch(arg, "-interlace", 2)) {
        s->interlace = true;
    } else if (pm_keymatch(arg, "-alpha", 2)) {
        // The clash is reported even when the option's own value is missing.
        if (s->transparent > 0) rejectAlphaWithTransparent();
        s->alpha = true;
        s->alphaFile = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
    } else if (pm_keymatch(arg, "-transparent", 3)) {
        if (s->alpha) rejectAlphaWithTransparent();
        s->transparent = 1;
        s->transparentColor = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
    } else if (pm_keymatch(arg, "-background", 2)) {
        s->backgroundColor = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
        s->background = 1;
    } else if (pm_keymatch(arg, "-gamma", 2)) {
        readFloat(takeOptionValue(argc, argv, index, USAGE_SYNOPSIS), &s->gamma);
    } else if (pm_keymatch(arg, "-hist", 2)) {
        s->hist = true;
    } else if (pm_keymatch(arg, "-chroma", 3)) {
        for (float& value : s->chroma) readFloat(takeOptionValue(argc, argv, index, USAGE_SYNOPSIS), &value);
    } else if (pm_keymatch(arg, "-phys", 3)) {
        for (int& value : s->phys) {
            const char* text = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
            // A clamped count would be written as a different size.
            if (!readInt(text, &value)) pm_error("-phys: '%s' is out of range", pm_escapetext(text).c_str());
        }
        // PNG knows only these two units; another would make an invalid pHYs.
        if (s->phys[2] != 0 && s->phys[2] != 1)
            pm_error("-phys: unit '%s' is neither 0 (unknown) nor 1 (metre)", pm_escapetext(argv[*index]).c_str());
    } else if (pm_keymatch(arg, "-text", 3)) {
        s->textFile = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
        s->text = true;
    } else if (pm_keymatch(arg, "-ztxt", 2)) {
        s->textFile = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
        s->ztxt = true;
    } else if (pm_keymatch(arg, "-time", 3)) {
        s->timeDate = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
        s->timeOfDay = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
        s->time = true;
    } else if (pm_keymatch(arg, "-palette", 3)) {
        s->paletteFile = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
    } else if (pm_keymatch(arg, "-filter", 3)) {
        readInt(takeOptionValue(argc, argv, index, USAGE_SYNOPSIS), &s->filter);
        if (static_cast<unsigned>(s->filter) > 4) {
            pm_message("filter must be 0 (none), 1 (sub), 2 (up), 3 (avg) or 4 (paeth)");
            pm_usage(USAGE_SYNOPSIS);
        }
    } else if (pm_keymatch(arg, "-compression", 3)) {
        readInt(takeOptionValue(argc, argv, index, USAGE_SYNOPSIS), &s->compression);
        if (static_cast<unsigned>(s->compression) > 9) {
            pm_message("zlib compression must be between 0 (none) and 9 (max)");
            pm_usage(USAGE_SYNOPSIS);
        }
    } else if (pm_keymatch(arg, "-force", 3)) {
        s->force = true;
    } else if (pm_keymatch(arg, "-threads", 3)) {
        // A new option, so strict: "2x" or "1.5" is no count of threads.
        const char* text = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
        if (!readWholeNumber(text, &s->threads)) {
            pm_message("-threads: '%s' is not a whole number", pm_escapetext(text).c_str());
            pm_usage(USAGE_SYNOPSIS);
        }
        if (s->threads < 0 || s->threads > MAX_THREADS) {
            pm_message("threads must be between 1 and %d, or 0 for one per available core", MAX_THREADS);
            pm_usage(USAGE_SYNOPSIS);
        }
    } else if (pm_keymatch(arg, "-optimize", 2)) {
        s->optimize = true;
    } else if (pm_keymatch(arg, "-optimizemax", 10)) {
        // Checked after -optimize, which every shorter prefix names.
        s->optimize = s->exhaustive = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

int scanOptions(int argc, char** argv, EncoderSettings* settings) {
    return scanOptionWords(RASTERPACK_COMMAND_LINE, argc, argv, settings, scanOneOption);
}

}  // namespace rasterpack
