// rasterunpack's reports on the PNG's ancillary data: the modification time
// and the dump of its text chunks in the comment-file layout rasterpack reads.
#ifndef RASTERUNPACK_REPORTS_H
#define RASTERUNPACK_REPORTS_H

#include <png.h>

#include <cstdio>

namespace rasterunpack {

// The month's English name for 1..12; empty for any other number.
const char* monthName(int month);

// "modification time: 05 December 2003 14:03:09" through pm_message.
void reportModTime(const png_time& time);

// Each entry as a keyword field padded to 15 characters (quoted when the
// keyword holds a space), a space, and the text with 16 spaces after every
// line feed, so that each inner line reads back as a continuation line.
void dumpTextChunks(const png_text* texts, int count, FILE* out);

}  // namespace rasterunpack

#endif
