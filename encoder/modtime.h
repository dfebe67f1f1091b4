// The -time option's date and time, turned into a PNG modification time.
#ifndef RASTERPACK_MODTIME_H
#define RASTERPACK_MODTIME_H

#include <png.h>

namespace rasterpack {

enum TimeParseResult { TIME_OK, TIME_UNPARSABLE, TIME_OUT_OF_RANGE };

// date is [yy]yy-mm-dd, timeOfDay hh:mm:ss, each wholly numeric. A year of
// 1000 or more is a full year; a smaller one counts from 1900 (99 is 1999).
// Every field must fit the tIME chunk: year 0..65535, month 1..12, day 1..31,
// hour 0..23, minute 0..59, second 0..60 (a leap second).
TimeParseResult parseModificationTime(const char* date, const char* timeOfDay, png_time* result);

}  // namespace rasterpack

#endif
