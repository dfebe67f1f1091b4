#include "commentfile.h"

#include <orrim.h>

#include <cstdlib>
#include <cstring>

namespace rasterpack {

namespace {

const int COMMENT_ARRAY_START = 256;
const size_t LINE_BUFFER_START = 128;

bool isBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\0'; }

// PNG keywords hold 1 to 79 bytes.
const size_t MAX_KEYWORD_LENGTH = 79;

// Owns a malloc'd buffer for one scope, so that a run ended from inside the
// reader (a fatal hook that unwinds) leaves nothing behind.
struct Owned {
    char* p = nullptr;
    ~Owned() { free(p); }
};

// The next line of the stream without its line feed, NUL-terminated, with its
// length (NUL bytes inside count). False only at end of file before any byte.
bool readCommentLine(FILE* stream, Owned* line, size_t* length) {
    free(line->p);
    line->p = nullptr;
    int ch = getc(stream);
    if (ch == EOF) return false;
    size_t room = LINE_BUFFER_START;
    line->p = static_cast<char*>(malloc(room));
    if (!line->p) pm_error("Unable to allocate buffer to read a line of a file.");
    size_t used = 0;
    while (ch != EOF && ch != '\n') {
        if (room - used < 2) {
            room *= 2;
            char* grown = static_cast<char*>(realloc(line->p, room));
            if (!grown) pm_error("Unable to allocate buffer to read a line of a file.");
            line->p = grown;
        }
        line->p[used++] = static_cast<char>(ch);
        ch = getc(stream);
    }
    line->p[used] = '\0';
    *length = used;
    return true;
}

// Why PNG cannot hold keyword as it is (null when it can): 1 to 79 bytes of
// printable Latin-1, no space at either end and no two in a row.
const char* keywordFault(const char* keyword, char* detail, size_t detailSize) {
    size_t length = strlen(keyword);
    if (length == 0) return "is empty";
    if (length > MAX_KEYWORD_LENGTH) return "is longer than 79 bytes";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(keyword); *p; ++p) {
        if ((*p < 32 || *p > 126) && *p < 161) {
            snprintf(detail, detailSize, "contains the byte 0x%02x, which is not printable Latin-1", *p);
            return detail;
        }
    }
    if (keyword[0] == ' ') return "starts with a space";
    if (keyword[length - 1] == ' ') return "ends with a space";
    if (strstr(keyword, "  ")) return "contains two spaces in a row";
    return nullptr;
}

// Takes the keyword off the start of a keyword line into a new buffer of
// length + 1 bytes (*keyword), leaving *position just behind it (behind the
// closing quote of a quoted keyword).
void readKeyword(const char* line, size_t length, int lineNumber, size_t* position, char** keyword) {
    *keyword = static_cast<char*>(malloc(length + 1));
    if (!*keyword) pm_error("Unable to allocate memory for text chunks");
    char* out = *keyword;
    size_t at = *position, used = 0;
    if (at < length && line[at] == '"') {
        ++at;
        while (at < length && line[at] != '"' && line[at] != '\0') out[used++] = line[at++];
        out[used] = '\0';
        if (at < length && line[at] == '\0')
            pm_error("Invalid comment file format:  keyword contains a NUL character.  "
                     "Text leading up to the NUL character is '%s'",
                     pm_escapetext(out).c_str());
        if (at >= length)
            pm_error("Invalid comment file format:  line %d: the quoted keyword '%s' has no closing quote", lineNumber,
                     pm_escapetext(out).c_str());
        ++at;  // the closing quote
    } else {
        while (at < length && line[at] != ' ' && line[at] != '\t' && line[at] != '\0') out[used++] = line[at++];
        out[used] = '\0';
    }
    char detail[80];
    if (const char* fault = keywordFault(out, detail, sizeof detail))
        pm_error("Invalid comment file format:  line %d: the keyword '%s' %s", lineNumber, pm_escapetext(out).c_str(),
                 fault);
    *position = at;
}

size_t skipBlanks(const char* line, size_t length, size_t at) {
    while (at < length && isBlank(line[at])) ++at;
    return at;
}

// PNG text chunks end their text at a NUL: a text holding one would be cut.
void refuseNulInText(const char* text, size_t length, int lineNumber) {
    if (memchr(text, '\0', length))
        pm_error("Invalid comment file format:  line %d: the text contains a NUL byte, which a PNG text chunk "
                 "cannot hold",
                 lineNumber);
}

void growEntries(CommentList* list, int* room) {
    int newRoom = *room * 2;
    auto* grown = static_cast<CommentEntry*>(realloc(list->entries, size_t(newRoom) * sizeof(CommentEntry)));
    if (!grown) pm_error("unable to allocate memory for comment array");
    list->entries = grown;
    *room = newRoom;
}

// Fills an entry already counted in the list, so that whatever it holds is
// released with the list however the run ends.
void startEntry(CommentEntry* entry, const char* line, size_t length, int lineNumber, bool ztxt) {
    bool staysPlain = line[0] == 'A' || line[0] == 'T';
    entry->compressed = ztxt && !staysPlain;
    size_t at = 0;
    readKeyword(line, length, lineNumber, &at, &entry->key);
    at = skipBlanks(line, length, at);
    refuseNulInText(line + at, length - at, lineNumber);
    entry->text = static_cast<char*>(malloc(length + 1));
    if (!entry->text) pm_error("Unable to allocate memory for text chunks");
    memcpy(entry->text, line + at, length - at);
    entry->text[length - at] = '\0';
    entry->textLength = length - at;
}

void continueEntry(CommentEntry* entry, const char* line, size_t length, int lineNumber) {
    size_t at = skipBlanks(line, length, 0);
    refuseNulInText(line + at, length - at, lineNumber);
    size_t size = entry->textLength + length + 2;
    char* grown = static_cast<char*>(realloc(entry->text, size));
    if (!grown) pm_error("Unable to allocate %u bytes of memory for comment chunk", static_cast<unsigned>(size));
    entry->text = grown;
    entry->text[entry->textLength++] = '\n';
    memcpy(entry->text + entry->textLength, line + at, length - at);
    entry->textLength += length - at;
    entry->text[entry->textLength] = '\0';
}

}  // namespace

void readCommentFile(FILE* comment, bool ztxt, bool verbose, CommentList* list) {
    // The list holds every entry as soon as it is started: a run ended
    // part-way leaves them for its destructor.
    int room = COMMENT_ARRAY_START;
    list->entries = static_cast<CommentEntry*>(malloc(size_t(room) * sizeof(CommentEntry)));
    list->count = 0;
    if (!list->entries) pm_error("unable to allocate memory for comment array");
    Owned line;
    size_t length = 0;
    for (int lineNumber = 1; readCommentLine(comment, &line, &length); ++lineNumber) {
        if (length == 0) {
            // an empty line neither ends nor starts an entry
        } else if (line.p[0] == ' ' || line.p[0] == '\t') {
            if (list->count == 0)
                pm_error("Invalid comment file format: first line is a continuation line! "
                         "(It starts with whitespace)");
            continueEntry(&list->entries[list->count - 1], line.p, length, lineNumber);
        } else {
            if (list->count == room) growEntries(list, &room);
            CommentEntry* entry = &list->entries[list->count++];
            memset(entry, 0, sizeof *entry);
            startEntry(entry, line.p, length, lineNumber, ztxt);
        }
    }
    if (verbose) pm_message("%d comments placed in text chunk", list->count);
}

CommentList::~CommentList() {
    for (int i = 0; i < count; ++i) {
        free(entries[i].key);
        free(entries[i].text);
    }
    free(entries);
}

}  // namespace rasterpack
