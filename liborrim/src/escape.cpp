// escape.cpp - user text made safe to quote in a one-line message.
#include <orrim.h>

#include <cstdint>

namespace {

// Length of the well-formed UTF-8 sequence at s (1 to 4), or 0.
size_t utf8SequenceLength(const unsigned char* s) {
    unsigned char c = s[0];
    size_t n;
    uint32_t min;
    uint32_t code;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, min = 0x80, code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, min = 0x800, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, min = 0x10000, code = c & 0x07;
    } else {
        return 0;
    }
    for (size_t i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;  // also stops at the terminating NUL
        code = code << 6 | (s[i] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    // C1 control characters act on terminals as much as ASCII ones.
    if (code >= 0x80 && code <= 0x9F) return 0;
    return n;
}

void appendHexEscape(std::string& out, unsigned char c) {
    static const char HEX[] = "0123456789abcdef";
    out += "\\x";
    out += HEX[c >> 4];
    out += HEX[c & 15];
}

}  // namespace

std::string pm_escapetext(const char* text) {
    std::string out;
    if (!text) return out;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        if (*s >= 0x20 && *s < 0x7F) {
            out += char(*s++);
        } else if (size_t n = *s >= 0x80 ? utf8SequenceLength(s) : 0) {
            out.append(reinterpret_cast<const char*>(s), n);
            s += n;
        } else {
            appendHexEscape(out, *s++);
        }
    }
    return out;
}
