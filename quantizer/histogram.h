// The image's colours as the colour choice sees them: a histogram of at most
// MAX_HIST_COLORS distinct colours, coarsening the samples until it fits.
#ifndef HUECUT_HISTOGRAM_H
#define HUECUT_HISTOGRAM_H

#include <orrim.h>

#include <cstdint>
#include <vector>

namespace huecut {

// The most distinct colours a histogram (or a map file) may hold.
const int MAX_HIST_COLORS = 32767;

// Brings every sample from oldMaxval to newMaxval in place:
// s = (s * newMaxval + oldMaxval / 2) / oldMaxval. Both maxvals at most 65535.
void rescalePixels(Pixel** pixels, int cols, int rows, Sample oldMaxval, Sample newMaxval);

// One distinct colour of an image and the number of its pixels.
struct ColorCount {
    uint16_t r, g, b;
    uint32_t count;
};

// Every distinct colour of the image with its pixel count, in the order of
// each colour's first pixel in raster order. Samples must be at most maxval
// and 65535; an image of more than 2^32 - 1 pixels ends the run. When pixelColors is
// given it receives, for every pixel in raster order, its colour's position
// in the list.
std::vector<ColorCount> countImageColors(Pixel** pixels, int cols, int rows, Sample maxval,
                                         std::vector<uint32_t>* pixelColors = nullptr);

// Counts the distinct colours, halving the maxval (and rescaling the image in
// place) while there are more than MAX_HIST_COLORS. Returns the histogram:
// the colours in the order of their first pixel in raster order, each with
// its pixel count. *colors and *newMaxval receive its size and the maxval the
// image is now in. Samples must be at most 65535.
std::vector<ColorHistEntry> computeHistogram(Pixel** pixels, int cols, int rows, Sample maxval, int* colors,
                                             Sample* newMaxval);

// The histogram computeHistogram would make of the image the colours were
// counted from, entry for entry, with the same messages, but leaving the image
// as it is: the halvings are applied to the colours instead of the pixels.
// *newMaxval receives the maxval of the histogram's colours.
std::vector<ColorHistEntry> histogramFromColors(const std::vector<ColorCount>& colors, Sample maxval,
                                                Sample* newMaxval);

}  // namespace huecut

#endif
