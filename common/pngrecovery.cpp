#include "pngrecovery.h"

#include <orrim.h>

#include <cstdio>
#include <cstdlib>

jmp_buf pngJumpBuffer;
bool pngRecoveryArmed = false;

namespace {
const char* programName = "rasterpack";
}

void setLibpngProgramName(const char* name) { programName = name; }

void reportLibpngError(png_structp png, png_const_charp message) {
    fprintf(stderr, "%s:  fatal libpng error: %s\n", programName, pm_escapetext(message ? message : "").c_str());
    fflush(stderr);
    // The pointer alone is not enough: while the structures are being created
    // the buffer holds no live point yet, and jumping there would be undefined.
    jmp_buf* jumpBuffer = png ? static_cast<jmp_buf*>(png_get_error_ptr(png)) : nullptr;
    if (jumpBuffer && pngRecoveryArmed) longjmp(*jumpBuffer, 1);
    fprintf(stderr, "%s:  EXTREMELY fatal error: jmpbuf unrecoverable; terminating.\n", programName);
    fflush(stderr);
    exit(UNRECOVERABLE_LIBPNG_STATUS);
}

void reportLibpngWarning(png_structp, png_const_charp message) {
    fprintf(stderr, "libpng warning: %s\n", pm_escapetext(message ? message : "").c_str());
    fflush(stderr);
}
