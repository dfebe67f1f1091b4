#include "commandline.h"

#include "conversion.h"

#include <optionscan.h>
#include <orrim.h>
#include <runstreams.h>

#include <cmath>

namespace rasterunpack {

const char* const USAGE_SYNOPSIS =
    "[-verbose] [-alpha | -mix] [-background color] ...\n"
    "             ... [-gamma value] [-text file] [-time] [pngfile]";

namespace {

// An unknown option shows the version line, then the usage.
const ProgramCommandLine RASTERUNPACK_COMMAND_LINE = {"rasterunpack", "2.37.4 (5 December 1999) +orrim",
                                                      USAGE_SYNOPSIS, VERSION_ONE_LINE, true};

// -1 is the same as no -gamma, and 0 leaves a PNG without gAMA uncorrected;
// any other display gamma is a finite positive number.
bool displayGammaAccepted(float gamma) {
    return gamma == -1.0f || gamma == 0.0f || (std::isfinite(gamma) && gamma > 0.0f);
}

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

int scanOptions(int argc, char** argv, DecoderSettings* settings) {
    return scanOptionWords(RASTERUNPACK_COMMAND_LINE, argc, argv, settings, scanOneOption);
}

int runCommandLine(int argc, char** argv, FILE* standardInput, FILE* standardOutput) {
    DecoderSettings settings;
    int index = scanOptions(argc, argv, &settings);

    // An unreadable input file is reported before surplus arguments.
    OpenedStream input = openInputNamed(takeInputName(argc, argv, &index), standardInput);
    rejectSurplusArguments(RASTERUNPACK_COMMAND_LINE, argc, index);

    // Opened before the PNG is read, so that the file exists even when the
    // run fails; the conversion closes it once the dump is written.
    OpenedStream textFile = settings.textFile ? openOutputNamed(settings.textFile, standardOutput) : OpenedStream();

    int status = convertPng(settings, input.get(), settings.textFile ? &textFile : nullptr, standardOutput);

    input.close();
    finishOutput(standardOutput);
    return status;
}

}  // namespace rasterunpack
