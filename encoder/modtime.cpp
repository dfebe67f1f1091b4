#include "modtime.h"

#include <cstdio>

namespace rasterpack {

namespace {

// One run of 1 to 9 decimal digits at *text, leaving *text behind it.
bool scanNumber(const char** text, long* value) {
    int digits = 0;
    *value = 0;
    while (**text >= '0' && **text <= '9') {
        if (++digits > 9) return false;
        *value = *value * 10 + (**text - '0');
        ++*text;
    }
    return digits > 0;
}

// Three numbers separated by separator and nothing else around them.
bool scanTriple(const char* text, char separator, long* a, long* b, long* c) {
    if (!scanNumber(&text, a) || *text++ != separator) return false;
    if (!scanNumber(&text, b) || *text++ != separator) return false;
    return scanNumber(&text, c) && *text == '\0';
}

bool within(long value, long low, long high) { return value >= low && value <= high; }

}  // namespace

TimeParseResult parseModificationTime(const char* date, const char* timeOfDay, png_time* result) {
    long year, month, day, hour, minute, second;
    if (!date || !timeOfDay || !scanTriple(date, '-', &year, &month, &day) ||
        !scanTriple(timeOfDay, ':', &hour, &minute, &second))
        return TIME_UNPARSABLE;
    // Short years count from 1900 (99 is 1999, 103 is 2003); a year written
    // with four digits means itself, also before 1900.
    if (within(year, 0, 999)) year += 1900;
    if (!within(year, 0, 65535) || !within(month, 1, 12) || !within(day, 1, 31) || !within(hour, 0, 23) ||
        !within(minute, 0, 59) || !within(second, 0, 60))
        return TIME_OUT_OF_RANGE;
    result->year = static_cast<png_uint_16>(year);
    result->month = static_cast<png_byte>(month);
    result->day = static_cast<png_byte>(day);
    result->hour = static_cast<png_byte>(hour);
    result->minute = static_cast<png_byte>(minute);
    result->second = static_cast<png_byte>(second);
    return TIME_OK;
}

}  // namespace rasterpack
