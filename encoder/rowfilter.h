// PNG row filtering: the five filter types and the adaptive choice among them.
#ifndef RASTERPACK_ROWFILTER_H
#define RASTERPACK_ROWFILTER_H

#include <cstddef>
#include <cstdint>

namespace rasterpack {

const int ROW_FILTER_TYPES = 5;  // none, sub, up, average, Paeth
// Not a filter type: choose per row the type whose output has the least sum
// of absolute values (bytes taken as signed).
const int FILTER_ADAPTIVE = 5;

// out[0] = type, out[1..length] the filtered row. previous is the unfiltered
// row above in the same pass, or null for a pass's first row (taken as zeros).
// stride: bytes of a complete pixel, at least 1.
void filterRow(int type, const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
               uint8_t* out);

// A set of filter types: bit t for type t.
const unsigned ALL_FILTER_TYPES = (1u << ROW_FILTER_TYPES) - 1;

// The adaptive choice for one row among the types in the set; ties go to the
// lower type.
int chooseAdaptiveFilter(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
                         unsigned types = ALL_FILTER_TYPES);

// The type a row gets from a set: its one type, or the adaptive choice.
int chooseFilterType(unsigned types, const uint8_t* row, const uint8_t* previous, size_t length, size_t stride);

// The filter a row gets by default: none for palette images and depths below
// 8, where filtering rarely pays; the adaptive choice otherwise.
int defaultFilterChoice(bool palette, int depth);

// The types libpng's row writer uses for a filter choice (0..4 or
// FILTER_ADAPTIVE) on an image of this size: it drops sub, average and Paeth
// for an image one pixel wide and up, average and Paeth for one a row high,
// and filters nothing when no type is left.
unsigned libpngFilterTypes(int filter, uint32_t width, uint32_t height);

}  // namespace rasterpack

#endif
