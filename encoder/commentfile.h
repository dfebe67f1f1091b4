// The comment file of -text and -ztxt: keyword and text entries for the
// PNG's text chunks.
#ifndef RASTERPACK_COMMENTFILE_H
#define RASTERPACK_COMMENTFILE_H

#include <cstddef>
#include <cstdio>

namespace rasterpack {

struct CommentEntry {
    char* key;          // NUL-terminated
    char* text;         // textLength bytes (NUL bytes allowed), then a NUL
    size_t textLength;
    bool compressed;    // zTXt rather than tEXt
};

// The entries, given back with the list however the run ends.
struct CommentList {
    CommentEntry* entries = nullptr;
    int count = 0;

    CommentList() = default;
    CommentList(const CommentList&) = delete;
    CommentList& operator=(const CommentList&) = delete;
    ~CommentList();
};

// Reads the comment file to its end into entries (tEXt, or zTXt under
// -ztxt). Failures end the run.
void readCommentFile(FILE* comment, bool ztxt, bool verbose, CommentList* list);

}  // namespace rasterpack

#endif
