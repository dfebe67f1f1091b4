#include "idatchunks.h"

#include <pngrecovery.h>

#include <csetjmp>

namespace {

const png_byte IDAT_NAME[5] = "IDAT";
const png_byte IEND_NAME[5] = "IEND";

}  // namespace

bool writeIdatChunk(void* context, const uint8_t* data, size_t size) {
    png_structp png = static_cast<png_structp>(context);
    // While this frame lives, libpng's errors come back here; the caller's
    // point is put back on either way.
    png_voidp outerPoint = png_get_error_ptr(png);
    jmp_buf localPoint;
    png_set_error_fn(png, &localPoint, reportLibpngError, nullptr);
    if (setjmp(localPoint)) {
        png_set_error_fn(png, outerPoint, reportLibpngError, nullptr);
        return false;
    }
    png_write_chunk(png, IDAT_NAME, data, size);
    png_set_error_fn(png, outerPoint, reportLibpngError, nullptr);
    return true;
}

void writeEndChunk(png_structp png) { png_write_chunk(png, IEND_NAME, nullptr, 0); }
