// Fuzzes huecut's whole run. The first two bytes pick the colour count or a
// map file, -floyd, -refine with its passes and the seed; a map file comes next as a piece
// with its length ahead of it; the rest is the image. Both reach the program
// as files, as they would from the command line. A fatal line returns here;
// the run must leave nothing held.
#include "fuzzsupport.h"

#include <unistd.h>

// The program's entry point, renamed so that the harness can call it.
int huecutMain(int argc, char** argv);
#define main huecutMain
#include "../quantizer/main.cpp"
#undef main

namespace {

char programName[] = "huecut";

const char* const COUNTS[] = {"2", "3", "4", "16", "256", "257", "65536", "2147483647"};
// -refine passes; "1001" and "1.5" are refused.
const char* const REFINE_PASSES[] = {"0", "1", "2", "3", "10", "1000", "1001", "1.5"};

std::string writeScratch(const char* what, const std::string& bytes) {
    std::string path = "/tmp/huecut_fuzz." + std::to_string(getpid()) + "." + what;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
    fclose(f);
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    prepareHarness(programName);
    InputCursor in{data, size};
    uint8_t choice = in.byte(), value = in.byte();
    std::string map = in.piece(), image = in.rest();
    bool useMap = choice & 1;
    if (headerTooLarge(image) || (useMap && headerTooLarge(map))) return 0;
    static const std::string imagePath = writeScratch("image", ""), mapPath = writeScratch("map", "");
    writeScratch("image", image);
    Arguments args(programName);
    args.add("-quiet");
    if (choice & 2) args.add("-floyd");
    if (choice & 4) {
        args.add("-refine");
        args.add(REFINE_PASSES[(value >> 2) & 7]);
    }
    args.add("-randomseed");
    args.add(std::to_string(value));
    if (useMap) {
        writeScratch("map", map);
        args.add("-mapfile");
        args.add(mapPath);
    } else {
        args.add(COUNTS[(choice >> 3) & 7]);
    }
    args.add(imagePath);
    try {
        huecutMain(args.count(), args.finish());
    } catch (const FatalInput&) {
    }
    return 0;
}
