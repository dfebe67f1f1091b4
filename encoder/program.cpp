#include "program.h"

#include "commandline.h"
#include "driver.h"

#include <orrim.h>
#include <runstreams.h>

#include <cstring>

namespace rasterpack {

namespace {

bool namesStandardInput(const char* name) { return strcmp(name, "-") == 0; }

// The image: every pass rewinds it, so a pipe is read through a rewindable
// stream, which this run closes (the caller's own stream stays open).
OpenedStream openImage(const char* name, FILE* standardInput) {
    FILE* f = namesStandardInput(name) ? pm_seekable(standardInput) : pm_openr_seekable(name);
    return OpenedStream(f, f != standardInput);
}

OpenedStream openSideFile(bool wanted, const char* name, FILE* standardInput) {
    return wanted ? openInputNamed(name, standardInput) : OpenedStream();
}

// The files the command line names, open for the conversion and closed
// after it, however it ends. The image is opened before the stray-argument
// test, the side files after it.
int convertNamedFiles(const EncoderSettings* settings, int argc, char** argv, int index, FILE* standardInput,
                      FILE* standardOutput) {
    const char* imageName = index < argc ? argv[index++] : "-";
    OpenedStream image = openImage(imageName, standardInput);
    if (index < argc) pm_usage(USAGE_SYNOPSIS);
    OpenedStream alpha = openSideFile(settings->alpha, settings->alphaFile, standardInput);
    OpenedStream palette = openSideFile(settings->paletteFile != nullptr, settings->paletteFile, standardInput);
    OpenedStream comments = openSideFile(settings->text || settings->ztxt, settings->textFile, standardInput);

    ConversionStreams streams;
    streams.input = image.get();
    streams.alpha = alpha.get();
    streams.palette = palette.get();
    streams.comments = comments.get();
    streams.output = standardOutput;
    return convertPnm(settings, &streams);
}

}  // namespace

int runCommandLine(int argc, char** argv, FILE* standardInput, FILE* standardOutput) {
    EncoderSettings settings;
    int index = scanOptions(argc, argv, &settings);
    int status = convertNamedFiles(&settings, argc, argv, index, standardInput, standardOutput);
    pm_flushw(standardOutput);
    return status;
}

}  // namespace rasterpack
