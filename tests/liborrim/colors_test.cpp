// Colour texts: every syntax at several maxvals, names, and rejected texts.
#include <orrim.h>

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

namespace {

struct ColorCase {
    const char* text;
    Sample maxval;
    Sample r, g, b;
};

// Expected values are the exact ratios rounded half up, worked out by hand.
const ColorCase COLOR_CASES[] = {
    // "#" forms: each component scaled from 16^digits - 1.
    {"#f00", 255, 255, 0, 0},
    {"#800", 1, 1, 0, 0},
    {"#800", 15, 8, 0, 0},
    {"#800", 255, 136, 0, 0},
    {"#800", 65535, 34952, 0, 0},
    {"#123456", 1, 0, 0, 0},
    {"#123456", 15, 1, 3, 5},
    {"#123456", 255, 18, 52, 86},
    {"#123456", 65535, 4626, 13364, 22102},
    {"#FFF000ABC", 255, 255, 0, 171},
    {"#fff000abc", 15, 15, 0, 10},
    {"#fff000abc", 65535, 65535, 0, 43978},
    {"#ffff00008000", 1, 1, 0, 1},
    {"#ffff00008000", 15, 15, 0, 8},
    {"#ffff00008000", 255, 255, 0, 128},
    {"#ffff00008000", 65535, 65535, 0, 32768},
    {"#fff", 4294967295u, 4294967295u, 4294967295u, 4294967295u},
    // rgb: each component on its own digit count.
    {"rgb:f/80/abc", 1, 1, 1, 1},
    {"rgb:f/80/abc", 15, 15, 8, 10},
    {"rgb:f/80/abc", 255, 255, 128, 171},
    {"rgb:f/80/abc", 65535, 65535, 32896, 43978},
    {"rgb:1/02/003", 255, 17, 2, 0},
    {"rgb:1/02/003", 65535, 4369, 514, 48},
    {"rgb:7/7f/7ff7", 15, 7, 7, 7},
    {"rgb:7/7f/7ff7", 255, 119, 127, 127},
    {"rgb:7/7f/7ff7", 65535, 30583, 32639, 32759},
    {"RGB:0/0/0", 255, 0, 0, 0},
    // rgbi: fractions, half rounded up.
    {"rgbi:1/0.5/0.25", 1, 1, 1, 0},
    {"rgbi:1/0.5/0.25", 15, 15, 8, 4},
    {"rgbi:1/0.5/0.25", 255, 255, 128, 64},
    {"rgbi:1/0.5/0.25", 65535, 65535, 32768, 16384},
    {"rgbi:0.1/0.333/.9", 15, 2, 5, 14},
    {"rgbi:0.1/0.333/.9", 255, 26, 85, 230},
    {"rgbi:1./1.000/0", 255, 255, 255, 0},
    {"rgbi:1/1/1", 4294967295u, 4294967295u, 4294967295u, 4294967295u},
    // Decimal ties that binary fractions fall just short of: 14.5, 28.5, 500.5.
    {"rgbi:0.145/0.285/0.575", 100, 15, 29, 58},
    {"rgbi:0.5005/0.1450/0.0005", 1000, 501, 145, 1},
    {"rgbi:0.0000000000000000000000000001/00.50000000000000000000001/1.000", 4294967295u, 0, 2147483648u,
     4294967295u},
    // Names, any case, both grey spellings.
    {"red", 255, 255, 0, 0},
    {"RED", 65535, 65535, 0, 0},
    {"navy", 1, 0, 0, 1},
    {"Navy", 15, 0, 0, 8},
    {"navy", 65535, 0, 0, 32896},
    {"gray", 255, 128, 128, 128},
    {"GREY", 255, 128, 128, 128},
    {"DarkSlateGrey", 15, 3, 5, 5},
    {"darkslategray", 255, 47, 79, 79},
    {"DARKSLATEGREY", 65535, 12079, 20303, 20303},
    {"LightGoldenrodYellow", 255, 250, 250, 210},
    {"aliceblue", 255, 240, 248, 255},
    {"yellowgreen", 255, 154, 205, 50},
    {"white", 1, 1, 1, 1},
    {"black", 65535, 0, 0, 0},
};

void PrintTo(const ColorCase& c, std::ostream* os) { *os << '"' << c.text << "\" at maxval " << c.maxval; }

class ParseColor : public testing::TestWithParam<ColorCase> {};

TEST_P(ParseColor, GivesScaledSamples) {
    const ColorCase& c = GetParam();
    Pixel p = ppm_parsecolor(c.text, c.maxval);
    EXPECT_EQ(p.r, c.r);
    EXPECT_EQ(p.g, c.g);
    EXPECT_EQ(p.b, c.b);
}

INSTANTIATE_TEST_SUITE_P(Syntaxes, ParseColor, testing::ValuesIn(COLOR_CASES));

// Every name of the table must be reachable; the alphabetical look-up breaks
// silently when an entry is out of order, so probe names across the range.
TEST(ParseColorNames, NamesAcrossTheTableAreFound) {
    const char* names[] = {"aqua",       "azure",  "chartreuse", "crimson",  "cyan",  "dimgrey",
                           "fuchsia",    "gold",   "honeydew",   "indigo",   "khaki", "lime",
                           "magenta",    "maroon", "mintcream",  "olive",    "peru",  "rebeccapurple",
                           "silver",     "snow",   "tan",        "teal",     "wheat", "whitesmoke",
                           "lightgreen", "lightgrey", "lightgray", "navyblue", "violetred"};
    for (const char* n : names) {
        std::string upper(n);
        for (char& ch : upper) ch = char(toupper(static_cast<unsigned char>(ch)));
        Pixel a = ppm_parsecolor(n, 255), b = ppm_parsecolor(upper.c_str(), 255);
        EXPECT_EQ(a, b) << n;
    }
    EXPECT_EQ(ppm_parsecolor("cyan", 255), ppm_parsecolor("aqua", 255));
    EXPECT_EQ(ppm_parsecolor("lightgray", 255), (Pixel{211, 211, 211}));
}

struct BadColor {
    const char* text;
    const char* message;  // regular expression the error line must match
};

const BadColor BAD_COLORS[] = {
    {"", "invalid color '': empty"},
    {"xyz", "invalid color 'xyz': unknown color name"},
    {" red", "invalid color ' red'"},
    {"red ", "invalid color 'red '"},
    {"redd", "invalid color 'redd'"},
    {"#", "invalid color '#': '#' takes 3, 6, 9 or 12 hex digits"},
    {"#ff", "invalid color '#ff'"},
    {"#fffff", "invalid color '#fffff'"},
    {"#0000000000000", "invalid color '#0000000000000'"},
    {"#ggg", "invalid color '#ggg'"},
    {"#fff ", "invalid color '#fff '"},
    {"rgb:", "invalid color 'rgb:'"},
    {"rgb:f/f", "invalid color 'rgb:f/f'"},
    {"rgb:f/f/f/", "invalid color 'rgb:f/f/f/'"},
    {"rgb:f/f/fx", "invalid color 'rgb:f/f/fx'"},
    {"rgb:fffff/0/0", "invalid color 'rgb:fffff/0/0': each 'rgb:' component"},
    {"rgb://", "invalid color 'rgb://'"},
    {"rgbi:1.1/0/0", "invalid color 'rgbi:1.1/0/0': 'rgbi:' component outside 0 to 1"},
    {"rgbi:1.0000001/0/0", "outside 0 to 1"},
    {"rgbi:-0.1/0/0", "invalid color 'rgbi:-0.1/0/0'"},
    {"rgbi:0.5/0.5", "invalid color 'rgbi:0.5/0.5'"},
    {"rgbi:nan/0/0", "invalid color 'rgbi:nan/0/0'"},
    {"rgbi:1e0/0/0", "invalid color 'rgbi:1e0/0/0'"},
    {"rgbi:./0/0", "invalid color 'rgbi:./0/0'"},
    {"rgbi:0..5/0/0", "invalid color 'rgbi:0..5/0/0'"},
};

void PrintTo(const BadColor& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ParseColorBad : public testing::TestWithParam<BadColor> {};

TEST_P(ParseColorBad, EndsTheRunQuotingTheText) {
    const BadColor& c = GetParam();
    EXPECT_EXIT(ppm_parsecolor(c.text, 255), testing::ExitedWithCode(1), c.message);
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseColorBad, testing::ValuesIn(BAD_COLORS));

TEST(ParseColorBadDeath, MaxvalZeroIsRejected) {
    EXPECT_EXIT(ppm_parsecolor("red", 0), testing::ExitedWithCode(1), "invalid maxval 0 for color 'red'");
}

TEST(ParseColorBadDeath, MessageStaysOneLineAndShort) {
    // A newline in the text must not split the message; a long text is cut.
    EXPECT_EXIT(ppm_parsecolor("re\nd", 255), testing::ExitedWithCode(1), "'re\\\\x0ad': unknown color name");
    std::string longText(1000, 'a');
    EXPECT_EXIT(ppm_parsecolor(longText.c_str(), 255), testing::ExitedWithCode(1),
                "'a{64}\\.\\.\\.': unknown color name");
}

}  // namespace
