// orrim.h - the suite's PNM library: messages, option matching, streams,
// PBM/PGM/PPM reading and writing, colour parsing, histograms and colour hashes.
//
// Every failure ends the process through pm_error with one line naming what
// was wrong and exit status 1; no call returns an error code unless it says so.
#ifndef ORRIM_H
#define ORRIM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// ---------------------------------------------------------------------------
// Data model

// One sample. Plain PGM/PPM may carry maxvals up to 4294967295; raw formats
// and everything the writers produce in raw form stop at 65535.
typedef uint32_t Sample;

// A pixel: red, green, blue. Grey and bit images keep their value in blue.
struct Pixel {
    Sample r, g, b;
};
typedef Pixel Xel;

inline bool operator==(const Pixel& a, const Pixel& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
inline bool operator!=(const Pixel& a, const Pixel& b) { return !(a == b); }

const Sample PPM_OVERALLMAXVAL = 65535;

// Largest width or height the readers accept (2^27 - 1): small enough that a
// row's byte count stays well inside an int even at 16 bytes a pixel.
const int PNM_MAX_DIMENSION = 0x7FFFFFF;

// Format codes: 'P' * 256 + the magic digit.
const int PBM_FORMAT = 0x5031;
const int PGM_FORMAT = 0x5032;
const int PPM_FORMAT = 0x5033;
const int RPBM_FORMAT = 0x5034;
const int RPGM_FORMAT = 0x5035;
const int RPPM_FORMAT = 0x5036;

// PAM (magic P7) codes, one per tuple type: 'P' * 256 + '7', plus 0x10000
// times the tuple type's place in this list. PAM is always raw: samples of 1
// byte, or 2 big-endian above maxval 255, DEPTH samples a pixel, the alpha
// sample last. A BLACKANDWHITE sample is 0 for black and 1 for white, as the
// readers give PBM pixels.
const int PAM_BLACKANDWHITE_FORMAT = 0x15037;
const int PAM_GRAYSCALE_FORMAT = 0x25037;
const int PAM_RGB_FORMAT = 0x35037;
const int PAM_BLACKANDWHITE_ALPHA_FORMAT = 0x45037;
const int PAM_GRAYSCALE_ALPHA_FORMAT = 0x55037;
const int PAM_RGB_ALPHA_FORMAT = 0x65037;

// The plain code of a format's family (PBM_FORMAT, PGM_FORMAT or PPM_FORMAT),
// or -1 for anything that is not a PNM or PAM format code. A PAM code's
// family is that of its colour samples, alpha or not: BLACKANDWHITE is PBM,
// GRAYSCALE PGM, RGB PPM. A caller that decides by family treats an
// alpha-less PAM as the PBM, PGM or PPM of the same samples.
int pnm_formattype(int format);

// Whether format is a PAM code with an alpha sample (the _ALPHA types).
bool pnm_formathasalpha(int format);

// The PAM tuple type of a format ("RGB_ALPHA"): for a PAM code its own, for
// a PNM code that of its family (a PBM is "BLACKANDWHITE"); null for any
// other code.
const char* pnm_tupletype(int format);

// The PAM code for the family of format (any PNM or PAM code), with an alpha
// sample or without: pnm_pamformat(RPGM_FORMAT, true) is
// PAM_GRAYSCALE_ALPHA_FORMAT. An unknown code ends the run.
int pnm_pamformat(int format, bool alpha);

// ---------------------------------------------------------------------------
// Start-up, messages

// Record the program name (base name of argv[0]) and take the library's own
// options out of argv: -quiet (silence pm_message) and -plain (plain output
// from the writers), each recognised only when spelled in full.
void pnm_init(int* argc, char** argv);
void ppm_init(int* argc, char** argv);

// The program name recorded by pnm_init ("orrim" before it).
const char* pm_progname();

// "<program>: <text>\n" on standard error (unless -quiet).
void pm_message(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "<program>: <text>\n" on standard error, then exit status 1.
[[noreturn]] void pm_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "usage: <program> <synopsis>\n" on standard error, then exit status 1.
[[noreturn]] void pm_usage(const char* synopsis);
// text as it may be quoted in a message line: printable ASCII and
// well-formed UTF-8 characters stay; control bytes (ESC, BEL, CR, ...), C1
// controls and bytes that are not well-formed UTF-8 become \xHH, so that
// user text can neither break the line nor act on the terminal.
std::string pm_escapetext(const char* text);
// Installs a function that pm_error and pm_usage call after their line instead
// of exiting; it must not return (a fuzz harness throws from it). Null restores
// the exit. Programs never install one.
void pm_setfatalhandler(void (*handler)());

// ---------------------------------------------------------------------------
// Option matching

// True when arg is a prefix of keyword that is at least minchars long
// (counting the leading hyphen). Case-sensitive; "--name" counts as "-name".
bool pm_keymatch(const char* arg, const char* keyword, int minchars);

// Option table for optParseOptions3.
enum OptType { OPT_END = 0, OPT_FLAG = 1, OPT_STRING = 2 };

struct OptEntry {
    char shortName;          // 0: no one-letter form
    const char* longName;    // without hyphens
    int type;                // OptType
    void* value;             // OPT_STRING: const char** receiving the value; else unused
    unsigned int* specified; // receives the number of times the option was given (0 if absent)
    unsigned int flags;      // reserved, 0
};

struct OptStruct3 {
    bool shortAllowed;   // one-letter options like -x are allowed
    bool allowNegNum;    // an argument like -5 is a plain argument, not an option
    OptEntry* optTable;  // ends with an entry of type OPT_END
    // The program's synopsis, as pm_usage takes it, or null: when given, the
    // line of an option error is followed by the usage line.
    const char* usage = nullptr;
};

// Scan argv for the options of the table: one or two leading hyphens, exact
// names or unambiguous prefixes, string values as the next argument or after
// "=". Sets every presence count, stores values, removes the options from
// argv and lowers argc. "--" ends the options. An unknown or ambiguous option,
// or a missing value, ends the run through pm_error naming it (then, with a
// usage synopsis, the usage line as pm_usage writes it).
void optParseOptions3(int* argc, char** argv, OptStruct3 opt, size_t optStructSize, unsigned long flags);

// ---------------------------------------------------------------------------
// Streams

// "-" is standard input / standard output. Failure to open ends the run
// naming the file and the system's reason.
FILE* pm_openr(const char* name);
FILE* pm_openw(const char* name);
// Like pm_openr, but the stream can always be rewound with pm_seek2. Over a
// pipe or terminal the stream reads only as far as its reader asks (at most
// one 64 KiB buffer ahead), keeping every byte it read in an anonymous
// temporary file (gone once closed) from which rewinds and seeks re-read; so
// an image followed by endless data is read and the run ends. The stream
// returned for "-" need not be stdin, and has no file descriptor of its own.
FILE* pm_openr_seekable(const char* name);
// pm_openr_seekable for a stream already open, such as a caller's standard
// input: f itself when it can be rewound (a regular file, or a stream in
// memory), else a rewindable stream over it as above. That one is the
// caller's to close with pm_closer; closing it leaves f open.
FILE* pm_seekable(FILE* f);

// Standard input is never closed; standard output is flushed and checked but
// left open, so that later messages and writes still work.
void pm_close(FILE* f);   // closes any stream; a write error ends the run
void pm_closer(FILE* f);
void pm_closew(FILE* f);  // flushes; a write error (disk full, closed pipe) ends the run
// Flushes f and checks it as pm_closew does, with the same message, but
// leaves it open: for an output stream the caller owns.
void pm_flushw(FILE* f);

// File position token. size is the token's size in bytes: 4 or 8. A position
// that does not fit the token ends the run.
void pm_tell2(FILE* f, void* token, size_t size);
void pm_seek2(FILE* f, const void* token, size_t size);

// ---------------------------------------------------------------------------
// Memory

// cols elements of size bytes; failure ends the run. Free with pm_freerow.
void* pm_allocrow(int cols, size_t size);
void pm_freerow(void* row);
Xel* pnm_allocrow(int cols);
Pixel* ppm_allocrow(int cols);
// rows pointers to rows of cols elements of size bytes, in one block.
// Rows of no bytes (cols 0) are null pointers, and their array takes address
// space but no memory, however many rows. Free with pm_freearray.
void* pm_allocarray(int cols, int rows, size_t size);
void pm_freearray(void* array, int rows);
void strfree(const char* s);

// v out of 0..maxval brought to 0..newmaxval, rounding to nearest (an exact
// half rounds up): (v * newmaxval + maxval / 2) / maxval in 64 bits, so any
// 32-bit maxval works.
inline Sample pm_rescalesample(Sample v, Sample maxval, Sample newmaxval) {
    return Sample((uint64_t(v) * newmaxval + maxval / 2) / maxval);
}

// Bits needed for maxval (at least 1), and 2^bits - 1.
int pm_maxvaltobits(Sample maxval);
Sample pm_bitstomaxval(int bits);

// ---------------------------------------------------------------------------
// Reading

// Reads the header: magic number, width, height and (not for PBM) maxval.
// Zero dimensions are valid. Maxval must be 1..65535 for raw formats and
// 1..4294967295 for plain PGM/PPM. PBM reports maxval 1.
// A PAM without alpha (tuple type BLACKANDWHITE, GRAYSCALE or RGB) is read
// too, reporting its PAM code, whose family is that of the PBM, PGM or PPM of
// the same samples; every reader below then gives exactly what that image
// gives. A PAM with alpha ends the run naming its tuple type (its
// transparency would be lost): programs that take alpha use pnm_readpaminit.
void pnm_readpnminit(FILE* f, int* cols, int* rows, Sample* maxval, int* format);
// Like pnm_readpnminit, and a PAM with alpha is read as well (format is then
// one of the _ALPHA codes).
// PAM header: the line "P7", then lines WIDTH, HEIGHT, DEPTH, MAXVAL and
// TUPLTYPE, each exactly once and in any order, then ENDHDR; the raster
// starts right after ENDHDR's newline. Comment lines (starting with '#') and
// blank lines may come between; white space around keywords and values is
// ignored. WIDTH and HEIGHT are 0..134217727, MAXVAL 1..65535 (1 for the
// BLACKANDWHITE types), DEPTH must be the tuple type's (1, 1, 3, 2, 2, 4 in
// the order of the codes above), and any other tuple type or keyword is
// refused. A line other than a comment holds at most 256 bytes; comments and
// blank lines share the budget of 1048576 bytes below, so a header from a
// pipe is read only to its ENDHDR and never endlessly.
void pnm_readpaminit(FILE* f, int* cols, int* rows, Sample* maxval, int* format);
// Whether the whole raster the header announced is there, asked right after
// pnm_readpnminit without reading or allocating anything: false when f, from
// its position on, holds fewer bytes than such a raster takes (the exact size
// for raw formats, the least size for plain ones: one character a pixel for
// PBM, a digit and a separator a sample otherwise). A regular file or a
// stream in memory is judged by its size; a pipe opened by pm_openr_seekable
// or pm_seekable is pulled into its kept copy as far as the raster reaches
// (disk, not memory, holds it), and keeps its position; any other stream,
// which cannot tell, gives true. A program can so refuse a truncated input
// before writing anything.
bool pnm_rasterpresent(FILE* f, int cols, int rows, Sample maxval, int format);

// Header and plain-raster limits: more than 1048576 bytes of comments and
// white space between two fields, or a number of more than 1000 digits, ends
// the run, so that an endless comment or number in a pipe cannot keep it
// reading forever.

// Reads one row. Grey and bit values land in blue (red and green too, so that
// a row can be used as a colour row without promotion). PBM: 1 is black, read
// as 0; 0 is white, read as 1 (maxval 1). A sample above maxval ends the run.
// PAM rows are read the same way (BLACKANDWHITE at maxval 1 whatever maxval
// says, as PBM); the alpha samples of an _ALPHA code are checked and skipped.
void pnm_readpnmrow(FILE* f, Xel* row, int cols, Sample maxval, int format);
// One row as pnm_readpnmrow reads it, and each pixel's alpha (0 transparent,
// maxval opaque) into alpha[0..cols-1]: the PAM's alpha samples for an
// _ALPHA code, maxval (1 for the bit formats) for every other code. alpha
// may be null when only the colours are wanted.
void pnm_readpamrow(FILE* f, Xel* row, Sample* alpha, int cols, Sample maxval, int format);
// Whole images; free with pm_freearray(image, rows). Memory is taken only for
// pixels present: a regular file or pm_openr_seekable pipe shorter than the
// header promises ends the run ("premature end of file in the raster (the
// header promises C x R pixels)") before the image is allocated; from a plain
// pipe the image grows as its rows arrive.
Xel** pnm_readpnm(FILE* f, int* cols, int* rows, Sample* maxval, int* format);
// The raster alone, after pnm_readpnminit or pnm_readpaminit gave its
// header (f is at the raster): the image pnm_readpnm returns, under the same
// memory rules; alpha samples are skipped. A caller can so look at the
// header (refuse alpha, a maxval or a size) before any of the raster is read.
Xel** pnm_readpnmraster(FILE* f, int cols, int rows, Sample maxval, int format);
// PBM and PGM are promoted to grey pixels; the maxval is kept.
Pixel** ppm_readppm(FILE* f, int* cols, int* rows, Sample* maxval);
// PBM (as 0/1 with maxval 1) or PGM; a PPM ends the run.
Sample** pgm_readpgm(FILE* f, int* cols, int* rows, Sample* maxval);

// Brings a row to newmaxval and newformat: samples rescaled as
// (v * newmaxval + maxval / 2) / maxval, grey copied into red and green when
// promoted to PPM. Demotion is not supported.
void pnm_promoteformatrow(Xel* row, int cols, Sample maxval, int format, Sample newmaxval, int newformat);

// ---------------------------------------------------------------------------
// Writing

// Raw unless forceplain is nonzero or the program was given -plain. Raw PBM
// packs 8 pixels a byte; raw samples take 2 bytes big-endian above maxval 255.
// A raw maxval above 65535 ends the run.
void pnm_writepnminit(FILE* f, int cols, int rows, Sample maxval, int format, int forceplain);
void pnm_writepnmrow(FILE* f, const Xel* row, int cols, Sample maxval, int format, int forceplain);
// A PAM code given to the two above writes a PAM, as pnm_writepaminit and
// pnm_writepamrow do with every pixel opaque; PAM has no plain form, so
// -plain and forceplain do not apply to it.
void ppm_writeppminit(FILE* f, int cols, int rows, Sample maxval, int forceplain);
void ppm_writeppmrow(FILE* f, const Pixel* row, int cols, Sample maxval, int forceplain);

// The PAM header for format, a PAM code of any of the six tuple types:
// P7, WIDTH, HEIGHT, DEPTH, MAXVAL, TUPLTYPE and ENDHDR lines. maxval must be
// 1..65535, and 1 for the BLACKANDWHITE types; anything else ends the run.
void pnm_writepaminit(FILE* f, int cols, int rows, Sample maxval, int format);
// One PAM row: the colour samples of row (blue alone for BLACKANDWHITE and
// GRAYSCALE, 0 black and 1 white for BLACKANDWHITE), then, for an _ALPHA
// code, alpha[x], or maxval (opaque) for every pixel when alpha is null; alpha
// is not read for the other codes. A sample above maxval ends the run.
void pnm_writepamrow(FILE* f, const Xel* row, const Sample* alpha, int cols, Sample maxval, int format);

// ---------------------------------------------------------------------------
// Colours

// "#rgb", "#rrggbb", "#rrrgggbbb", "#rrrrggggbbbb", "rgb:r/g/b" (1-4 hex digits
// each), "rgbi:r/g/b" (fractions 0..1), or a colour name (case-insensitive),
// scaled to maxval with rounding. Bad text ends the run quoting it.
Pixel ppm_parsecolor(const char* text, Sample maxval);
inline Pixel xeltopixel(Xel x) { return x; }

// ---------------------------------------------------------------------------
// Histograms and colour hashes

struct ColorHistEntry {
    Pixel color;
    long value;  // pixel count in a histogram; free for the caller's use otherwise
};
typedef ColorHistEntry* ColorHist;

// Distinct colours with their pixel counts, listed in the order each colour
// first occurs in raster order. Returns null as soon as more than maxcolors
// distinct colours are seen. Free with ppm_freecolorhist.
ColorHist ppm_computecolorhist(Pixel** pixels, int cols, int rows, int maxcolors, int* colors);
// The same, streaming the rows from f (positioned at the raster) without
// holding the image; every pixel is compared as red, green and blue.
ColorHist ppm_computecolorhist2(FILE* f, int cols, int rows, Sample maxval, int format, int maxcolors,
                                int* colors);
void ppm_freecolorhist(ColorHist hist);

// Colour -> int map with O(1) average look-up and insertion.
struct ColorHashTable;
typedef ColorHashTable* ColorHash;

ColorHash ppm_alloccolorhash();
// Maps each colour of hist to its index in hist.
ColorHash ppm_colorhisttocolorhash(const ColorHist hist, int colors);
// Adds (or, for a colour already present, replaces) an entry. Returns 0, or
// -1 when the table cannot grow (the hash stays usable).
int ppm_addtocolorhash(ColorHash hash, const Pixel* color, int value);
// The value stored for color, or -1 if absent.
int ppm_lookupcolor(ColorHash hash, const Pixel* color);
void ppm_freecolorhash(ColorHash hash);

#endif
