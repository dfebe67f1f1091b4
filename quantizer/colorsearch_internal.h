// Inside the nearest-colour search: shared by its source and its tests only.
#ifndef HUECUT_COLORSEARCH_INTERNAL_H
#define HUECUT_COLORSEARCH_INTERNAL_H

#include "colorsearch.h"

#include <cstdint>
#include <vector>

namespace huecut {

// A map colour with its position in the map.
struct SearchEntry {
    Sample r, g, b;
    int index;
};

// Maps up to this many distinct colours are searched through the grid;
// larger ones through the k-d tree.
const int GRID_SEARCH_MAX_COLORS = 4096;
// A cell that would keep more candidates than this (a map crowded into a
// small part of colour space) keeps none and is searched through the k-d
// tree instead, which bounds the grid's memory to cells x this many entries.
const int GRID_CELL_MAX_CANDIDATES = 256;

// A k-d tree node: the bounding box of its entries, the run of treeEntries
// it covers, and its children (-1 for a leaf).
struct KdNode {
    Sample lo[3], hi[3];
    int32_t begin, end;
    int32_t left, right;
};

// The map's distinct colours (first occurrence only: a later duplicate can
// never win), prepared for the search.
//
// Grid: colour space is cut into cells; a cell's candidates, found the first
// time a pixel falls into it, are the entries that may be nearest to some
// point of the cell: those whose least possible distance to the cell is no
// more than the smallest greatest distance of any entry.
struct ColorSearch {
    Sample maxval;
    std::vector<SearchEntry> distinct;  // in map order
    bool useGrid;
    // Grid search.
    int cellsPerAxis;
    std::vector<int32_t> cellStart;       // per cell: offset into candidates, -1 until built
    std::vector<int32_t> cellCount;       // -1: too many candidates, use the tree
    std::vector<SearchEntry> candidates;  // per cell, in map order
    // k-d tree over the distinct colours (also the grid's fallback for
    // crowded cells): node 0 is the root.
    std::vector<KdNode> nodes;
    std::vector<SearchEntry> treeEntries;  // reordered so that each node covers a run
};

}  // namespace huecut

#endif
