// libpng error recovery shared by the PNG programs.
//
// libpng reports a fatal error through the handler a program registers, and
// that handler must not return. reportLibpngError prints the program's line
// and jumps back to the recovery point the conversion armed last in
// pngJumpBuffer. The conversion arms a point with
//
//     pngRecoveryArmed = true;
//     if (setjmp(pngJumpBuffer)) { ...release libpng's structures, pm_error... }
//
// The frames between that setjmp and any libpng call must hold no object with
// a non-trivial destructor: the jump skips them. Until a point is armed (while
// libpng's structures are still being created) the handler does not jump; it
// ends the process with status 99.
#ifndef PNGRECOVERY_H
#define PNGRECOVERY_H

#include <png.h>

#include <csetjmp>

// Status of the unrecoverable path: a libpng error with no point to return to.
const int UNRECOVERABLE_LIBPNG_STATUS = 99;

// The one jump buffer of the program, handed to libpng as its error pointer.
extern jmp_buf pngJumpBuffer;
// True once the conversion has filled pngJumpBuffer with a live point.
extern bool pngRecoveryArmed;

// Names the program in the handler's lines ("rasterpack", "rasterunpack").
void setLibpngProgramName(const char* name);

// libpng's error handler: prints "<program>:  fatal libpng error: <message>",
// then jumps to the armed point, or ends the process with status 99.
[[noreturn]] void reportLibpngError(png_structp png, png_const_charp message);
// libpng's warning handler: "libpng warning: <message>", as libpng words it,
// with control bytes escaped (a warning may quote a keyword or chunk name).
void reportLibpngWarning(png_structp png, png_const_charp message);

#endif
