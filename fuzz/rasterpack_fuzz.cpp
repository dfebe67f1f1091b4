// Fuzzes rasterpack's whole conversion, PNM to PNG. The first four bytes
// pick the options and their values; then come an -alpha mask, a -palette
// file and a comment file, each a piece with its length ahead of it; the
// rest is the PNM image. A fatal line, the program's own or one through
// libpng's recovery point, returns here as an exception; the run must leave
// nothing held, with no release function to call.
#include "../encoder/commandline.h"
#include "../encoder/driver.h"
#include "fuzzsupport.h"

using namespace rasterpack;

namespace {

char programName[] = "rasterpack";

const char* const COLORS[] = {"black", "=#808080", "rgb:ffff/0/8000", "#fff", "gray50", "=red", "bogus", "#0000ff"};
const char* const GAMMAS[] = {"0.45", "1", "0", "-3", "1e30"};
const char* const TIMES[][2] = {{"2003-01-02", "12:34:56"}, {"99-12-31", "23:59:60"}, {"2003-13-01", "0:0:0"}};
// Null: no -threads; "2x" is refused.
const char* const THREADS[] = {nullptr, nullptr, "2", "3", "0", "1", "16", "2x"};

// The image data writers: -optimize, and -threads with a count or a bad value.
void addWriterOptions(uint8_t w, Arguments* args) {
    if (w & 1) args->add("-optimize");
    if (const char* threads = THREADS[(w >> 1) & 7]) {
        args->add("-threads");
        args->add(threads);
    }
}

void addOptions(InputCursor* in, Arguments* args, bool* alpha, bool* palette, bool* comments) {
    uint8_t a = in->byte(), b = in->byte(), v = in->byte(), w = in->byte();
    addWriterOptions(w, args);
    *alpha = a & 1;
    if (*alpha) {
        args->add("-alpha");
        args->add("mask");
    }
    *palette = a & 2;
    if (*palette) {
        args->add("-palette");
        args->add("palette");
    }
    *comments = a & 4;
    if (*comments) {
        args->add(a & 8 ? "-ztxt" : "-text");
        args->add("comments");
    }
    if (a & 16) args->add("-force");
    if (a & 32) args->add("-interlace");
    if (a & 64) args->add("-downscale");
    if (a & 128) args->add("-hist");
    if (b & 1) {
        args->add("-transparent");
        args->add(COLORS[v & 7]);
    }
    if (b & 2) {
        args->add("-background");
        args->add(COLORS[(v >> 3) & 7]);
    }
    if (b & 4) {
        args->add("-gamma");
        args->add(GAMMAS[v % 5]);
    }
    if (b & 8) {
        args->add("-phys");
        args->add(std::to_string(v));
        args->add(std::to_string(v & 0x80 ? -1 : int(v)));
        args->add(std::to_string(v % 3));
    }
    if (b & 16) {
        args->add("-chroma");
        for (int i = 0; i < 8; ++i) args->add(std::to_string(((v + i) % 10) / 10.0));
    }
    if (b & 32) {
        args->add("-time");
        args->add(TIMES[v % 3][0]);
        args->add(TIMES[v % 3][1]);
    }
    if (b & 64) {
        args->add("-filter");
        args->add(std::to_string(v % 5));
    }
    if (b & 128) {
        args->add("-compression");
        args->add(std::to_string(v % 10));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    prepareHarness(programName);
    InputCursor in{data, size};
    Arguments args(programName);
    bool alpha = false, palette = false, comments = false;
    addOptions(&in, &args, &alpha, &palette, &comments);
    std::string mask = in.piece(), paletteFile = in.piece(), commentFile = in.piece(), image = in.rest();
    if (headerTooLarge(image) || (alpha && headerTooLarge(mask)) || (palette && headerTooLarge(paletteFile)))
        return 0;
    char** argv = args.finish();
    StreamGuard input, maskStream, paletteStream, commentStream;
    try {
        EncoderSettings settings;
        int index = scanOptions(args.count(), argv, &settings);
        if (index != args.count()) abort();
        if (settings.alpha) maskStream.f = streamOver(mask);
        if (settings.paletteFile) paletteStream.f = streamOver(paletteFile);
        if (settings.text || settings.ztxt) commentStream.f = streamOver(commentFile);
        input.f = streamOver(image);
        if (!input.f) return 0;
        ConversionStreams streams;
        streams.input = input.f;
        streams.alpha = maskStream.f;
        streams.palette = paletteStream.f;
        streams.comments = commentStream.f;
        streams.output = stdout;
        convertPnm(&settings, &streams);
    } catch (const FatalInput&) {
        // the conversion gave back what it held as the exception passed
    }
    return 0;
}
