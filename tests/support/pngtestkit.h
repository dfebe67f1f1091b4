// Test helpers for PNGs: the chunk list of a PNG, its header, its decoded
// samples and its raw (unfiltered-by-us) image data.
#ifndef PNGTESTKIT_H
#define PNGTESTKIT_H

#include <cstdint>
#include <string>
#include <vector>

namespace testkit {

struct PngChunk {
    std::string type;
    std::string data;
};

// The chunks in file order. Adds a test failure on a bad signature, a
// truncated chunk or a CRC mismatch.
std::vector<PngChunk> pngChunks(const std::string& png);
int countChunks(const std::vector<PngChunk>& chunks, const std::string& type);
// The data of the first chunk of that type, or "<absent>".
std::string chunkData(const std::vector<PngChunk>& chunks, const std::string& type);

struct PngHeader {
    uint32_t width = 0, height = 0;
    int depth = 0, colorType = -1, interlace = -1;
};
PngHeader pngHeader(const std::string& png);

// Samples as stored (no scaling): one value per channel, row-major, with
// packed low-depth samples unpacked. ok is false when libpng rejects the file.
struct DecodedPng {
    bool ok = false;
    uint32_t width = 0, height = 0;
    int depth = 0, colorType = -1, channels = 0;
    std::vector<uint32_t> samples;
};
DecodedPng decodePng(const std::string& png);
// The same pixels whatever the form: 16-bit RGBA, palettes and tRNS
// expanded, samples scaled as decoders scale them. Two PNGs of one image in
// different forms decode alike.
DecodedPng decodePngAsRgba16(const std::string& png);

// The concatenated IDAT data inflated: filter byte plus row bytes per row.
std::string inflatedImageData(const std::string& png);

// Big-endian bytes.
std::string bytes16(std::initializer_list<unsigned> values);
std::string bytes32(std::initializer_list<uint32_t> values);

// Paths of the built programs.
std::string rasterpackPath();
std::string rasterunpackPath();

}  // namespace testkit

#endif
