#include "pngread.h"

#include "textchunks.h"

#include <orrim.h>
#include <pngrecovery.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace rasterunpack {

namespace {

// A libpng error jumps across the frames between the recovery point and
// libpng: they may hold plain data only.
static_assert(std::is_trivially_destructible<PngReadSession>::value, "the read session must be plain data");
static_assert(std::is_trivially_destructible<HeaderFacts>::value && std::is_trivially_destructible<DecodePlan>::value &&
                  std::is_trivially_destructible<StoredRows>::value,
              "what the read fills must be plain data");

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

[[noreturn]] void failAllocation() { pm_error("couldn't allocate space for image"); }

void checkSignature(FILE* input) {
    png_byte signature[SIGNATURE_CHECKED];
    bool complete = fread(signature, 1, SIGNATURE_CHECKED, input) == SIGNATURE_CHECKED;
    if (complete && png_sig_cmp(signature, 0, SIGNATURE_CHECKED) == 0) return;
    pm_error(complete ? "input file is not a PNG file" : "input file is empty or too short");
}

// What is created here the image's release destroys, however far this got.
void createStructures(PngReadSession* s) {
    s->recovery.program = "rasterunpack";
    s->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &s->recovery, reportLibpngError, reportLibpngWarning,
                                      nullptr, boundedMalloc, boundedFree);
    if (!s->png) pm_error("cannot allocate main libpng structure (png_ptr)");
    s->info = png_create_info_struct(s->png);
    if (!s->info) pm_error("cannot allocate LIBPNG structures");
    png_set_chunk_malloc_max(s->png, MAX_CHUNK_BYTES);
}

// Keeps the last four bytes read, whatever the sizes of the reads.
void rememberLastRead(PngReadSession* s, const png_byte* data, size_t length) {
    if (length >= sizeof s->lastRead) {
        memcpy(s->lastRead, data + length - sizeof s->lastRead, sizeof s->lastRead);
        return;
    }
    memmove(s->lastRead, s->lastRead + length, sizeof s->lastRead - length);
    memcpy(s->lastRead + sizeof s->lastRead - length, data, length);
}

// libpng's reads come through here, so that a chunk's CRC is at hand.
void readInput(png_structp png, png_bytep data, size_t length) {
    PngReadSession* s = static_cast<PngReadSession*>(png_get_io_ptr(png));
    if (fread(data, 1, length, s->input) != length) png_error(png, "Read Error");
    rememberLastRead(s, data, length);
}

// libpng warns of a wrong CRC in a chunk it hands to the callback, but hands
// it over all the same: the CRC it has just read is checked here.
bool crcMatches(const PngReadSession& s, const png_unknown_chunk& chunk) {
    uLong crc = crc32(0, chunk.name, 4);
    for (size_t done = 0; done < chunk.size;) {
        uInt part = uInt(std::min<size_t>(chunk.size - done, 1u << 30));
        crc = crc32(crc, chunk.data + done, part);
        done += part;
    }
    const uint8_t* b = s.lastRead;
    uint32_t stored = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return crc == stored;
}

void keepTextChunk(PngReadSession* s, const char* type, const png_unknown_chunk& chunk) {
    if (s->textChunksLeft == 0) {
        if (!s->textChunksCut) pm_message("warning - text chunks after the first %d skipped", MAX_TEXT_CHUNKS);
        s->textChunksCut = true;
        return;
    }
    --s->textChunksLeft;
    DecodedText text;
    TextChunkOutcome outcome = decodeTextChunk(type, chunk.data, chunk.size, s->textBytesLeft, &text);
    if (outcome != TEXT_KEPT) {
        pm_message("warning - %s chunk skipped: %s", type, textOutcomeReason(outcome));
        return;
    }
    // png_set_text copies the text; it may raise a libpng error, and the
    // image's release frees what is pending then.
    s->pendingText = text.buffer;
    png_set_text(s->png, s->info, &text.entry, 1);
    free(s->pendingText);
    s->pendingText = nullptr;
    s->textBytesLeft -= text.length;
}

// libpng hands every chunk it treats as unknown to this callback, which
// keeps the text chunks. Each is handled (1): libpng keeps nothing itself.
int collectTextChunk(png_structp png, png_unknown_chunkp chunk) {
    PngReadSession* s = static_cast<PngReadSession*>(png_get_user_chunk_ptr(png));
    const char* type = reinterpret_cast<const char*>(chunk->name);
    if (isTextChunk(type) && crcMatches(*s, *chunk)) keepTextChunk(s, type, *chunk);
    return 1;
}

// Text chunks bypass libpng's own handlers, which inflate every zTXt and
// iTXt with no bound on the total and lose their place in the file on a tEXt
// over the allocation limit. Without -text they are skipped unread; with it
// they come to collectTextChunk (a chunk over the limit is skipped, with
// libpng's warning).
void chooseTextHandling(PngReadSession* s, bool wanted) {
    static const png_byte TEXT_CHUNK_NAMES[] = "tEXt\0zTXt\0iTXt";
    png_set_keep_unknown_chunks(s->png, PNG_HANDLE_CHUNK_NEVER, TEXT_CHUNK_NAMES, 3);
    if (!wanted) return;
    s->textBytesLeft = MAX_TEXT_BYTES;
    s->textChunksLeft = MAX_TEXT_CHUNKS;
    png_set_read_user_chunk_fn(s->png, s, collectTextChunk);
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
void readImageRows(PngReadSession* s, const HeaderFacts& f, StoredRows* rows) {
    int passes = png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    size_t allocBytes = std::max(rows->bytes, size_t(png_get_rowbytes(s->png, s->info)));
    for (int pass = 0; pass < passes; ++pass) {
        bool interlaced = passes > 1;
        bool passHasColumns = !interlaced || PNG_PASS_COLS(f.width, pass) > 0;
        for (uint32_t y = 0; y < f.height; ++y) {
            bool touched = passHasColumns && (!interlaced || PNG_ROW_IN_INTERLACE_PASS(y, pass));
            if (touched && !rows->rows[y]) {
                rows->rows[y] = static_cast<uint8_t*>(calloc(allocBytes ? allocBytes : 1, 1));
                if (!rows->rows[y]) failAllocation();
            }
            png_read_row(s->png, rows->rows[y], nullptr);
        }
    }
    png_read_end(s->png, s->info);
}

// The table of row pointers, all null until the rows are read.
void allocateRowTable(const HeaderFacts& f, StoredRows* rows) {
    size_t rowBytes = 0;
    if (f.height > MAX_HEIGHT || !storedRowBytes(f, &rowBytes)) failAllocation();
    rows->bytes = rowBytes;
    rows->rows = static_cast<uint8_t**>(calloc(f.height ? f.height : 1, sizeof(uint8_t*)));
    if (!rows->rows) failAllocation();
    rows->count = f.height;
}

void releaseRows(StoredRows* rows) {
    if (!rows->rows) return;
    for (uint32_t y = 0; y < rows->count; ++y) free(rows->rows[y]);
    free(rows->rows);
    *rows = StoredRows();
}

void decideConversion(PngImage* image, const DecoderSettings& settings) {
    const HeaderFacts& f = image->facts;
    if (displayGammaRefused(f, settings))
        pm_error("-gamma 0 applies only to a PNG without gAMA; this one has an image gamma of %.5g",
                 double(f.imageGamma));
    image->plan = planConversion(f, settings);
    printPlanNotes(image->plan, settings.verbose);
    if (settings.backgroundColor) {
        Pixel p = ppm_parsecolor(settings.backgroundColor, image->plan.maxval);
        overrideBackground(&image->plan, f.colorType, p.r, p.g, p.b);
    }
}

void readHeader(PngImage* image, const DecoderSettings& settings) {
    PngReadSession* s = &image->session;
    png_set_read_fn(s->png, s, readInput);
    png_set_sig_bytes(s->png, SIGNATURE_CHECKED);
    chooseTextHandling(s, settings.textFile != nullptr);
    png_read_info(s->png, s->info);
    readHeaderFacts(s->png, s->info, &image->facts);
    if (settings.verbose) {
        char description[2][NOTE_SIZE];
        describeHeader(image->facts, description);
        pm_message("%s", description[0]);
        pm_message("%s", description[1]);
    }
}

}  // namespace

void readPngImage(FILE* input, const DecoderSettings& settings, PngImage* image) {
    PngReadSession* s = &image->session;
    s->input = input;
    checkSignature(input);
    createStructures(s);

    // From here every libpng error comes back to this point, across frames
    // that hold plain data only; what the image holds is released by its
    // owner as the fatal line unwinds (or left to the exit).
    s->recovery.armed = true;
    if (setjmp(s->recovery.point)) pm_error("setjmp returns error condition");

    readHeader(image, settings);
    allocateRowTable(image->facts, &image->rows);
    decideConversion(image, settings);
    readImageRows(s, image->facts, &image->rows);
    s->recovery.armed = false;
}

PngImage::~PngImage() {
    session.recovery.armed = false;
    free(session.pendingText);
    releaseRows(&rows);
    if (session.png) png_destroy_read_struct(&session.png, session.info ? &session.info : nullptr, nullptr);
}

const png_time* modificationTime(const PngImage& image) {
    png_timep time = nullptr;
    if (!png_get_tIME(image.session.png, image.session.info, &time)) return nullptr;
    return time;
}

int textChunks(const PngImage& image, png_text** texts) {
    int count = 0;
    *texts = nullptr;
    png_get_text(image.session.png, image.session.info, texts, &count);
    return *texts ? count : 0;
}

}  // namespace rasterunpack
