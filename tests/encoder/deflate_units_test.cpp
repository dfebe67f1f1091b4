// The optimal-parse coder and its parts: the format's symbol tables against
// the format's own base tables, length-limited codes against an unlimited
// Huffman code, the match search against a brute-force one, and whole
// streams, which must inflate to their data with the window they declare.
#include "deflateblocks.h"
#include "deflatematches.h"
#include "deflatesymbols.h"
#include "huffmancode.h"
#include "parseddeflate.h"
#include "wholedeflate.h"
#include "zlibcheck.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <queue>
#include <string>
#include <vector>

using namespace rasterpack;
using namespace rasterpack::zlibcheck;

namespace {

// The format's tables as printed in its definition.
const int LENGTH_BASES[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                              31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int DISTANCE_BASES[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

TEST(DeflateSymbols, EveryLengthAndDistanceFallsInItsSymbolsRange) {
    for (int s = 0; s < 29; ++s) {
        EXPECT_EQ(lengthBase(257 + s), LENGTH_BASES[s]) << s;
        EXPECT_EQ(lengthExtraBits(257 + s), LENGTH_EXTRA[s]) << s;
    }
    for (int s = 0; s < 30; ++s) {
        EXPECT_EQ(distanceBase(s), DISTANCE_BASES[s]) << s;
        EXPECT_EQ(distanceExtraBits(s), s < 4 ? 0 : s / 2 - 1) << s;
    }
    for (int length = DEFLATE_MIN_MATCH; length <= DEFLATE_MAX_MATCH; ++length) {
        int s = lengthSymbol(length);
        ASSERT_TRUE(s >= 257 && s <= 285) << length;
        int span = s == 285 ? 1 : (s == 284 ? 31 : 1 << lengthExtraBits(s));
        EXPECT_TRUE(length >= lengthBase(s) && length < lengthBase(s) + span) << length;
    }
    for (int distance = 1; distance <= DEFLATE_WINDOW; ++distance) {
        int s = distanceSymbol(distance);
        ASSERT_TRUE(s >= 0 && s < DISTANCE_SYMBOLS) << distance;
        EXPECT_TRUE(distance >= distanceBase(s) && distance < distanceBase(s) + (1 << distanceExtraBits(s)))
            << distance;
    }
}

// --- codes ---------------------------------------------------------------------

// The total cost and the depth of an unlimited Huffman code for the counts.
struct Unlimited {
    uint64_t cost = 0;
    int depth = 0;
};

Unlimited huffmanCode(const std::vector<uint32_t>& counts) {
    using Item = std::pair<uint64_t, int>;  // weight, depth below
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
    for (uint32_t c : counts)
        if (c) heap.push(Item(c, 0));
    Unlimited u;
    while (heap.size() > 1) {
        Item a = heap.top();
        heap.pop();
        Item b = heap.top();
        heap.pop();
        u.cost += a.first + b.first;
        heap.push(Item(a.first + b.first, std::max(a.second, b.second) + 1));
    }
    u.depth = heap.empty() ? 0 : heap.top().second;
    return u;
}

struct CodeCase {
    const char* name;
    std::vector<uint32_t> counts;
    int maxBits;
};

std::vector<uint32_t> fibonacciCounts(int n) {
    std::vector<uint32_t> v = {1, 1};
    while (int(v.size()) < n) v.push_back(v[v.size() - 1] + v[v.size() - 2]);
    return v;
}

std::vector<uint32_t> noisyCounts(int n, uint32_t seed, int zeroEvery) {
    std::vector<uint32_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[size_t(i)] = zeroEvery && i % zeroEvery == 0 ? 0 : (seed >> 16) % 5000;
    }
    return v;
}

// Complete (Kraft sum exactly one), within the limit, lengths only for
// counted symbols, and as cheap as an unlimited code whenever that one fits.
TEST(HuffmanCode, LimitedLengthsAreCompleteAndOptimal) {
    const CodeCase cases[] = {
        {"none counted", std::vector<uint32_t>(30, 0), 15},
        {"one counted", {0, 0, 7, 0}, 15},
        {"symbol 0 alone", {9, 0, 0}, 7},
        {"two", {1, 1000}, 15},
        {"equal", std::vector<uint32_t>(19, 4), 7},
        {"fibonacci past the limit", fibonacciCounts(30), 15},
        {"fibonacci, code-length limit", fibonacciCounts(19), 7},
        {"noisy literals", noisyCounts(286, 7, 0), 15},
        {"noisy with gaps", noisyCounts(286, 9, 3), 15},
        {"noisy distances", noisyCounts(30, 11, 4), 15},
    };
    HuffmanScratch scratch;
    for (const CodeCase& c : cases) {
        int n = int(c.counts.size());
        std::vector<uint8_t> lengths(static_cast<size_t>(n));
        limitedCodeLengths(c.counts.data(), n, c.maxBits, lengths.data(), &scratch);
        uint64_t kraft = 0, cost = 0;
        int coded = 0;
        for (int i = 0; i < n; ++i) {
            EXPECT_LE(lengths[size_t(i)], c.maxBits) << c.name;
            if (c.counts[size_t(i)]) {
                EXPECT_GT(lengths[size_t(i)], 0) << c.name << " symbol " << i;
            }
            if (lengths[size_t(i)]) kraft += uint64_t(1) << (c.maxBits - lengths[size_t(i)]), ++coded;
            cost += uint64_t(c.counts[size_t(i)]) * lengths[size_t(i)];
        }
        EXPECT_EQ(kraft, uint64_t(1) << c.maxBits) << c.name;
        EXPECT_GE(coded, 2) << c.name;
        int used = int(std::count_if(c.counts.begin(), c.counts.end(), [](uint32_t x) { return x != 0; }));
        Unlimited unlimited = huffmanCode(c.counts);
        if (used >= 2) {
            EXPECT_GE(cost, unlimited.cost) << c.name;
            if (unlimited.depth <= c.maxBits) {
                EXPECT_EQ(cost, unlimited.cost) << c.name;
            }
        }
    }
}

TEST(HuffmanCode, CanonicalCodesArePrefixFree) {
    std::vector<uint32_t> counts = noisyCounts(286, 5, 7);
    std::vector<uint8_t> lengths(286);
    HuffmanScratch scratch;
    limitedCodeLengths(counts.data(), 286, 15, lengths.data(), &scratch);
    std::vector<uint16_t> codes(286);
    canonicalCodes(lengths.data(), 286, codes.data());
    for (size_t a = 0; a < 286; ++a)
        for (size_t b = 0; b < 286; ++b) {
            if (a == b || !lengths[a] || !lengths[b] || lengths[a] > lengths[b]) continue;
            // Codes are stored reversed: a prefix is the low bits.
            unsigned mask = (1u << lengths[a]) - 1;
            EXPECT_NE(codes[a], codes[b] & mask) << a << " is a prefix of " << b;
        }
}

// --- match search ----------------------------------------------------------------

size_t bruteLongest(const std::vector<uint8_t>& d, size_t i) {
    size_t best = 0, limit = std::min(d.size() - i, size_t(DEFLATE_MAX_MATCH));
    for (size_t q = i > size_t(DEFLATE_WINDOW) - 1 ? i - (DEFLATE_WINDOW - 1) : 0; q < i; ++q) {
        size_t n = 0;
        while (n < limit && d[q + n] == d[i + n]) ++n;
        best = std::max(best, n);
    }
    return best >= size_t(DEFLATE_MIN_MATCH) ? best : 0;
}

TEST(MatchSearch, CandidatesAreRealMatchesAndTheLongestIsFound) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        std::vector<uint8_t> data = mixedBytes(6000, seed);
        MatchFinder finder(data.data(), data.size(), 1 << 20);
        MatchTable table;
        finder.find(0, 2500, &table);
        MatchTable rest;
        finder.find(2500, data.size(), &rest);  // a second span reaches back into the first
        for (const MatchTable* t : {&table, &rest})
            for (size_t k = 0; k < t->count; ++k) {
                size_t i = t->start + k, previousLength = 0, previousDistance = 0;
                for (uint32_t c = t->first[k]; c < t->first[k + 1]; ++c) {
                    const MatchCandidate& m = t->candidates[c];
                    ASSERT_TRUE(m.distance >= 1 && m.distance <= i) << i;
                    ASSERT_LE(i + m.length, data.size());
                    EXPECT_TRUE(std::equal(data.begin() + long(i), data.begin() + long(i + m.length),
                                           data.begin() + long(i - m.distance)))
                        << "position " << i;
                    EXPECT_GT(m.length, previousLength);
                    EXPECT_GT(m.distance, previousDistance);
                    previousLength = m.length;
                    previousDistance = m.distance;
                }
                EXPECT_EQ(previousLength, bruteLongest(data, i)) << "seed " << seed << " position " << i;
            }
    }
}

// --- whole streams -------------------------------------------------------------

struct StreamCase {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
};

std::vector<uint8_t> repeated(size_t n, std::vector<uint8_t> unit) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = unit[i % unit.size()];
    return v;
}

// Rows like a screenshot's after filtering: a flat background of zeros with
// boxes of text-like bytes, repeating rows and far matches.
std::vector<uint8_t> screenshotRows(size_t width, size_t height) {
    std::vector<uint8_t> v;
    for (size_t y = 0; y < height; ++y) {
        v.push_back(uint8_t(y % 3 == 0 ? 2 : 0));
        for (size_t x = 0; x < width; ++x)
            v.push_back((x / 40 + y / 16) % 3 == 0 && (x * 7 + y * 3) % 11 < 4 ? uint8_t(x * 13 + y) : 0);
    }
    return v;
}

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 23);
    return v;
}

TEST(ParsedDeflate, StreamsInflateToTheirDataWithTheDeclaredWindow) {
    const StreamCase cases[] = {
        {"empty", [] { return std::vector<uint8_t>(); }},
        {"one byte", [] { return std::vector<uint8_t>{42}; }},
        {"three bytes", [] { return std::vector<uint8_t>{1, 1, 1}; }},
        {"a run longer than a match", [] { return std::vector<uint8_t>(1000, 0); }},
        {"a run of exactly a match and a byte", [] { return std::vector<uint8_t>(DEFLATE_MAX_MATCH + 2, 7); }},
        {"pixels of three bytes", [] { return repeated(70000, {200, 10, 33}); }},
        {"noise", [] { return noise(50000, 5); }},
        {"mixed", [] { return mixedBytes(300000, 8); }},
        {"screenshot rows", [] { return screenshotRows(600, 200); }},
        // Longer than a span, with repeats a window back across its end.
        {"beyond a span", [] {
             std::vector<uint8_t> v = screenshotRows(3000, 400);
             std::vector<uint8_t> tail = noise(DEFLATE_WINDOW - 5, 9);
             v.insert(v.end(), tail.begin(), tail.end());
             v.insert(v.end(), tail.begin(), tail.end());
             return v;
         }},
    };
    ParseEffort harder;
    harder.blockRounds = 8;
    harder.cutPasses = 3;
    for (const StreamCase& c : cases)
        for (const ParseEffort& effort : {ParseEffort(), harder}) {
            std::vector<uint8_t> data = c.make(), stream;
            int windowBits = smallestWindowBits(data.size());
            parsedZlibStream(data.data(), data.size(), windowBits, effort, 1, &stream);
            ASSERT_FALSE(stream.empty()) << c.name << ": the coder refused its own stream";
            Inflated back = inflateStream(stream);
            EXPECT_EQ(back.failure, "") << c.name;
            EXPECT_EQ(back.windowBits, windowBits) << c.name;
            EXPECT_TRUE(back.data == data) << c.name << ", " << effort.cutPasses << " cut passes";
        }
}

// Spans parsed at once give the stream one at a time gives.
TEST(ParsedDeflate, SameStreamWhateverTheThreads) {
    std::vector<uint8_t> data = screenshotRows(3000, 760);  // over two spans
    ParseEffort quick;
    quick.spanRounds = 1;
    quick.blockRounds = 1;
    quick.maxDepth = 16;
    std::vector<uint8_t> one, three;
    parsedZlibStream(data.data(), data.size(), 15, quick, 1, &one);
    parsedZlibStream(data.data(), data.size(), 15, quick, 3, &three);
    ASSERT_FALSE(one.empty());
    EXPECT_TRUE(one == three);
    EXPECT_TRUE(inflateStream(three).data == data);
}

// The point of the coder: on image data that compresses well it beats the
// strongest whole-buffer level, and it never loses much on noise.
TEST(ParsedDeflate, SmallerThanTheStrongestWholeBufferLevelOnScreenshotRows) {
    for (std::vector<uint8_t> data : {screenshotRows(900, 300), repeated(50000, {9, 9, 9, 1, 2, 3})}) {
        std::vector<uint8_t> parsed, whole;
        parsedZlibStream(data.data(), data.size(), 15, ParseEffort(), 1, &parsed);
        WholeDeflater deflater(WHOLE_DEFLATE_BEST_LEVEL);
        deflater.zlibStream(data.data(), data.size(), 15, &whole);
        EXPECT_LE(parsed.size(), whole.size()) << data.size();
    }
    std::vector<uint8_t> data = noise(40000, 3), parsed;
    parsedZlibStream(data.data(), data.size(), 15, ParseEffort(), 1, &parsed);
    EXPECT_LE(parsed.size(), data.size() + data.size() / 32);
}

// Tiny blocks take the fixed code, larger ones a code of their own: both
// kinds of block must be written right.
TEST(ParsedDeflate, WritesFixedAndDynamicBlocks) {
    struct Case {
        std::vector<uint8_t> data;
        unsigned blockType;
    } cases[] = {{{1, 2, 3, 1, 2, 3, 1, 2, 3}, 1}, {mixedBytes(20000, 4), 2}};
    for (const Case& c : cases) {
        std::vector<uint8_t> stream;
        parsedZlibStream(c.data.data(), c.data.size(), 15, ParseEffort(), 1, &stream);
        ASSERT_GT(stream.size(), 2u);
        EXPECT_EQ((stream[2] >> 1) & 3u, c.blockType) << c.data.size();
        EXPECT_EQ(inflateStream(stream).data, c.data);
    }
}

}  // namespace
