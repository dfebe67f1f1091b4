#include "commentfile.h"

#include <orrim.h>

#include <cstdlib>
#include <cstring>

namespace {

const int COMMENT_ARRAY_START = 256;
const size_t LINE_BUFFER_START = 128;

bool isBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\0'; }

// Text for a message line: control bytes as \t, \r or a three-digit octal
// escape, so that the line stays one line of plain text. Free with free().
char* escapeControlBytes(const char* text) {
    size_t length = strlen(text);
    char* out = static_cast<char*>(malloc(length * 4 + 1));
    if (!out) return nullptr;
    size_t at = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p == '\t') {
            at += size_t(sprintf(out + at, "\\t"));
        } else if (*p == '\r') {
            at += size_t(sprintf(out + at, "\\r"));
        } else if (*p < 0x20 || *p == 0x7f) {
            at += size_t(sprintf(out + at, "\\%03o", *p));
        } else {
            out[at++] = char(*p);
        }
    }
    out[at] = '\0';
    return out;
}

// The next line of the stream without its line feed, NUL-terminated, with its
// length (NUL bytes inside count). False only at end of file before any byte.
// Free the line with strfree.
bool readCommentLine(FILE* stream, char** line, size_t* length) {
    size_t room = LINE_BUFFER_START;
    char* buffer = static_cast<char*>(malloc(room));
    if (!buffer) pm_error("Unable to allocate buffer to read a line of a file.");
    size_t used = 0;
    int ch = getc(stream);
    if (ch == EOF) {
        free(buffer);
        return false;
    }
    while (ch != EOF && ch != '\n') {
        if (room - used < 2) {
            room *= 2;
            char* grown = static_cast<char*>(realloc(buffer, room));
            if (!grown) pm_error("Unable to allocate buffer to read a line of a file.");
            buffer = grown;
        }
        buffer[used++] = static_cast<char>(ch);
        ch = getc(stream);
    }
    buffer[used] = '\0';
    *line = buffer;
    *length = used;
    return true;
}

// Takes the keyword off the start of a keyword line into a new buffer of
// length + 1 bytes, leaving *position just behind it (behind the closing
// quote of a quoted keyword).
char* readKeyword(const char* line, size_t length, size_t* position) {
    char* keyword = static_cast<char*>(malloc(length + 1));
    if (!keyword) pm_error("Unable to allocate memory for text chunks");
    size_t at = *position, out = 0;
    if (at < length && line[at] == '"') {
        ++at;
        while (at < length && line[at] != '"' && line[at] != '\0') keyword[out++] = line[at++];
        keyword[out] = '\0';
        if (at >= length || line[at] == '\0') {
            char* shown = escapeControlBytes(keyword);
            pm_error("Invalid comment file format:  keyword contains a NUL character.  "
                     "Text leading up to the NUL character is '%s'",
                     shown ? shown : keyword);
        }
        ++at;  // the closing quote
    } else {
        while (at < length && line[at] != ' ' && line[at] != '\t' && line[at] != '\0') keyword[out++] = line[at++];
        keyword[out] = '\0';
    }
    *position = at;
    return keyword;
}

size_t skipBlanks(const char* line, size_t length, size_t at) {
    while (at < length && isBlank(line[at])) ++at;
    return at;
}

void growEntries(CommentEntry** entries, int* room) {
    int newRoom = *room * 2;
    auto* grown = static_cast<CommentEntry*>(realloc(*entries, size_t(newRoom) * sizeof(CommentEntry)));
    if (!grown) pm_error("unable to allocate memory for comment array");
    *entries = grown;
    *room = newRoom;
}

void startEntry(CommentEntry* entry, const char* line, size_t length, bool ztxt) {
    memset(entry, 0, sizeof *entry);
    bool staysPlain = line[0] == 'A' || line[0] == 'T';
    entry->compressed = ztxt && !staysPlain;
    size_t at = 0;
    entry->key = readKeyword(line, length, &at);
    at = skipBlanks(line, length, at);
    entry->text = static_cast<char*>(malloc(length + 1));
    if (!entry->text) pm_error("Unable to allocate memory for text chunks");
    memcpy(entry->text, line + at, length - at);
    entry->text[length - at] = '\0';
    entry->textLength = length - at;
}

void continueEntry(CommentEntry* entry, const char* line, size_t length) {
    size_t size = entry->textLength + length + 2;
    char* grown = static_cast<char*>(realloc(entry->text, size));
    if (!grown) pm_error("Unable to allocate %u bytes of memory for comment chunk", static_cast<unsigned>(size));
    entry->text = grown;
    size_t at = skipBlanks(line, length, 0);
    entry->text[entry->textLength++] = '\n';
    memcpy(entry->text + entry->textLength, line + at, length - at);
    entry->textLength += length - at;
    entry->text[entry->textLength] = '\0';
}

}  // namespace

void readCommentFile(FILE* comment, bool ztxt, bool verbose, CommentList* list) {
    int room = COMMENT_ARRAY_START;
    auto* entries = static_cast<CommentEntry*>(malloc(size_t(room) * sizeof(CommentEntry)));
    if (!entries) pm_error("unable to allocate memory for comment array");
    int count = 0;
    char* line = nullptr;
    size_t length = 0;
    while (readCommentLine(comment, &line, &length)) {
        if (length == 0) {
            // an empty line neither ends nor starts an entry
        } else if (line[0] == ' ' || line[0] == '\t') {
            if (count == 0)
                pm_error("Invalid comment file format: first line is a continuation line! "
                         "(It starts with whitespace)");
            continueEntry(&entries[count - 1], line, length);
        } else {
            if (count == room) growEntries(&entries, &room);
            startEntry(&entries[count++], line, length, ztxt);
        }
        strfree(line);
    }
    list->entries = entries;
    list->count = count;
    if (verbose) pm_message("%d comments placed in text chunk", count);
}

void freeCommentList(CommentList* list) {
    for (int i = 0; i < list->count; ++i) {
        free(list->entries[i].key);
        free(list->entries[i].text);
    }
    free(list->entries);
    list->entries = nullptr;
    list->count = 0;
}
