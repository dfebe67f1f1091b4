#include "program.h"

#include "commandline.h"
#include "driver.h"

#include <orrim.h>

#include <cstring>

namespace rasterpack {

namespace {

// A stream this run reads, closed with the run unless it is the caller's.
struct InputStream {
    FILE* f = nullptr;
    bool owned = false;

    InputStream() = default;
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;
    ~InputStream() {
        if (owned) pm_closer(f);
    }
};

bool namesStandardInput(const char* name) { return strcmp(name, "-") == 0; }

// The image: every pass rewinds it, so a pipe is read through a rewindable
// stream, which this run closes (the caller's own stream stays open).
void openImage(const char* name, FILE* standardInput, InputStream* s) {
    s->f = namesStandardInput(name) ? pm_seekable(standardInput) : pm_openr_seekable(name);
    s->owned = s->f != standardInput;
}

void openSideFile(const char* name, FILE* standardInput, InputStream* s) {
    if (namesStandardInput(name)) {
        s->f = standardInput;
        return;
    }
    s->f = pm_openr(name);
    s->owned = true;
}

// The files the command line names, open for the conversion and closed
// after it, however it ends. The image is opened before the stray-argument
// test, the side files after it.
int convertNamedFiles(const EncoderSettings* settings, int argc, char** argv, int index, FILE* standardInput,
                      FILE* standardOutput) {
    const char* imageName = index < argc ? argv[index++] : "-";
    InputStream image;
    openImage(imageName, standardInput, &image);
    if (index < argc) pm_usage(USAGE_SYNOPSIS);
    InputStream alpha, palette, comments;
    if (settings->alpha) openSideFile(settings->alphaFile, standardInput, &alpha);
    if (settings->paletteFile) openSideFile(settings->paletteFile, standardInput, &palette);
    if (settings->text || settings->ztxt) openSideFile(settings->textFile, standardInput, &comments);

    ConversionStreams streams;
    streams.input = image.f;
    streams.alpha = alpha.f;
    streams.palette = palette.f;
    streams.comments = comments.f;
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
