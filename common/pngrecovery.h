// libpng error recovery shared by the PNG programs.
//
// libpng reports a fatal error through the handler a program registers, and
// that handler must not return. Each PNG session owns a PngRecovery and hands
// it to libpng as the error pointer; reportLibpngError prints the program's
// line and jumps back to the point armed in that record:
//
//     PngRecovery recovery{};            // lives as long as libpng's structures
//     recovery.program = "rasterpack";
//     png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &recovery, reportLibpngError, reportLibpngWarning);
//     recovery.armed = true;
//     if (setjmp(recovery.point)) { ...release libpng's structures, pm_error... }
//
// The frames between that setjmp and any libpng call must hold no object with
// a non-trivial destructor: the jump skips them. Until a point is armed (while
// libpng's structures are still being created) the handler does not jump; it
// ends the process with status 99.
#ifndef PNGRECOVERY_H
#define PNGRECOVERY_H

#include <png.h>

#include <csetjmp>
#include <type_traits>

// Status of the unrecoverable path: a libpng error with no point to return to.
const int UNRECOVERABLE_LIBPNG_STATUS = 99;

// One session's way back from a libpng error.
struct PngRecovery {
    jmp_buf point;
    bool armed = false;             // point holds a live setjmp
    const char* program = nullptr;  // names the program in the handler's lines; null: the library's name
};
static_assert(std::is_trivially_destructible<PngRecovery>::value, "a jump may cross the record's frame");

// libpng's error handler: prints "<program>:  fatal libpng error: <message>",
// then jumps to the point armed in the PngRecovery that is libpng's error
// pointer, or ends the process with status 99 when none is armed.
[[noreturn]] void reportLibpngError(png_structp png, png_const_charp message);
// libpng's warning handler: "libpng warning: <message>", as libpng words it,
// with control bytes escaped (a warning may quote a keyword or chunk name).
void reportLibpngWarning(png_structp png, png_const_charp message);

#endif
