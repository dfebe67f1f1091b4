#include "runstreams.h"

#include <orrim.h>

#include <cerrno>
#include <cstring>

namespace {

bool namesStandardStream(const char* name) { return strcmp(name, "-") == 0; }

}  // namespace

int OpenedStream::close() {
    FILE* stream = stream_;
    stream_ = nullptr;
    if (!stream || !owned_) return 0;
    return fclose(stream);
}

OpenedStream openInputNamed(const char* name, FILE* standardInput) {
    if (namesStandardStream(name)) return OpenedStream(standardInput, false);
    return OpenedStream(pm_openr(name), true);
}

OpenedStream openOutputNamed(const char* name, FILE* standardOutput) {
    if (namesStandardStream(name)) return OpenedStream(standardOutput, false);
    return OpenedStream(pm_openw(name), true);
}

void finishOutput(FILE* output) {
    if (fflush(output) != 0 || ferror(output)) pm_error("error writing the output: %s", strerror(errno ? errno : EIO));
}
