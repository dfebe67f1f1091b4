// rasterunpack: converts a PNG image to PBM, PGM or PPM on standard output.
#include "commandline.h"
#include "conversion.h"

#include <orrim.h>

#include <cstdio>

int main(int argc, char** argv) {
    pnm_init(&argc, argv);

    DecoderSettings settings;
    int index = scanOptions(argc, argv, &settings);

    const char* inputName = "-";
    if (index < argc) inputName = argv[index++];
    FILE* input = pm_openr(inputName);
    if (index < argc) pm_usage(USAGE_SYNOPSIS);

    // Opened before the PNG is read, so the file exists even when the run
    // fails; the conversion closes it.
    FILE* textStream = settings.textFile ? pm_openw(settings.textFile) : nullptr;

    int status = convertPng(&settings, input, textStream);

    pm_closer(input);
    pm_closew(stdout);
    return status;
}
