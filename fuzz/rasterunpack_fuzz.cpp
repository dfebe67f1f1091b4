// Fuzzes rasterunpack's whole run, PNG to PNM. The first two bytes pick the
// options (-alpha, -mix or -pam, -gamma, -text, -time, -background, -verbose);
// the rest is the PNG, on the run's standard input. A fatal line, the
// program's own or one through libpng's recovery point, returns here; the run
// must leave nothing held.
#include "../decoder/commandline.h"
#include "fuzzsupport.h"

namespace {

char programName[] = "rasterunpack";

const char* const GAMMAS[] = {"1", "2.2", "0.45", "0", "-1", "1e30", "nan", "0.0001"};
const char* const BACKGROUNDS[] = {"black", "#ff8000", "rgb:ffff/0/8000", "gray50", "nonsense"};

void addOptions(InputCursor* in, Arguments* args) {
    uint8_t choice = in->byte(), values = in->byte();
    if (choice & 1) args->add("-alpha");
    if (choice & 2) args->add("-mix");
    if (choice & 4) {
        args->add("-gamma");
        args->add(GAMMAS[values & 7]);
    }
    if (choice & 8) {
        args->add("-text");
        args->add("/dev/null");
    }
    if (choice & 16) args->add("-time");
    if (choice & 32) {
        args->add("-background");
        args->add(BACKGROUNDS[(values >> 3) % 5]);
    }
    if (choice & 64) args->add("-verbose");
    if (choice & 128) args->add("-pam");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    prepareHarness(programName);
    InputCursor in{data, size};
    Arguments args(programName);
    addOptions(&in, &args);
    std::string png = in.rest();
    char** argv = args.finish();
    StreamGuard input{streamOver(png)};
    if (!input.f) return 0;
    try {
        rasterunpack::runCommandLine(args.count(), argv, input.f, stdout);
    } catch (const FatalInput&) {
    }
    return 0;
}
