#include "optionscan.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>

void reportProgramVersion(const ProgramCommandLine& program) {
    if (program.versionLayout == VERSION_ONE_LINE) {
        fprintf(stderr, "%s version %s, compiled with libpng version %s\n", program.name, program.version,
                PNG_LIBPNG_VER_STRING);
        return;
    }
    fprintf(stderr, "%s version %s.\n", program.name, program.version);
    fprintf(stderr, "   Compiled with libpng %s.\n", PNG_LIBPNG_VER_STRING);
    fprintf(stderr, "   Compiled with zlib %s; using zlib %s.\n", ZLIB_VERSION, zlibVersion());
    fprintf(stderr, "   Compiled with %d-bit orrim support (PPM_OVERALLMAXVAL = %d).\n",
            pm_maxvaltobits(PPM_OVERALLMAXVAL), static_cast<int>(PPM_OVERALLMAXVAL));
    fprintf(stderr, "\n");
}

void answerUnknownOption(const ProgramCommandLine& program) {
    reportProgramVersion(program);
    if (program.usageAfterUnknownOption) pm_usage(program.usageSynopsis);
}

const char* takeInputName(int argc, char** argv, int* index) {
    if (*index >= argc) return "-";
    return argv[(*index)++];
}

void rejectSurplusArguments(const ProgramCommandLine& program, int argc, int index) {
    if (index < argc) pm_usage(program.usageSynopsis);
}
