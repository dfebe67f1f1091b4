#include "reports.h"

#include <orrim.h>

#include <cstring>

namespace rasterunpack {

namespace {
const char* const MONTH_NAMES[13] = {"",     "January", "February",  "March",   "April",    "May",     "June",
                                     "July", "August",  "September", "October", "November", "December"};
const int KEYWORD_FIELD = 15;
const int CONTINUATION_INDENT = 16;

void putSpaces(int count, FILE* out) {
    for (int i = 0; i < count; ++i) putc(' ', out);
}
}  // namespace

const char* monthName(int month) { return month >= 0 && month <= 12 ? MONTH_NAMES[month] : ""; }

void reportModTime(const png_time& t) {
    pm_message("modification time: %02d %s %d %02d:%02d:%02d", t.day, monthName(t.month), t.year, t.hour, t.minute,
               t.second);
}

void dumpTextChunks(const png_text* texts, int count, FILE* out) {
    for (int i = 0; i < count; ++i) {
        const png_text& entry = texts[i];
        const char* key = entry.key ? entry.key : "";
        int keyLength = static_cast<int>(strlen(key));
        if (strchr(key, ' ')) {
            fprintf(out, "\"%s\"", key);
            putSpaces(KEYWORD_FIELD - 2 - keyLength, out);
        } else {
            fputs(key, out);
            putSpaces(KEYWORD_FIELD - keyLength, out);
        }
        putc(' ', out);
        const char* text = entry.text ? entry.text : "";
        // International text chunks keep their byte count elsewhere.
        size_t length = entry.compression >= PNG_ITXT_COMPRESSION_NONE ? entry.itxt_length : entry.text_length;
        if (!entry.text) length = 0;
        for (size_t j = 0; j < length; ++j) {
            putc(text[j], out);
            if (text[j] == '\n') putSpaces(CONTINUATION_INDENT, out);
        }
        putc('\n', out);
    }
}

}  // namespace rasterunpack
