// The image data as the PNG format lays it out: the rows of each interlace
// pass, packed below 8 bits a sample. The parallel and optimising writers
// take rows the way png_write_row does under png_set_packing (one sample a
// byte below depth 8, every row of every pass) and pack the pass rows here.
#ifndef RASTERPACK_IMAGELAYOUT_H
#define RASTERPACK_IMAGELAYOUT_H

#include <cstddef>
#include <cstdint>

namespace rasterpack {

struct ImageDataLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    int depth = 8;       // bits a sample: 1, 2, 4, 8 or 16
    int channels = 1;    // samples a pixel: 1 to 4 (only 1 below depth 8)
    bool interlaced = false;
};

// Where one pass takes its pixels from; a pass of width or height 0 has no
// rows in the file.
struct PassGeometry {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t xStart = 0, xStep = 1, yStart = 0, yStep = 1;
    uint64_t rowBytes = 0;   // packed, without the filter byte
};

const int ADAM7_PASSES = 7;

int passCount(const ImageDataLayout* layout);
PassGeometry passGeometry(const ImageDataLayout* layout, int pass);
int bitsPerPixel(const ImageDataLayout* layout);
// Bytes of a pixel for the filters' left neighbour: at least 1.
size_t filterStride(const ImageDataLayout* layout);
// Whether image row y belongs to the pass (and the pass has pixels).
bool passTakesRow(const PassGeometry* pass, uint32_t y);
// Rows the file holds, all passes together, and their bytes with filter bytes.
uint64_t storedRowCount(const ImageDataLayout* layout);
uint64_t filteredDataSize(const ImageDataLayout* layout);
// Bytes of one input row (png_write_row's form under png_set_packing).
uint64_t inputRowBytes(const ImageDataLayout* layout);

// Where the next of png_write_row's calls falls: every row of every pass.
struct RowCursor {
    int pass = 0;
    uint32_t y = 0;
    PassGeometry geometry;
    bool firstOfPass = true;  // no stored row of this pass yet: nothing above to filter against
};

RowCursor startRowCursor(const ImageDataLayout* layout);
bool cursorDone(const ImageDataLayout* layout, const RowCursor* cursor);
// Whether the row at the cursor is stored (belongs to its pass).
bool cursorTakesRow(const RowCursor* cursor);
// Moves on past one row; call cursorStoredRow first when the row was stored.
void advanceRowCursor(const ImageDataLayout* layout, RowCursor* cursor);
inline void cursorStoredRow(RowCursor* cursor) { cursor->firstOfPass = false; }

// The pass's pixels of one input row, packed into out (pass->rowBytes bytes).
void extractPassRow(const ImageDataLayout* layout, const PassGeometry* pass, const uint8_t* row, uint8_t* out);

}  // namespace rasterpack

#endif
