#include "pngrecovery.h"

#include <orrim.h>

#include <cstdio>
#include <cstdlib>

void reportLibpngError(png_structp png, png_const_charp message) {
    auto* recovery = png ? static_cast<PngRecovery*>(png_get_error_ptr(png)) : nullptr;
    const char* program = recovery && recovery->program ? recovery->program : pm_progname();
    fprintf(stderr, "%s:  fatal libpng error: %s\n", program, pm_escapetext(message ? message : "").c_str());
    fflush(stderr);
    // The record alone is not enough: while the structures are being created
    // its point holds no live setjmp yet, and jumping there would be undefined.
    if (recovery && recovery->armed) longjmp(recovery->point, 1);
    fprintf(stderr, "%s:  EXTREMELY fatal error: jmpbuf unrecoverable; terminating.\n", program);
    fflush(stderr);
    exit(UNRECOVERABLE_LIBPNG_STATUS);
}

void reportLibpngWarning(png_structp, png_const_charp message) {
    fprintf(stderr, "libpng warning: %s\n", pm_escapetext(message ? message : "").c_str());
    fflush(stderr);
}
