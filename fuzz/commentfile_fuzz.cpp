// Fuzzes rasterpack's comment-file reader. The first byte picks -text or
// -ztxt; the rest is the file. Every entry it accepts must be one PNG can
// hold as it is: a keyword of 1 to 79 bytes of printable Latin-1 without
// leading, trailing or double spaces, and a text without a NUL byte.
#include "../encoder/commentfile.h"
#include "fuzzsupport.h"

#include <cstdlib>

using namespace rasterpack;

namespace {

bool keywordHoldable(const char* key) {
    size_t length = strlen(key);
    if (length < 1 || length > 79 || key[0] == ' ' || key[length - 1] == ' ' || strstr(key, "  ")) return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p)
        if ((*p < 32 || *p > 126) && *p < 161) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    prepareHarness("rasterpack");
    InputCursor in{data, size};
    bool ztxt = in.byte() & 1;
    std::string file = in.rest();
    CommentList list;
    {
        StreamGuard stream{streamOver(file)};
        if (!stream.f) return 0;
        try {
            readCommentFile(stream.f, ztxt, false, &list);
            for (int i = 0; i < list.count; ++i) {
                const CommentEntry& e = list.entries[i];
                if (!keywordHoldable(e.key) || memchr(e.text, '\0', e.textLength) || e.text[e.textLength] != '\0')
                    abort();
            }
        } catch (const FatalInput&) {
        }
    }
    return 0;
}
