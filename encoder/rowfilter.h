// PNG row filtering: the five filter types and the adaptive choice among them.
#ifndef RASTERPACK_ROWFILTER_H
#define RASTERPACK_ROWFILTER_H

#include <cstddef>
#include <cstdint>

const int ROW_FILTER_TYPES = 5;  // none, sub, up, average, Paeth
// Not a filter type: choose per row the type whose output has the least sum
// of absolute values (bytes taken as signed).
const int FILTER_ADAPTIVE = 5;

// out[0] = type, out[1..length] the filtered row. previous is the unfiltered
// row above in the same pass, or null for a pass's first row (taken as zeros).
// stride: bytes of a complete pixel, at least 1.
void filterRow(int type, const uint8_t* row, const uint8_t* previous, size_t length, size_t stride,
               uint8_t* out);

// The adaptive choice for one row; ties go to the lower type.
int chooseAdaptiveFilter(const uint8_t* row, const uint8_t* previous, size_t length, size_t stride);

// The filter a row gets by default: none for palette images and depths below
// 8, where filtering rarely pays; the adaptive choice otherwise.
int defaultFilterChoice(bool palette, int depth);

#endif
