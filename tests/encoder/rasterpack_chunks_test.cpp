// The ancillary chunks rasterpack writes, byte by byte, and their order.
#include "pngtestkit.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <ostream>

using namespace testkit;

namespace {

RunResult run(const std::vector<std::string>& args, const std::string& input) {
    return runProgram(rasterpackPath(), args, input);
}

// Images that are written without a palette: 17 grey levels are too many
// for a grey palette, 257 colours too many for any.
std::string grey8() {
    std::vector<Sample> v;
    for (Sample i = 1; i <= 17; ++i) v.push_back(i);
    return makePgm(17, 1, 255, v);
}
std::string rgb8() {
    std::vector<Sample> v;
    for (Sample i = 0; i < 257; ++i) v.insert(v.end(), {i & 0xff, i >> 8, 7});
    return makePpm(257, 1, 255, v);
}
// No palette is tried at 16 bits, so nothing is reported before a failure.
std::string quietGrey() { return makePgm(2, 1, 65535, {1, 2}); }

std::string maskFile(const std::string& mask) {
    std::string path = scratchDir() + "/mask.pgm";
    writeFile(path, mask);
    return path;
}

std::string textFile(const std::string& contents) {
    std::string path = scratchDir() + "/comments.txt";
    writeFile(path, contents);
    return path;
}

struct ChunkCase {
    const char* name;
    std::string image;
    std::vector<std::string> args;
    const char* type;
    std::string data;  // "<absent>" when the chunk must not be written
};

class ChunkBytes : public testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkBytes, AreExactly) {
    const ChunkCase& c = GetParam();
    RunResult r = run(c.args, c.image);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<PngChunk> chunks = pngChunks(r.out);
    EXPECT_EQ(chunkData(chunks, c.type), c.data);
    EXPECT_LE(countChunks(chunks, c.type), 1);
}

std::string chunkName(const testing::TestParamInfo<ChunkCase>& info) { return info.param.name; }

std::string bytes8(std::initializer_list<unsigned> values) {
    std::string s;
    for (unsigned v : values) s += char(v);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Options, ChunkBytes,
    testing::Values(
        ChunkCase{"GammaOne", grey8(), {"-gamma", "1.0"}, "gAMA", bytes32({100000})},
        ChunkCase{"GammaInverse", grey8(), {"-gamma", "0.45455"}, "gAMA", bytes32({45455})},
        ChunkCase{"NoGamma", grey8(), {}, "gAMA", "<absent>"},
        ChunkCase{"Chroma",
                  rgb8(),
                  {"-chroma", "0.3127", "0.329", "0.64", "0.33", "0.3", "0.6", "0.15", "0.06"},
                  "cHRM",
                  bytes32({31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000})},
        ChunkCase{"NoChroma", rgb8(), {}, "cHRM", "<absent>"},
        ChunkCase{"PhysMetre", grey8(), {"-phys", "2835", "3780", "1"}, "pHYs", bytes32({2835, 3780}) + bytes8({1})},
        ChunkCase{"PhysUnitZero", grey8(), {"-phys", "1", "2", "0"}, "pHYs", bytes32({1, 2}) + bytes8({0})},
        ChunkCase{"NoPhys", grey8(), {}, "pHYs", "<absent>"},
        ChunkCase{"TransparentGrey", grey8(), {"-transparent", "#808080"}, "tRNS", bytes16({128})},
        ChunkCase{"TransparentGrey4Bit", makePgm(1, 1, 15, {3}), {"-force", "-transparent", "#ffffff"}, "tRNS", bytes16({15})},
        ChunkCase{"TransparentRgb", rgb8(), {"-transparent", "#ff8000"}, "tRNS", bytes16({255, 128, 0})},
        ChunkCase{"TransparentExactMark", rgb8(), {"-transparent", "=#0000ff"}, "tRNS", bytes16({0, 0, 255})},
        ChunkCase{"TransparentRgb16", makePpm(1, 1, 65535, {1, 2, 3}), {"-transparent", "#ff0000"}, "tRNS",
                  bytes16({65535, 0, 0})},
        ChunkCase{"TransparentMaxval100", makePpm(1, 1, 100, {1, 2, 3}), {"-force", "-transparent", "#808080"}, "tRNS",
                  // 32896 -> 50 in image units -> 128 at depth 8
                  bytes16({128, 128, 128})},
        ChunkCase{"TransparentDownscaled", makePgm(1, 1, 100000, {1}, true), {"-downscale", "-transparent", "#ffffff"},
                  "tRNS", bytes16({65535})},
        ChunkCase{"NoTransparent", rgb8(), {}, "tRNS", "<absent>"},
        ChunkCase{"BackgroundGrey", grey8(), {"-background", "#404040"}, "bKGD", bytes16({64})},
        ChunkCase{"BackgroundRgb", rgb8(), {"-background", "#0000ff"}, "bKGD", bytes16({0, 0, 255})},
        ChunkCase{"BackgroundBitmap", makePbm(1, 1, {1}), {"-background", "#ffffff"}, "bKGD", bytes16({1})},
        ChunkCase{"BackgroundRgb16", makePpm(1, 1, 1000, {1, 2, 3}), {"-background", "#00ff00"}, "bKGD",
                  bytes16({0, 65535, 0})},
        ChunkCase{"SigBitsGrey100", makePgm(1, 1, 100, {1}), {"-force"}, "sBIT", bytes8({7})},
        ChunkCase{"SigBitsRgb31", makePpm(1, 1, 31, {1, 2, 3}), {"-force"}, "sBIT", bytes8({5, 5, 5})},
        ChunkCase{"SigBitsRgb1000", makePpm(1, 1, 1000, {1, 2, 3}), {}, "sBIT", bytes8({10, 10, 10})},
        ChunkCase{"NoSigBitsAtFullDepth", grey8(), {}, "sBIT", "<absent>"},
        ChunkCase{"NoSigBitsAt4Bit", makePgm(1, 1, 15, {1}), {"-force"}, "sBIT", "<absent>"},
        ChunkCase{"SigBitsDownscaledAtMostDepth", makePgm(1, 1, 100000, {1}, true), {"-downscale"}, "sBIT",
                  bytes8({16})},
        ChunkCase{"Time", grey8(), {"-time", "2003-01-02", "03:04:05"}, "tIME", bytes16({2003}) + bytes8({1, 2, 3, 4, 5})},
        ChunkCase{"TimeTwoDigitYear", grey8(), {"-time", "99-12-31", "23:59:59"}, "tIME",
                  bytes16({1999}) + bytes8({12, 31, 23, 59, 59})},
        ChunkCase{"TimeYear1900", grey8(), {"-time", "1900-01-01", "00:00:00"}, "tIME",
                  bytes16({1900}) + bytes8({1, 1, 0, 0, 0})},
        ChunkCase{"TimeYearBefore1900", grey8(), {"-time", "1850-06-01", "12:00:00"}, "tIME",
                  bytes16({1850}) + bytes8({6, 1, 12, 0, 0})},
        ChunkCase{"NoTime", grey8(), {}, "tIME", "<absent>"},
        ChunkCase{"HistWithoutPalette", rgb8(), {"-hist"}, "hIST", "<absent>"}),
    chunkName);

struct MaskChunkCase {
    const char* name;
    std::string image;
    std::string mask;
    const char* type;
    std::string data;
};

class MaskChunks : public testing::TestWithParam<MaskChunkCase> {};

TEST_P(MaskChunks, AreExactly) {
    const MaskChunkCase& c = GetParam();
    // -force: the masks below would otherwise become palettes or one transparent colour
    RunResult r = run({"-force", "-alpha", maskFile(c.mask), "-background", "#ff0000"}, c.image);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(chunkData(pngChunks(r.out), c.type), c.data);
}

std::string maskChunkName(const testing::TestParamInfo<MaskChunkCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskChunks,
    testing::Values(
        MaskChunkCase{"SigBitsAlphaOnly", makePgm(2, 1, 255, {1, 2}), makePgm(2, 1, 1, {0, 1}), "sBIT", bytes8({8, 1})},
        MaskChunkCase{"SigBitsGreyAndAlpha", makePgm(2, 1, 15, {1, 2}), makePgm(2, 1, 15, {0, 15}), "sBIT",
                      bytes8({4, 4})},
        MaskChunkCase{"SigBitsRgbAndAlpha", makePpm(1, 1, 100, {1, 2, 3}), makePgm(1, 1, 255, {0}), "sBIT",
                      bytes8({7, 7, 7, 8})},
        MaskChunkCase{"NoSigBitsWhenAllFull", makePpm(2, 1, 255, {1, 2, 3, 4, 5, 6}), makePgm(2, 1, 255, {0, 9}), "sBIT", "<absent>"},
        MaskChunkCase{"NoTransparencyWithAlpha", makePpm(2, 1, 255, {1, 2, 3, 4, 5, 6}), makePgm(2, 1, 255, {0, 9}), "tRNS", "<absent>"},
        MaskChunkCase{"BackgroundWithAlpha", makePpm(2, 1, 255, {1, 2, 3, 4, 5, 6}), makePgm(2, 1, 255, {0, 9}), "bKGD", bytes16({255, 0, 0})}),
    maskChunkName);

// --- -time failures -----------------------------------------------------------------

struct BadTimeCase {
    const char* date;
    const char* time;
    const char* problem;
};

void PrintTo(const BadTimeCase& c, std::ostream* os) { *os << std::string(c.date).substr(0, 40) << ' ' << c.time; }

class BadTime : public testing::TestWithParam<BadTimeCase> {};

TEST_P(BadTime, EndsWithAClearMessage) {
    const BadTimeCase& c = GetParam();
    RunResult r = run({"-time", c.date, c.time}, quietGrey());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("rasterpack: -time '") + c.date + "' '" + c.time + "' " + c.problem + "\n");
    EXPECT_TRUE(r.out.empty());
}

// Longer than any fixed message buffer: the line must come out whole.
const std::string LONG_DATE = "2003-01-02" + std::string(2000, '9');

INSTANTIATE_TEST_SUITE_P(
    Dates, BadTime,
    testing::Values(BadTimeCase{"2003-13-01", "00:00:00", "is out of range for a PNG modification time"},
                    BadTimeCase{"2003-01-01", "24:00:00", "is out of range for a PNG modification time"},
                    BadTimeCase{"yesterday", "00:00:00",
                                "is not a date and time of the form [yy]yy-mm-dd hh:mm:ss"},
                    BadTimeCase{"2003-01-02", "3pm", "is not a date and time of the form [yy]yy-mm-dd hh:mm:ss"},
                    BadTimeCase{LONG_DATE.c_str(), "00:00:00",
                                "is not a date and time of the form [yy]yy-mm-dd hh:mm:ss"}));

TEST(Phys, NegativePixelCountsAreRejected) {
    RunResult r = run({"-phys", "-5", "3", "1"}, quietGrey());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rasterpack: -phys: pixels per unit must not be negative (-5, 3)\n");
    EXPECT_TRUE(r.out.empty());
}

TEST(Phys, UnitsOtherThanUnknownOrMetreAreRejected) {
    const std::pair<const char*, const char*> units[] = {{"2", "2"}, {"-5", "-5"}, {"256", "256"}, {"257", "257"}, {"x\x1b[1m", "x\\x1b[1m"}};
    for (const auto& unit : units) {
        RunResult r = run({"-phys", "1", "1", unit.first}, grey8());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string("rasterpack: -phys: unit '") + unit.second +
                             "' is neither 0 (unknown) nor 1 (metre)\n");
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(Phys, ValuesBeyondAnIntAreRejected) {
    for (auto args : {std::vector<std::string>{"-phys", "3000000000", "1", "1"},
                      std::vector<std::string>{"-phys", "1", "99999999999999999999", "1"},
                      std::vector<std::string>{"-phys", "1", "1", "-4294967295"}}) {
        RunResult r = run(args, grey8());
        EXPECT_EQ(r.status, 1);
        bool named = false;
        for (const std::string& a : args) named = named || r.err == "rasterpack: -phys: '" + a + "' is out of range\n";
        EXPECT_TRUE(named) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

// --- order: every chunk once, all ahead of the image data ------------------------------

TEST(ChunkOrder, EveryChunkOnceAndAheadOfTheImageData) {
    std::string comments = textFile("Title  Sunset\nComment first\n   second\n");
    // -force keeps it truecolour, with sBIT
    RunResult r = run({"-force", "-gamma", "0.5", "-chroma", "0.3127", "0.329", "0.64", "0.33", "0.3", "0.6", "0.15", "0.06",
                       "-phys", "1", "1", "1", "-transparent", "#ff0000", "-background", "#00ff00", "-time",
                       "2003-01-02", "03:04:05", "-text", comments, "-interlace"},
                      makePpm(3, 3, 100, std::vector<Sample>(27, 50)) + "");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<PngChunk> chunks = pngChunks(r.out);
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.back().type, "IEND");
    bool seenImageData = false;
    for (const PngChunk& c : chunks) {
        if (c.type == "IDAT") {
            seenImageData = true;
            continue;
        }
        if (c.type == "IEND") continue;
        EXPECT_FALSE(seenImageData) << c.type << " after the image data";
        if (c.type != "tEXt") {
            EXPECT_EQ(countChunks(chunks, c.type), 1) << c.type;
        }
    }
    EXPECT_EQ(countChunks(chunks, "tEXt"), 2);
    for (const char* type : {"gAMA", "cHRM", "pHYs", "tRNS", "bKGD", "sBIT", "tIME"})
        EXPECT_EQ(countChunks(chunks, type), 1) << type;
}

// --- text chunks ---------------------------------------------------------------------------

// Keyword and text of a tEXt chunk, or keyword and inflated text of a zTXt chunk.
std::pair<std::string, std::string> textEntry(const PngChunk& c) {
    size_t nul = c.data.find('\0');
    std::string key = c.data.substr(0, nul);
    if (c.type == "tEXt") return {key, c.data.substr(nul + 1)};
    std::string compressed = c.data.substr(nul + 2);
    std::string text(4096, '\0');
    uLongf size = text.size();
    if (uncompress(reinterpret_cast<Bytef*>(&text[0]), &size, reinterpret_cast<const Bytef*>(compressed.data()),
                   compressed.size()) != Z_OK)
        ADD_FAILURE() << "bad zTXt data";
    text.resize(size);
    return {key, text};
}

std::vector<std::string> textChunks(const std::string& png) {
    std::vector<std::string> out;
    for (const PngChunk& c : pngChunks(png))
        if (c.type == "tEXt" || c.type == "zTXt") {
            auto entry = textEntry(c);
            out.push_back(c.type + " " + entry.first + "=" + entry.second);
        }
    return out;
}

struct TextCase {
    const char* name;
    std::string contents;
    bool ztxt;
    std::vector<std::string> entries;
};

class TextFile : public testing::TestWithParam<TextCase> {};

TEST_P(TextFile, GivesTheseEntries) {
    const TextCase& c = GetParam();
    RunResult r = run({c.ztxt ? "-ztxt" : "-text", textFile(c.contents)}, grey8());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(textChunks(r.out), c.entries);
}

std::string textName(const testing::TestParamInfo<TextCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Files, TextFile,
    testing::Values(
        TextCase{"Plain", "Title  Sunset\nComment first\n   second\n", false,
                 {"tEXt Title=Sunset", "tEXt Comment=first\nsecond"}},
        TextCase{"Compressed", "Title  Sunset\nComment first\n   second\n\"Creation Time\"\t2003\nAuthor\n", true,
                 {"tEXt Title=Sunset", "zTXt Comment=first\nsecond", "zTXt Creation Time=2003", "tEXt Author="}},
        TextCase{"LowerCaseTitleIsCompressed", "title x\n", true, {"zTXt title=x"}},
        TextCase{"EmptyLineDoesNotEndEntry", "Key\tvalue\n\n\tmore  \n", false, {"tEXt Key=value\nmore  "}},
        TextCase{"BlankOnlyContinuation", "Key a\n \nb c", false, {"tEXt Key=a\n", "tEXt b=c"}},
        TextCase{"KeywordOnly", "Key    \n", false, {"tEXt Key="}},
        TextCase{"Empty", "", false, {}},
        TextCase{"EmptyLinesOnly", "\n\n\n", false, {}}),
    textName);

TEST(TextFile, ManyEntriesGrowTheArray) {
    std::string contents;
    for (int i = 0; i < 300; ++i) contents += "K" + std::to_string(i) + " v\n";
    RunResult r = run({"-verbose", "-text", textFile(contents)}, grey8());
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> entries = textChunks(r.out);
    ASSERT_EQ(entries.size(), 300u);
    EXPECT_EQ(entries[256], "tEXt K256=v");
    EXPECT_NE(r.err.find("rasterpack: 300 comments placed in text chunk\n"), std::string::npos);
}

TEST(TextFile, LastNamedFileIsReadAndCompressedWithBoth) {
    std::string first = textFile("One a\n"), second = textFile("Two b\n");
    RunResult r = run({"-text", first, "-ztxt", second}, grey8());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(textChunks(r.out), std::vector<std::string>{"tEXt Two=b"});
    r = run({"-ztxt", first, "-text", second}, grey8());
    EXPECT_EQ(textChunks(r.out), std::vector<std::string>{"tEXt Two=b"});
    r = run({"-ztxt", first, "-text", textFile("Key b\n")}, grey8());
    EXPECT_EQ(textChunks(r.out), std::vector<std::string>{"zTXt Key=b"});
}

struct BadTextCase {
    std::string contents;
    std::string message;
};

void PrintTo(const BadTextCase& c, std::ostream* os) { *os << c.message.substr(0, 40); }

class BadTextFile : public testing::TestWithParam<BadTextCase> {};

TEST_P(BadTextFile, EndsTheRun) {
    RunResult r = run({"-text", textFile(GetParam().contents)}, quietGrey());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rasterpack: " + GetParam().message + "\n");
    EXPECT_TRUE(r.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadTextFile,
    testing::Values(
        BadTextCase{"\n\tindented\nKey v\n",
                    "Invalid comment file format: first line is a continuation line! (It starts with whitespace)"},
        BadTextCase{"\"Open keyword\n",
                    "Invalid comment file format:  line 1: the quoted keyword 'Open keyword' has no closing quote"},
        BadTextCase{std::string("\"Nul") + '\0' + "x\" v\n",
                    "Invalid comment file format:  keyword contains a NUL character.  Text leading up to the NUL "
                    "character is 'Nul'"},
        // keywords PNG cannot hold; control bytes are shown escaped, so the message stays one plain line
        BadTextCase{"A b\n\"Bell\aTab\tCR\r\x1b[2J\" v\n",
                    "Invalid comment file format:  line 2: the keyword 'Bell\\x07Tab\\x09CR\\x0d\\x1b[2J' contains "
                    "the byte 0x07, which is not printable Latin-1"},
        BadTextCase{"\"Nbsp\xa0\" v\n", "Invalid comment file format:  line 1: the keyword 'Nbsp\\xa0' contains the "
                                        "byte 0xa0, which is not printable Latin-1"},
        BadTextCase{"\"\" v\n", "Invalid comment file format:  line 1: the keyword '' is empty"},
        BadTextCase{std::string(80, 'K') + " v\n",
                    "Invalid comment file format:  line 1: the keyword '" + std::string(80, 'K') +
                        "' is longer than 79 bytes"},
        BadTextCase{"\" Lead\" v\n", "Invalid comment file format:  line 1: the keyword ' Lead' starts with a space"},
        BadTextCase{"\"Trail \" v\n", "Invalid comment file format:  line 1: the keyword 'Trail ' ends with a space"},
        BadTextCase{"\"Two  spaces\" v\n",
                    "Invalid comment file format:  line 1: the keyword 'Two  spaces' contains two spaces in a row"},
        // PNG text ends at a NUL: a text holding one is refused, not cut
        BadTextCase{std::string("Key a") + '\0' + "b\n",
                    "Invalid comment file format:  line 1: the text contains a NUL byte, which a PNG text chunk "
                    "cannot hold"},
        BadTextCase{std::string("Key a\n\n  b") + '\0' + "c\n",
                    "Invalid comment file format:  line 3: the text contains a NUL byte, which a PNG text chunk "
                    "cannot hold"}));

TEST(TextFile, LongestLatin1KeywordIsKept) {
    std::string keyword = std::string(76, 'K') + " \xe9x";
    RunResult r = run({"-text", textFile("\"" + keyword + "\" v\n")}, quietGrey());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(textChunks(r.out), std::vector<std::string>{"tEXt " + keyword + "=v"});
}

}  // namespace
