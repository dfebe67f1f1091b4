// colors.cpp - colour texts: "#rgb" hex forms, "rgb:" and "rgbi:" forms and
// colour names, each scaled to the caller's maxval with rounding.
#include "colornames.h"

#include <orrim.h>

#include <cctype>
#include <cstring>
#include <string>

namespace {

// Longest part of a bad text quoted back in the message.
const size_t QUOTE_LIMIT = 64;

// The text as it may appear inside a one-line message: control and non-ASCII
// bytes escaped, long texts cut short.
std::string quoteForMessage(const char* text) {
    std::string out;
    size_t n = 0;
    for (; text[n] && n < QUOTE_LIMIT; ++n) {
        unsigned char c = static_cast<unsigned char>(text[n]);
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            static const char HEX[] = "0123456789abcdef";
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 15];
        }
    }
    if (text[n]) out += "...";
    return out;
}

[[noreturn]] void rejectColor(const char* text, const char* reason) {
    pm_error("invalid color '%s': %s", quoteForMessage(text).c_str(), reason);
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

size_t countHexDigits(const char* s) {
    size_t n = 0;
    while (hexDigitValue(s[n]) >= 0) ++n;
    return n;
}

// digits hex digits at s, scaled from their own maximum (16^digits - 1).
Sample scaleHexField(const char* s, size_t digits, Sample maxval) {
    Sample v = 0;
    for (size_t i = 0; i < digits; ++i) v = v * 16 + Sample(hexDigitValue(s[i]));
    Sample vmax = (Sample(1) << (4 * digits)) - 1;
    return pm_rescalesample(v, vmax, maxval);
}

bool startsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
    return true;
}

// "#" and 3, 6, 9 or 12 hex digits: red, green, blue with equal digit counts.
Pixel parseHashColor(const char* text, Sample maxval) {
    const char* s = text + 1;
    size_t n = countHexDigits(s);
    if (s[n] != '\0') rejectColor(text, "not a hex digit after '#'");
    if (n == 0 || n % 3 != 0 || n > 12) rejectColor(text, "'#' takes 3, 6, 9 or 12 hex digits");
    size_t d = n / 3;
    return Pixel{scaleHexField(s, d, maxval), scaleHexField(s + d, d, maxval), scaleHexField(s + 2 * d, d, maxval)};
}

// "rgb:" r/g/b, each 1 to 4 hex digits scaled from its own digit count.
Pixel parseRgbColor(const char* text, Sample maxval) {
    const char* s = text + 4;
    Sample sample[3];
    for (int i = 0; i < 3; ++i) {
        size_t n = countHexDigits(s);
        if (n < 1 || n > 4) rejectColor(text, "each 'rgb:' component takes 1 to 4 hex digits");
        sample[i] = scaleHexField(s, n, maxval);
        s += n;
        char expected = i < 2 ? '/' : '\0';
        if (*s != expected) rejectColor(text, "expected 'rgb:r/g/b'");
        ++s;
    }
    return Pixel{sample[0], sample[1], sample[2]};
}

// Length of a decimal fraction at s: digits with at most one point, at least
// one digit. 0 when there is none.
size_t decimalLength(const char* s) {
    size_t n = 0, digits = 0;
    bool point = false;
    for (;; ++n) {
        if (isdigit(static_cast<unsigned char>(s[n]))) {
            ++digits;
        } else if (s[n] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    return digits ? n : 0;
}

// True when the decimal at s[0..n) (digits, at most one point) is at most 1.
bool isFractionUpToOne(const char* s, size_t n) {
    size_t i = 0;
    while (i < n && s[i] == '0') ++i;
    if (i == n || s[i] == '.') return true;
    if (s[i] != '1') return false;
    ++i;
    if (i == n) return true;
    if (s[i] != '.') return false;
    for (++i; i < n; ++i)
        if (s[i] != '0') return false;
    return true;
}

// The decimal at s[0..n), at most 1, times maxval rounded half up. Done on
// the decimal digits themselves: binary floating point turns ties such as
// 0.145 x 100 into 14.4999... and rounds them the wrong way.
Sample scaleDecimalFraction(const char* s, size_t n, Sample maxval) {
    std::string digits;  // the product, least significant digit first
    size_t fractionDigits = 0;
    uint64_t carry = 0;
    for (size_t i = n; i-- > 0;) {
        if (s[i] == '.') {
            fractionDigits = n - 1 - i;
            continue;
        }
        uint64_t t = uint64_t(s[i] - '0') * maxval + carry;
        digits += char('0' + t % 10);
        carry = t / 10;
    }
    // The whole part of the product: carry, then the digits above the point.
    // It is at most maxval, as the fraction is at most 1.
    uint64_t whole = carry;
    for (size_t i = digits.size(); i-- > fractionDigits;) whole = whole * 10 + uint64_t(digits[i] - '0');
    if (fractionDigits > 0 && digits[fractionDigits - 1] >= '5') ++whole;
    return Sample(whole);
}

// "rgbi:" r/g/b, each a decimal fraction from 0 to 1.
Pixel parseRgbiColor(const char* text, Sample maxval) {
    const char* s = text + 5;
    Sample sample[3];
    for (int i = 0; i < 3; ++i) {
        size_t n = decimalLength(s);
        if (n == 0) rejectColor(text, "each 'rgbi:' component is a number from 0 to 1");
        if (!isFractionUpToOne(s, n)) rejectColor(text, "'rgbi:' component outside 0 to 1");
        sample[i] = scaleDecimalFraction(s, n, maxval);
        s += n;
        char expected = i < 2 ? '/' : '\0';
        if (*s != expected) rejectColor(text, "expected 'rgbi:r/g/b'");
        ++s;
    }
    return Pixel{sample[0], sample[1], sample[2]};
}

Pixel parseColorName(const char* text, Sample maxval) {
    unsigned char rgb[3];
    if (!findColorName(text, rgb)) rejectColor(text, "unknown color name");
    return Pixel{pm_rescalesample(rgb[0], 255, maxval), pm_rescalesample(rgb[1], 255, maxval),
                 pm_rescalesample(rgb[2], 255, maxval)};
}

}  // namespace

Pixel ppm_parsecolor(const char* text, Sample maxval) {
    if (!text) pm_error("no color given");
    if (maxval == 0) pm_error("invalid maxval 0 for color '%s'", quoteForMessage(text).c_str());
    if (*text == '\0') rejectColor(text, "empty");
    if (text[0] == '#') return parseHashColor(text, maxval);
    if (startsWithNoCase(text, "rgbi:")) return parseRgbiColor(text, maxval);
    if (startsWithNoCase(text, "rgb:")) return parseRgbColor(text, maxval);
    return parseColorName(text, maxval);
}
