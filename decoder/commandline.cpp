#include "commandline.h"

#include <optionvalues.h>
#include <orrim.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

const char* const USAGE_SYNOPSIS =
    "[-verbose] [-alpha | -mix] [-background color] ...\n"
    "             ... [-gamma value] [-text file] [-time] [pngfile]";

namespace {

// -1 is the same as no -gamma, and 0 leaves a PNG without gAMA uncorrected;
// any other display gamma is a finite positive number.
bool displayGammaAccepted(float gamma) {
    return gamma == -1.0f || gamma == 0.0f || (std::isfinite(gamma) && gamma > 0.0f);
}

const char* const RASTERUNPACK_VERSION = "2.37.4 (5 December 1999) +orrim";

// Scans the option at argv[*index], consuming its value. False when it
// matches no keyword.
bool scanOneOption(int argc, char** argv, int* index, DecoderSettings* s) {
    const char* arg = argv[*index];
    if (pm_keymatch(arg, "-verbose", 2)) {
        s->verbose = true;
    } else if (pm_keymatch(arg, "-alpha", 2)) {
        s->alphaMode = ALPHA_ONLY;
    } else if (pm_keymatch(arg, "-mix", 2)) {
        s->alphaMode = ALPHA_MIX;
    } else if (pm_keymatch(arg, "-background", 2)) {
        s->backgroundColor = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
    } else if (pm_keymatch(arg, "-gamma", 2)) {
        const char* value = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
        readFloat(value, &s->displayGamma);
        if (!displayGammaAccepted(s->displayGamma))
            pm_error("-gamma value '%s' is not a finite positive number", pm_escapetext(value).c_str());
    } else if (pm_keymatch(arg, "-text", 3)) {
        s->textFile = takeOptionValue(argc, argv, index, USAGE_SYNOPSIS);
    } else if (pm_keymatch(arg, "-time", 3)) {
        s->reportTime = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

void reportVersion() {
    fprintf(stderr, "rasterunpack version %s, compiled with libpng version %s\n", RASTERUNPACK_VERSION,
            PNG_LIBPNG_VER_STRING);
}

int scanOptions(int argc, char** argv, DecoderSettings* settings) {
    int index = 1;
    // A lone "-" names standard input and ends the options like any file name.
    while (index < argc && argv[index][0] == '-' && argv[index][1] != '\0') {
        if (!scanOneOption(argc, argv, &index, settings)) {
            reportVersion();
            pm_usage(USAGE_SYNOPSIS);
        }
        ++index;
    }
    return index;
}
