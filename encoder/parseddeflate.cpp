#include "parseddeflate.h"

#include "deflateblocks.h"
#include "deflatematches.h"
#include "deflatesymbols.h"
#include "huffmancode.h"
#include "wholedeflate.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>
#include <thread>

namespace rasterpack {

namespace {

// The input is parsed in spans, to bound the match tables; each span's
// search takes in the window before it, so matches still reach back across
// a span's start.
const size_t SPAN_BYTES = size_t(1) << 20;
// The first rounds price the whole span with one code; its path is then cut
// into blocks at some of this many evenly spaced points.
const size_t SPLIT_CHUNKS = 64;
const size_t MIN_CHUNK_SYMBOLS = 256;
// A round that does not improve on the best path this many times ends a block's rounds.
const int STALE_ROUNDS = 2;

// The price in bits of each literal, each match length (with its extra
// bits) and each distance symbol (with its extra bits).
struct CostModel {
    double literal[256];
    double length[DEFLATE_MAX_MATCH + 1];
    double distance[DISTANCE_SYMBOLS];
};

void fillLengthsAndDistances(const double* litlenBits, const double* distanceBits, CostModel* model) {
    for (int s = 0; s < 256; ++s) model->literal[s] = litlenBits[s];
    for (int l = 0; l < DEFLATE_MIN_MATCH; ++l) model->length[l] = 0;
    for (int l = DEFLATE_MIN_MATCH; l <= DEFLATE_MAX_MATCH; ++l) {
        int s = lengthSymbol(l);
        model->length[l] = litlenBits[s] + lengthExtraBits(s);
    }
    for (int s = 0; s < DISTANCE_SYMBOLS; ++s) model->distance[s] = distanceBits[s] + distanceExtraBits(s);
}

// Each symbol priced at its information content in the counts; one never
// seen costs as much as the rarest could.
void entropyBits(const uint32_t* counts, int n, double* bits) {
    uint64_t total = 0;
    for (int s = 0; s < n; ++s) total += counts[s];
    double logTotal = std::log2(double(std::max<uint64_t>(total, 1)));
    for (int s = 0; s < n; ++s) bits[s] = counts[s] ? logTotal - std::log2(double(counts[s])) : logTotal + 1;
}

void modelFromCounts(const SymbolCounts& counts, CostModel* model) {
    double litlen[LITLEN_SYMBOLS], distance[DISTANCE_SYMBOLS];
    entropyBits(counts.litlen, LITLEN_SYMBOLS, litlen);
    entropyBits(counts.distance, DISTANCE_SYMBOLS, distance);
    fillLengthsAndDistances(litlen, distance, model);
}

struct PathScratch {
    std::vector<double> cost;
    std::vector<ParsedSymbol> step;  // the symbol that reaches each position
};

// Whether the position and the one before both have a longest match of
// the longest length at the same distance.
bool insideLongRepeat(const MatchTable& table, size_t k) {
    if (k == 0) return false;
    uint32_t last = table.first[k + 1], previousLast = table.first[k];
    if (last == previousLast || previousLast == table.first[k - 1]) return false;
    const MatchCandidate& a = table.candidates[last - 1];
    const MatchCandidate& b = table.candidates[previousLast - 1];
    return a.length == DEFLATE_MAX_MATCH && b.length == DEFLATE_MAX_MATCH && a.distance == b.distance;
}

// The cheapest path under the model from position from to position to,
// each match cut short of to.
void cheapestPath(const uint8_t* data, const MatchTable& table, size_t from, size_t to, const CostModel& model,
                  PathScratch* scratch, std::vector<ParsedSymbol>* symbols) {
    size_t n = to - from;
    scratch->cost.assign(n + 1, HUGE_VAL);
    scratch->step.resize(n + 1);
    double* cost = scratch->cost.data();
    ParsedSymbol* step = scratch->step.data();
    cost[0] = 0;
    for (size_t r = 0; r < n; ++r) {
        size_t i = from + r;
        double here = cost[r];
        double literal = here + model.literal[data[i]];
        if (literal < cost[r + 1]) {
            cost[r + 1] = literal;
            step[r + 1] = ParsedSymbol{data[i], 0};
        }
        size_t k = i - table.start;
        size_t room = n - r, previous = DEFLATE_MIN_MATCH - 1;
        uint32_t c = table.first[k], end = table.first[k + 1];
        if (insideLongRepeat(table, k) && room >= size_t(DEFLATE_MAX_MATCH)) {
            // Inside a long repeat each position is a whole match away from
            // one a match back: the lengths between gain next to nothing.
            for (; c < end; ++c) {
                const MatchCandidate& m = table.candidates[c];
                double price = here + model.distance[distanceSymbol(m.distance)] + model.length[m.length];
                if (price < cost[r + m.length]) {
                    cost[r + m.length] = price;
                    step[r + m.length] = ParsedSymbol{m.length, m.distance};
                }
            }
            continue;
        }
        for (; c < end; ++c) {
            const MatchCandidate& m = table.candidates[c];
            size_t longest = std::min(size_t(m.length), room);
            if (longest <= previous) break;
            double base = here + model.distance[distanceSymbol(m.distance)];
            for (size_t l = previous + 1; l <= longest; ++l) {
                double price = base + model.length[l];
                if (price < cost[r + l]) {
                    cost[r + l] = price;
                    step[r + l] = ParsedSymbol{uint16_t(l), m.distance};
                }
            }
            previous = longest;
        }
    }
    symbols->clear();
    for (size_t r = n; r > 0;) {
        const ParsedSymbol& s = step[r];
        symbols->push_back(s);
        r -= s.distance ? s.litlen : 1;
    }
    std::reverse(symbols->begin(), symbols->end());
}

size_t symbolSpan(const ParsedSymbol& s) { return s.distance ? s.litlen : 1; }

struct Coder {
    const uint8_t* data;
    const ParseEffort& effort;
    MatchTable table;
    PathScratch path;
    HuffmanScratch huffman;
};

// Rounds of pricing the path by the code its predecessor would get, from
// *best's own code; *best ends as the cheapest path seen. Returns its size
// in bits as a block.
uint64_t refinePath(Coder* coder, size_t from, size_t to, int rounds, std::vector<ParsedSymbol>* best) {
    SymbolCounts counts;
    countSymbols(best->data(), best->size(), &counts);
    uint64_t bestBits = blockBits(counts, &coder->huffman);
    std::vector<ParsedSymbol> path;
    CostModel model;
    for (int round = 0, stale = 0; round < rounds && stale < STALE_ROUNDS; ++round) {
        modelFromCounts(counts, &model);
        cheapestPath(coder->data, coder->table, from, to, model, &coder->path, &path);
        countSymbols(path.data(), path.size(), &counts);
        uint64_t bits = blockBits(counts, &coder->huffman);
        if (bits < bestBits) {
            bestBits = bits;
            best->swap(path);
            stale = 0;
        } else {
            ++stale;
        }
    }
    return bestBits;
}

SymbolCounts countsBetween(const std::vector<SymbolCounts>& prefix, size_t a, size_t b) {
    SymbolCounts c;
    for (int s = 0; s < LITLEN_SYMBOLS; ++s) c.litlen[s] = prefix[b].litlen[s] - prefix[a].litlen[s];
    for (int s = 0; s < DISTANCE_SYMBOLS; ++s) c.distance[s] = prefix[b].distance[s] - prefix[a].distance[s];
    c.extraBits = prefix[b].extraBits - prefix[a].extraBits;
    c.litlen[DEFLATE_END_OF_BLOCK] = 1;
    return c;
}

// The symbol indexes where blocks should end: of the evenly spaced cut
// points, the set that makes the blocks' total size least.
std::vector<size_t> blockEnds(const std::vector<ParsedSymbol>& symbols, Coder* coder) {
    size_t chunks = std::max<size_t>(1, std::min(SPLIT_CHUNKS, symbols.size() / MIN_CHUNK_SYMBOLS));
    std::vector<size_t> cut(chunks + 1);
    for (size_t k = 0; k <= chunks; ++k) cut[k] = symbols.size() * k / chunks;
    std::vector<SymbolCounts> prefix(chunks + 1);
    SymbolCounts running;
    for (size_t k = 0; k < chunks; ++k) {
        for (size_t i = cut[k]; i < cut[k + 1]; ++i) addSymbol(symbols[i], &running);
        prefix[k + 1] = running;
    }
    std::vector<uint64_t> best(chunks + 1, UINT64_MAX);
    std::vector<size_t> from(chunks + 1, 0);
    best[0] = 0;
    for (size_t j = 1; j <= chunks; ++j)
        for (size_t i = 0; i < j; ++i) {
            uint64_t bits = best[i] + blockBits(countsBetween(prefix, i, j), &coder->huffman);
            if (bits < best[j]) {
                best[j] = bits;
                from[j] = i;
            }
        }
    std::vector<size_t> ends;
    for (size_t j = chunks; j > 0; j = from[j]) ends.push_back(cut[j]);
    std::reverse(ends.begin(), ends.end());
    return ends;
}

// The longest match wherever there is one, deferred by a literal when the
// next position has a longer one: a quick first path whose code prices the
// first round better than the fixed code does.
void greedyPath(const uint8_t* data, const MatchTable& table, size_t from, size_t to,
                std::vector<ParsedSymbol>* symbols) {
    auto longestAt = [&](size_t i) {
        size_t k = i - table.start;
        if (table.first[k] == table.first[k + 1]) return MatchCandidate{0, 0};
        MatchCandidate m = table.candidates[table.first[k + 1] - 1];
        m.length = uint16_t(std::min(size_t(m.length), to - i));
        return m;
    };
    symbols->clear();
    for (size_t i = from; i < to;) {
        MatchCandidate m = longestAt(i);
        if (m.length < DEFLATE_MIN_MATCH || (i + 1 < to && longestAt(i + 1).length > m.length)) {
            symbols->push_back(ParsedSymbol{data[i], 0});
            ++i;
        } else {
            symbols->push_back(ParsedSymbol{m.length, m.distance});
            i += m.length;
        }
    }
}

// A span's path cut into blocks, each priced again on its own.
struct SpanBlocks {
    std::vector<std::vector<ParsedSymbol>> blocks;
    uint64_t bits = 0;
};

SpanBlocks cutAndRefine(Coder* coder, const std::vector<ParsedSymbol>& span, size_t from) {
    SpanBlocks result;
    size_t symbol = 0, position = from;
    for (size_t end : blockEnds(span, coder)) {
        size_t start = position;
        std::vector<ParsedSymbol> block(span.begin() + long(symbol), span.begin() + long(end));
        for (const ParsedSymbol& s : block) position += symbolSpan(s);
        symbol = end;
        result.bits += refinePath(coder, start, position, coder->effort.blockRounds, &block);
        result.blocks.push_back(std::move(block));
    }
    return result;
}

// Parses, cuts and writes the span [from, to) of the data. Blocks priced
// on their own parse differently, which may move the best cuts: further
// passes cut the joined blocks again while that pays.
SpanBlocks parseSpan(Coder* coder, size_t from, size_t to) {
    std::vector<ParsedSymbol> span;
    greedyPath(coder->data, coder->table, from, to, &span);
    refinePath(coder, from, to, coder->effort.spanRounds, &span);
    SpanBlocks best = cutAndRefine(coder, span, from);
    for (int pass = 1; pass < coder->effort.cutPasses; ++pass) {
        span.clear();
        for (const std::vector<ParsedSymbol>& block : best.blocks) span.insert(span.end(), block.begin(), block.end());
        SpanBlocks again = cutAndRefine(coder, span, from);
        if (again.bits >= best.bits) break;
        best = std::move(again);
    }
    return best;
}

// Each span is searched and parsed on its own, its search first taking in
// the window before it: no match reaches further back, so the spans can be
// parsed at once, and the stream is the same whatever the number of threads.
SpanBlocks searchAndParseSpan(const uint8_t* data, size_t size, size_t from, size_t to, const ParseEffort& effort) {
    Coder coder{data, effort, MatchTable(), PathScratch(), HuffmanScratch()};
    MatchFinder finder(data, size, effort.maxDepth);
    finder.find(from > size_t(DEFLATE_WINDOW) ? from - DEFLATE_WINDOW : 0, from, &coder.table);
    finder.find(from, to, &coder.table);
    return parseSpan(&coder, from, to);
}

// Parses up to threads spans at a time, then writes them in order; a
// thread that runs out of memory ends the stream with bad_alloc.
void codeSpans(const uint8_t* data, size_t size, const ParseEffort& effort, int threads, BitWriter* out) {
    const size_t spanCount = (size + SPAN_BYTES - 1) / SPAN_BYTES;
    const size_t batch = size_t(std::max(1, threads));
    HuffmanScratch huffman;
    for (size_t first = 0; first < spanCount; first += batch) {
        size_t count = std::min(batch, spanCount - first);
        std::vector<SpanBlocks> parsed(count);
        std::vector<char> failed(count, 0);
        auto parse = [&](size_t k) {
            size_t from = (first + k) * SPAN_BYTES;
            try {
                parsed[k] = searchAndParseSpan(data, size, from, std::min(size, from + SPAN_BYTES), effort);
            } catch (const std::exception&) {  // bad_alloc, or length_error from a vector
                failed[k] = 1;
            }
        };
        std::vector<std::thread> helpers;
        for (size_t k = 1; k < count; ++k) helpers.emplace_back(parse, k);
        parse(0);
        for (std::thread& t : helpers) t.join();
        if (std::find(failed.begin(), failed.end(), 1) != failed.end()) throw std::bad_alloc();
        for (size_t k = 0; k < count; ++k)
            for (size_t b = 0; b < parsed[k].blocks.size(); ++b) {
                const std::vector<ParsedSymbol>& block = parsed[k].blocks[b];
                bool last = first + k + 1 == spanCount && b + 1 == parsed[k].blocks.size();
                writeBlock(block.data(), block.size(), last, out, &huffman);
            }
    }
}

void appendBigEndian32(uint32_t v, std::vector<uint8_t>* out) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(v >> shift));
}

// The coder is new; a stream that does not inflate to the data is dropped
// rather than written.
bool inflatesTo(const std::vector<uint8_t>& stream, const uint8_t* data, size_t size) {
    z_stream z = {};
    if (inflateInit(&z) != Z_OK) return false;
    std::vector<uint8_t> back(std::min<size_t>(size, size_t(1) << 20) + 1);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    size_t done = 0;
    int status = Z_OK;
    bool same = true;
    while (same && status == Z_OK) {
        z.next_out = back.data();
        z.avail_out = uInt(back.size());
        status = inflate(&z, Z_NO_FLUSH);
        size_t got = back.size() - z.avail_out;
        same = done + got <= size && (got == 0 || memcmp(back.data(), data + done, got) == 0);
        done += got;
        if (status == Z_BUF_ERROR && got > 0) status = Z_OK;
    }
    inflateEnd(&z);
    return same && status == Z_STREAM_END && done == size && z.avail_in == 0;
}

}  // namespace

void parsedZlibStream(const uint8_t* data, size_t size, int windowBits, const ParseEffort& effort, int threads,
                      std::vector<uint8_t>* out) {
    out->clear();
    if (size > size_t(INT32_MAX)) return;  // the match search's positions are 31-bit
    out->push_back(0x78);
    out->push_back(0xda);
    declareZlibWindow(out->data(), windowBits);
    BitWriter bits(out);
    if (size == 0) {
        const std::vector<ParsedSymbol> none;
        HuffmanScratch huffman;
        writeBlock(none.data(), 0, true, &bits, &huffman);
    }
    codeSpans(data, size, effort, threads, &bits);
    bits.finish();
    appendBigEndian32(uint32_t(adler32_z(adler32(0, nullptr, 0), data, size)), out);
    if (!inflatesTo(*out, data, size)) out->clear();
}

}  // namespace rasterpack
