// The streams a PNG program's run opens by name, and the end of its output.
// A run is handed its standard input and output; the name "-" means those,
// which the run borrows and never closes.
#ifndef RUNSTREAMS_H
#define RUNSTREAMS_H

#include <cstdio>

// A stream the run opened, or borrowed. What it opened is closed when it goes
// out of scope, also when a fatal line unwinds through it.
class OpenedStream {
public:
    OpenedStream() = default;
    OpenedStream(FILE* stream, bool owned) : stream_(stream), owned_(owned) {}
    OpenedStream(OpenedStream&& other) noexcept : stream_(other.stream_), owned_(other.owned_) {
        other.stream_ = nullptr;
    }
    OpenedStream(const OpenedStream&) = delete;
    OpenedStream& operator=(const OpenedStream&) = delete;
    OpenedStream& operator=(OpenedStream&&) = delete;
    ~OpenedStream() { close(); }

    FILE* get() const { return stream_; }
    // Closes a stream the run opened now, with fclose's result; 0 for a
    // borrowed one, which is only let go.
    int close();

private:
    FILE* stream_ = nullptr;
    bool owned_ = false;
};

// The file name opened for reading with pm_openr, or standardInput for "-".
OpenedStream openInputNamed(const char* name, FILE* standardInput);
// The file name opened for writing with pm_openw, or standardOutput for "-".
OpenedStream openOutputNamed(const char* name, FILE* standardOutput);

// Flushes the run's standard output; a write error (disk full, a closed pipe)
// ends the run with the same line pm_closew gives. The caller keeps the stream.
void finishOutput(FILE* output);

#endif
