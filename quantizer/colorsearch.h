// Nearest map colour: the plain scan in map order, and an exact accelerated
// search that returns the same index, ties included.
#ifndef HUECUT_COLORSEARCH_H
#define HUECUT_COLORSEARCH_H

#include <orrim.h>

#include <cstdint>
#include <memory>

namespace huecut {

// Distance between two colours: the sum of squared sample differences,
// exact at every maxval (a colour of the map is always nearest to itself).
uint64_t colorDistance(const Pixel& a, const Pixel& b);

// The index of the nearest of map[0..mapSize-1]; the lowest index among
// equally near entries. mapSize must be at least 1.
int scanNearestColor(const ColorHistEntry* map, int mapSize, const Pixel& pixel);

// The map's distinct colours prepared for a fast exact search; its inner
// workings (a grid of candidate lists, a k-d tree) are private to the search.
struct ColorSearch;

struct ColorSearchRelease {
    void operator()(ColorSearch* search) const;
};
typedef std::unique_ptr<ColorSearch, ColorSearchRelease> OwnedColorSearch;

// Builds the search over map[0..mapSize-1].
OwnedColorSearch buildColorSearch(const ColorHistEntry* map, int mapSize, Sample maxval);

// Same result as scanNearestColor on the map the search was built from.
int searchNearestColor(ColorSearch* search, const Pixel& pixel);

}  // namespace huecut

#endif
