// rasterpack: converts a PBM, PGM or PPM image to PNG on standard output.
#include "commandline.h"
#include "driver.h"

#include <orrim.h>

#include <cstdio>

int main(int argc, char** argv) {
    pnm_init(&argc, argv);

    EncoderSettings settings;
    int index = scanOptions(argc, argv, &settings);

    const char* inputName = "-";
    if (index < argc) inputName = argv[index++];
    FILE* input = pm_openr_seekable(inputName);
    if (index < argc) pm_usage(USAGE_SYNOPSIS);

    FILE* alphaStream = settings.alpha ? pm_openr(settings.alphaFile) : nullptr;
    FILE* paletteStream = settings.paletteFile ? pm_openr(settings.paletteFile) : nullptr;
    FILE* commentStream = (settings.text || settings.ztxt) ? pm_openr(settings.textFile) : nullptr;

    ConversionStreams streams;
    streams.input = input;
    streams.alpha = alphaStream;
    streams.palette = paletteStream;
    streams.comments = commentStream;
    streams.output = stdout;
    int status = convertPnm(&settings, &streams);

    if (alphaStream) pm_closer(alphaStream);
    if (paletteStream) pm_closer(paletteStream);
    if (commentStream) pm_closer(commentStream);
    pm_closer(input);
    pm_closew(stdout);
    return status;
}
