#include "pngread.h"

#include "textchunks.h"

#include <orrim.h>
#include <pngrecovery.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace {

// A libpng error jumps across the frames between the recovery point and
// libpng: they may hold plain data only.
static_assert(std::is_trivially_destructible<DecodedPng>::value, "the decoded image must be plain data");

const size_t SIGNATURE_CHECKED = 4;
// The tallest image taken: height x 4 bytes of row pointers must fit in 32 bits.
const uint32_t MAX_HEIGHT = (1u << 30) - 1;
// The most libpng may allocate at once. Its own buffers are a row or a
// chunk other than IDAT (a row is at most 8 MB within libpng's width limit);
// a chunk claiming more is refused before the allocation, so that a few bytes
// claiming a 2 GiB text chunk cost nothing. libpng only warns of a chunk
// over the limit it is told, hence the allocator that holds to it.
const png_alloc_size_t MAX_CHUNK_BYTES = png_alloc_size_t(64) << 20;

png_voidp boundedMalloc(png_structp, png_alloc_size_t size) {
    return size > MAX_CHUNK_BYTES ? nullptr : malloc(size);
}

void boundedFree(png_structp, png_voidp p) { free(p); }

// The conversion the recovery point releases.
DecodedPng* activeDecode = nullptr;

[[noreturn]] void failAllocation(DecodedPng* d) { abandonDecodedPng(d, "couldn't allocate space for image"); }

void checkSignature(DecodedPng* d) {
    png_byte signature[SIGNATURE_CHECKED];
    bool complete = fread(signature, 1, SIGNATURE_CHECKED, d->input) == SIGNATURE_CHECKED;
    if (complete && png_sig_cmp(signature, 0, SIGNATURE_CHECKED) == 0) return;
    pm_closer(d->input);
    d->input = nullptr;
    pm_error(complete ? "input file is not a PNG file" : "input file is empty or too short");
}

void createStructures(DecodedPng* d) {
    d->recovery.program = "rasterunpack";
    d->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &d->recovery, reportLibpngError, reportLibpngWarning,
                                      nullptr, boundedMalloc, boundedFree);
    if (!d->png) {
        pm_closer(d->input);
        d->input = nullptr;
        pm_error("cannot allocate main libpng structure (png_ptr)");
    }
    d->info = png_create_info_struct(d->png);
    if (!d->info) {
        png_destroy_read_struct(&d->png, nullptr, nullptr);
        pm_closer(d->input);
        d->input = nullptr;
        pm_error("cannot allocate LIBPNG structures");
    }
    png_set_chunk_malloc_max(d->png, MAX_CHUNK_BYTES);
}

// Keeps the last four bytes read, whatever the sizes of the reads.
void rememberLastRead(DecodedPng* d, const png_byte* data, size_t length) {
    if (length >= sizeof d->lastRead) {
        memcpy(d->lastRead, data + length - sizeof d->lastRead, sizeof d->lastRead);
        return;
    }
    memmove(d->lastRead, d->lastRead + length, sizeof d->lastRead - length);
    memcpy(d->lastRead + sizeof d->lastRead - length, data, length);
}

// libpng's reads come through here, so that a chunk's CRC is at hand.
void readInput(png_structp png, png_bytep data, size_t length) {
    DecodedPng* d = static_cast<DecodedPng*>(png_get_io_ptr(png));
    if (fread(data, 1, length, d->input) != length) png_error(png, "Read Error");
    rememberLastRead(d, data, length);
}

// libpng warns of a wrong CRC in a chunk it hands to the callback, but hands
// it over all the same: the CRC it has just read is checked here.
bool crcMatches(const DecodedPng& d, const png_unknown_chunk& chunk) {
    uLong crc = crc32(0, chunk.name, 4);
    for (size_t done = 0; done < chunk.size;) {
        uInt part = uInt(std::min<size_t>(chunk.size - done, 1u << 30));
        crc = crc32(crc, chunk.data + done, part);
        done += part;
    }
    const uint8_t* b = d.lastRead;
    uint32_t stored = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return crc == stored;
}

void keepTextChunk(DecodedPng* d, const char* type, const png_unknown_chunk& chunk) {
    if (d->textChunksLeft == 0) {
        if (!d->textChunksCut) pm_message("warning - text chunks after the first %d skipped", MAX_TEXT_CHUNKS);
        d->textChunksCut = true;
        return;
    }
    --d->textChunksLeft;
    DecodedText text;
    TextChunkOutcome outcome = decodeTextChunk(type, chunk.data, chunk.size, d->textBytesLeft, &text);
    if (outcome != TEXT_KEPT) {
        pm_message("warning - %s chunk skipped: %s", type, textOutcomeReason(outcome));
        return;
    }
    // png_set_text copies the text; it may raise a libpng error, and the
    // release frees what is pending then.
    d->pendingText = text.buffer;
    png_set_text(d->png, d->info, &text.entry, 1);
    free(d->pendingText);
    d->pendingText = nullptr;
    d->textBytesLeft -= text.length;
}

// libpng hands every chunk it treats as unknown to this callback, which
// keeps the text chunks. Each is handled (1): libpng keeps nothing itself.
int collectTextChunk(png_structp png, png_unknown_chunkp chunk) {
    DecodedPng* d = static_cast<DecodedPng*>(png_get_user_chunk_ptr(png));
    const char* type = reinterpret_cast<const char*>(chunk->name);
    if (isTextChunk(type) && crcMatches(*d, *chunk)) keepTextChunk(d, type, *chunk);
    return 1;
}

// Text chunks bypass libpng's own handlers, which inflate every zTXt and
// iTXt with no bound on the total and lose their place in the file on a tEXt
// over the allocation limit. Without -text they are skipped unread; with it
// they come to collectTextChunk (a chunk over the limit is skipped, with
// libpng's warning).
void chooseTextHandling(DecodedPng* d, bool wanted) {
    static const png_byte TEXT_CHUNK_NAMES[] = "tEXt\0zTXt\0iTXt";
    png_set_keep_unknown_chunks(d->png, PNG_HANDLE_CHUNK_NEVER, TEXT_CHUNK_NAMES, 3);
    if (!wanted) return;
    d->textBytesLeft = MAX_TEXT_BYTES;
    d->textChunksLeft = MAX_TEXT_CHUNKS;
    png_set_read_user_chunk_fn(d->png, d, collectTextChunk);
}

void readHeaderFacts(png_structp png, png_infop info, HeaderFacts* f) {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    f->width = width;
    f->height = height;
    f->bitDepth = depth;
    f->colorType = colorType;
    f->interlaceMethod = interlace;

    png_colorp palette = nullptr;
    int paletteCount = 0;
    if (png_get_PLTE(png, info, &palette, &paletteCount) && palette) {
        f->paletteCount = paletteCount < 0 ? 0 : paletteCount > MAX_PALETTE_ENTRIES ? MAX_PALETTE_ENTRIES : paletteCount;
        for (int i = 0; i < f->paletteCount; ++i) f->palette[i] = {palette[i].red, palette[i].green, palette[i].blue};
    }

    png_bytep trnsAlpha = nullptr;
    int trnsCount = 0;
    png_color_16p trnsColor = nullptr;
    if (png_get_tRNS(png, info, &trnsAlpha, &trnsCount, &trnsColor)) {
        f->hasTrns = true;
        if (colorType == PNG_COLOR_TYPE_PALETTE && trnsAlpha) {
            f->trnsCount = trnsCount < 0 ? 0 : trnsCount > MAX_PALETTE_ENTRIES ? MAX_PALETTE_ENTRIES : trnsCount;
            memcpy(f->trnsAlpha, trnsAlpha, size_t(f->trnsCount));
        }
        if (trnsColor) {
            f->trnsGrey = trnsColor->gray;
            f->trnsColor = {trnsColor->red, trnsColor->green, trnsColor->blue};
        }
    }

    png_color_16p background = nullptr;
    if (png_get_bKGD(png, info, &background) && background) {
        f->hasBkgd = true;
        f->bkgdIndex = background->index;
        f->bkgdGrey = background->gray;
        f->bkgdColor = {background->red, background->green, background->blue};
    }

    double gamma = 0.0;
    if (png_get_gAMA(png, info, &gamma)) {
        f->hasGama = true;
        f->imageGamma = static_cast<float>(gamma);
    }

    png_color_8p sbit = nullptr;
    if (png_get_sBIT(png, info, &sbit) && sbit) {
        f->hasSbit = true;
        f->sbit = {sbit->red, sbit->green, sbit->blue, sbit->gray, sbit->alpha};
    }

    png_uint_32 physX = 0, physY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &physX, &physY, &unit)) {
        f->hasPhys = true;
        f->physX = physX;
        f->physY = physY;
    }
}

// Bytes of one row as stored: width x channels x depth bits, rounded up to
// whole bytes. A 1-bit image costs its bits, not a byte a pixel.
bool storedRowBytes(const HeaderFacts& f, size_t* bytes) {
    uint64_t channels = f.colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                        : f.colorType == PNG_COLOR_TYPE_RGB     ? 3
                        : f.colorType == PNG_COLOR_TYPE_GA      ? 2
                                                                : 1;
    uint64_t bits = uint64_t(f.width) * channels * uint64_t(f.bitDepth);  // below 2^39
    uint64_t whole = (bits + 7) / 8;
    if (whole > SIZE_MAX) return false;
    *bytes = size_t(whole);
    return true;
}

void printPlanNotes(const DecodePlan& plan, bool verbose) {
    for (int i = 0; i < plan.noteCount; ++i)
        if (verbose || plan.notes[i].always) pm_message("%s", plan.notes[i].text);
}

// Reads every pass, the samples as stored. A row's buffer is allocated when
// the first pass that touches it comes, so a file that claims a large image
// but ends early has cost only the rows its data reached. The buffers start
// zeroed: a later pass merges its pixels into bytes an earlier one wrote.
void readImageRows(DecodedPng* d, size_t allocBytes) {
    int passes = png_set_interlace_handling(d->png);
    png_read_update_info(d->png, d->info);
    size_t libpngRowBytes = png_get_rowbytes(d->png, d->info);
    if (libpngRowBytes > allocBytes) allocBytes = libpngRowBytes;
    uint32_t width = d->facts.width;
    for (int pass = 0; pass < passes; ++pass) {
        bool interlaced = passes > 1;
        bool passHasColumns = !interlaced || PNG_PASS_COLS(width, pass) > 0;
        for (uint32_t y = 0; y < d->facts.height; ++y) {
            bool touched = passHasColumns && (!interlaced || PNG_ROW_IN_INTERLACE_PASS(y, pass));
            if (touched && !d->rows[y]) {
                d->rows[y] = static_cast<uint8_t*>(calloc(allocBytes ? allocBytes : 1, 1));
                if (!d->rows[y]) failAllocation(d);
            }
            png_read_row(d->png, d->rows[y], nullptr);
        }
    }
    png_read_end(d->png, d->info);
}

void decideConversion(DecodedPng* d, const DecoderSettings& settings) {
    if (displayGammaRefused(d->facts, settings)) {
        char message[NOTE_SIZE];
        snprintf(message, sizeof message,
                 "-gamma 0 applies only to a PNG without gAMA; this one has an image gamma of %.5g",
                 double(d->facts.imageGamma));
        abandonDecodedPng(d, message);
    }
    d->plan = planConversion(d->facts, settings);
    printPlanNotes(d->plan, settings.verbose);
    if (settings.backgroundColor) {
        Pixel p = ppm_parsecolor(settings.backgroundColor, d->plan.maxval);
        overrideBackground(&d->plan, d->facts.colorType, p.r, p.g, p.b);
    }
}

}  // namespace

void decodePng(FILE* input, const DecoderSettings& settings, DecodedPng* d) {
    d->input = input;
    checkSignature(d);
    createStructures(d);

    activeDecode = d;
    d->recovery.armed = true;
    if (setjmp(d->recovery.point)) abandonDecodedPng(activeDecode, "setjmp returns error condition");

    png_set_read_fn(d->png, d, readInput);
    png_set_sig_bytes(d->png, SIGNATURE_CHECKED);
    chooseTextHandling(d, settings.textFile != nullptr);
    png_read_info(d->png, d->info);
    readHeaderFacts(d->png, d->info, &d->facts);

    if (settings.verbose) {
        char description[2][NOTE_SIZE];
        describeHeader(d->facts, description);
        pm_message("%s", description[0]);
        pm_message("%s", description[1]);
    }

    size_t rowBytes = 0;
    if (d->facts.height > MAX_HEIGHT || !storedRowBytes(d->facts, &rowBytes)) failAllocation(d);
    d->rowBytes = rowBytes;
    d->rows = static_cast<uint8_t**>(calloc(d->facts.height ? d->facts.height : 1, sizeof(uint8_t*)));
    if (!d->rows) failAllocation(d);

    decideConversion(d, settings);
    readImageRows(d, rowBytes);
    d->recovery.armed = false;
    activeDecode = nullptr;
}

const png_time* modificationTime(const DecodedPng& d) {
    png_timep time = nullptr;
    if (!png_get_tIME(d.png, d.info, &time)) return nullptr;
    return time;
}

int textChunks(const DecodedPng& d, png_text** texts) {
    int count = 0;
    *texts = nullptr;
    png_get_text(d.png, d.info, texts, &count);
    return *texts ? count : 0;
}

void releaseDecodedPng(DecodedPng* d) {
    d->recovery.armed = false;
    free(d->pendingText);
    d->pendingText = nullptr;
    if (d->rows) {
        for (uint32_t y = 0; y < d->facts.height; ++y) free(d->rows[y]);
        free(d->rows);
        d->rows = nullptr;
    }
    if (d->png) png_destroy_read_struct(&d->png, d->info ? &d->info : nullptr, nullptr);
    d->png = nullptr;
    d->info = nullptr;
}

void abandonDecodedPng(DecodedPng* d, const char* message) {
    releaseDecodedPng(d);
    if (d->input) pm_closer(d->input);
    d->input = nullptr;
    pm_error("%s", message);
}
