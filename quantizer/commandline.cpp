#include "commandline.h"

#include "refine.h"

#include <orrim.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace huecut {

const char* const USAGE_SYNOPSIS =
    "[-floyd|-fs|-nofloyd|-nofs] [-randomseed n] {[-refine passes] ncolors | -mapfile mapfile} [ppmfile]";

namespace {

// The seed must be a whole number that srandom can take unchanged.
unsigned int parseRandomSeed(const char* text) {
    char* end = nullptr;
    errno = 0;
    long long value = strtoll(text, &end, 10);
    if (end == text || *end != '\0')
        pm_error("The -randomseed value '%s' is not a number.", pm_escapetext(text).c_str());
    if (errno == ERANGE || value < 0 || value > static_cast<long long>(UINT_MAX))
        pm_error("The -randomseed value '%s' is out of range (0 to %u).", pm_escapetext(text).c_str(), UINT_MAX);
    return static_cast<unsigned int>(value);
}

int parseRefinePasses(const char* text) {
    char* end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0') pm_error("The -refine value '%s' is not a number.", pm_escapetext(text).c_str());
    if (errno == ERANGE || value < 0 || value > MAX_REFINE_PASSES)
        pm_error("The -refine value '%s' is out of range (0 to %d).", pm_escapetext(text).c_str(), MAX_REFINE_PASSES);
    return static_cast<int>(value);
}

int parseColorCount(const char* text) {
    char* end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (*end != '\0') pm_error("The number of colors argument '%s' is not a number.", pm_escapetext(text).c_str());
    if (value <= 0) pm_error("The number of colors must be positive");
    if (value == 1) pm_error("The number of colors must be greater than 1.");
    // A count that does not even fit the colour count type could never be
    // allocated; say so instead of silently truncating it.
    if (errno == ERANGE || value > INT_MAX)
        pm_error("The number of colors '%s' is too large.", pm_escapetext(text).c_str());
    return static_cast<int>(value);
}

}  // namespace

void parseCommandLine(int argc, char** argv, QuantCmdline* cmdline) {
    unsigned int nofloyd = 0;
    unsigned int mapFileGiven = 0;
    const char* seedText = nullptr;
    const char* refineText = nullptr;
    unsigned int refineGiven = 0;
    cmdline->mapFileName = nullptr;
    cmdline->requestedColors = 0;
    cmdline->randomSeed = 0;
    cmdline->refinePasses = 0;

    OptEntry table[] = {
        {0, "floyd", OPT_FLAG, nullptr, &cmdline->floyd, 0},
        {0, "fs", OPT_FLAG, nullptr, &cmdline->floyd, 0},
        {0, "nofloyd", OPT_FLAG, nullptr, &nofloyd, 0},
        {0, "nofs", OPT_FLAG, nullptr, &nofloyd, 0},
        {0, "mapfile", OPT_STRING, &cmdline->mapFileName, &mapFileGiven, 0},
        {0, "randomseed", OPT_STRING, &seedText, &cmdline->randomSeedGiven, 0},
        {0, "refine", OPT_STRING, &refineText, &refineGiven, 0},
        {0, nullptr, OPT_END, nullptr, nullptr, 0},
    };
    OptStruct3 opt;
    opt.shortAllowed = false;
    opt.allowNegNum = false;
    opt.optTable = table;
    opt.usage = USAGE_SYNOPSIS;
    optParseOptions3(&argc, argv, opt, sizeof(opt), 0);

    int n = argc - 1;
    if (cmdline->floyd && nofloyd) pm_error("You cannot specify both -floyd and -nofloyd options.");

    // A map file is the user's own palette: there is nothing to refine.
    if (refineGiven && mapFileGiven) pm_error("You cannot specify both -refine and -mapfile options.");

    if (mapFileGiven) {
        if (n == 0)
            cmdline->inputFileName = "-";
        else if (n == 1)
            cmdline->inputFileName = argv[1];
        else
            pm_error(
                "When you specify the -mapfile option, the only argument "
                "allowed is the "
                "input file specification.  You specified %d arguments.",
                n);
    } else {
        cmdline->mapFileName = nullptr;
        if (n > 2)
            pm_error(
                "Program takes at most two arguments: number of colors and "
                "input file specification.  You specified %d arguments.",
                n);
        cmdline->inputFileName = n == 2 ? argv[2] : "-";
        if (n == 0)
            pm_error(
                "You must specify the number of colors in the output as an "
                "argument, or specify the "
                "-mapfile option.");
        cmdline->requestedColors = parseColorCount(argv[1]);
    }

    if (cmdline->randomSeedGiven) cmdline->randomSeed = parseRandomSeed(seedText);
    if (refineGiven) cmdline->refinePasses = parseRefinePasses(refineText);
}

}  // namespace huecut
