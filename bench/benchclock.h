// The clocks the benchmark programs read: wall (CLOCK_MONOTONIC) and the
// process's CPU time (CLOCK_PROCESS_CPUTIME_ID), in seconds.
#ifndef BENCHCLOCK_H
#define BENCHCLOCK_H

#include <ctime>

inline double seconds(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

#endif
