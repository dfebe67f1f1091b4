// Nearest map colour: the plain scan in map order, and an exact accelerated
// search that returns the same index, ties included.
#ifndef HUECUT_COLORSEARCH_H
#define HUECUT_COLORSEARCH_H

#include <orrim.h>

#include <cstdint>
#include <vector>

// Distance between two colours: the sum of squared sample differences, each
// square divided by 16 (truncating) above maxval 255.
uint32_t colorDistance(const Pixel& a, const Pixel& b, Sample maxval);

// The index of the nearest of map[0..mapSize-1]; the lowest index among
// equally near entries. mapSize must be at least 1.
int scanNearestColor(const ColorHistEntry* map, int mapSize, const Pixel& pixel, Sample maxval);

struct SearchEntry {
    Sample key;   // the sorting component
    Sample a, b;  // the other two components
    int index;    // position in the map
};

// The map's distinct colours (first occurrence only: a later duplicate can
// never win) sorted by the component with the widest range.
struct ColorSearch {
    std::vector<SearchEntry> entries;
    int keyAxis;  // 0 red, 1 green, 2 blue
    Sample maxval;
};

ColorSearch buildColorSearch(const ColorHistEntry* map, int mapSize, Sample maxval);

// Same result as scanNearestColor on the map the search was built from.
int searchNearestColor(const ColorSearch& search, const Pixel& pixel);

#endif
