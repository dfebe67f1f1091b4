#include "runstreams.h"

#include <orrim.h>

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

void OpenedStream::closeChecked() {
    FILE* stream = stream_;
    stream_ = nullptr;
    if (stream && owned_) pm_close(stream);
}

OpenedStream openInputNamed(const char* name, FILE* standardInput) {
    if (namesStandardStream(name)) return OpenedStream(standardInput, false);
    return OpenedStream(pm_openr(name), true);
}

OpenedStream openOutputNamed(const char* name, FILE* standardOutput) {
    if (namesStandardStream(name)) return OpenedStream(standardOutput, false);
    return OpenedStream(pm_openw(name), true);
}
