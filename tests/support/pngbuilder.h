// PNGs built chunk by chunk, so that tests can make every colour type, depth
// and ancillary chunk, including what libpng's writer refuses to write.
#ifndef PNGBUILDER_H
#define PNGBUILDER_H

#include "pngtestkit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testkit {

struct PngRecipe {
    uint32_t width = 1, height = 1;
    int depth = 8;
    int colorType = 0;
    bool interlace = false;
    // One value per channel, row-major; palette images give indexes.
    std::vector<uint32_t> samples;
    std::vector<PngChunk> beforeData;  // between IHDR and IDAT (PLTE, tRNS, ...)
    std::vector<PngChunk> afterData;   // between IDAT and IEND
};

// Channels a pixel of the colour type holds (0 for an unknown type).
int pngChannels(int colorType);

// A chunk as bytes: length, type, data and CRC.
std::string chunkBytes(const PngChunk& chunk);
// The 8-byte signature followed by the chunks, IHDR first, IDAT holding the
// image (Adam7 passes when interlaced, every row unfiltered), IEND last.
std::string buildPng(const PngRecipe& recipe);
// The same with the chunks laid out exactly as given after the signature.
std::string assemblePng(const std::vector<PngChunk>& chunks);
// IHDR's data.
std::string ihdrData(uint32_t width, uint32_t height, int depth, int colorType, bool interlace);
// The zlib stream of a PNG's image data, filter bytes included.
std::string imageData(const PngRecipe& recipe);

}  // namespace testkit

#endif
