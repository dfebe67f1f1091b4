#include "pngbuilder.h"

#include <zlib.h>

#include <stdexcept>

namespace testkit {

namespace {

const uint32_t PASS_X0[7] = {0, 4, 0, 2, 0, 1, 0};
const uint32_t PASS_Y0[7] = {0, 0, 4, 0, 2, 0, 1};
const uint32_t PASS_DX[7] = {8, 8, 4, 4, 2, 2, 1};
const uint32_t PASS_DY[7] = {8, 8, 8, 4, 4, 2, 2};

// Appends the pixels at the given columns of row y as one filtered scanline.
void appendScanline(const PngRecipe& s, uint32_t y, uint32_t x0, uint32_t dx, std::string& out) {
    int channels = pngChannels(s.colorType);
    out += '\0';  // filter type none
    unsigned acc = 0;
    int bits = 0;
    for (uint32_t x = x0; x < s.width; x += dx) {
        for (int c = 0; c < channels; ++c) {
            uint32_t v = s.samples.at((size_t(y) * s.width + x) * channels + c);
            if (s.depth == 16) {
                out += char(v >> 8);
                out += char(v & 0xff);
            } else if (s.depth == 8) {
                out += char(v);
            } else {
                acc = acc << s.depth | (v & ((1u << s.depth) - 1));
                bits += s.depth;
                if (bits == 8) {
                    out += char(acc);
                    acc = 0;
                    bits = 0;
                }
            }
        }
    }
    if (bits > 0) out += char(acc << (8 - bits));
}

}  // namespace

int pngChannels(int colorType) {
    switch (colorType) {
        case 0: case 3: return 1;
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 0;
    }
}

std::string chunkBytes(const PngChunk& chunk) {
    std::string out = bytes32({uint32_t(chunk.data.size())}) + chunk.type + chunk.data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.data() + 4), uInt(out.size() - 4));
    return out + bytes32({uint32_t(crc)});
}

std::string ihdrData(uint32_t width, uint32_t height, int depth, int colorType, bool interlace) {
    std::string d = bytes32({width, height});
    d += char(depth);
    d += char(colorType);
    d += '\0';
    d += '\0';
    d += char(interlace ? 1 : 0);
    return d;
}

std::string imageData(const PngRecipe& s) {
    std::string raw;
    if (!s.interlace) {
        for (uint32_t y = 0; y < s.height; ++y) appendScanline(s, y, 0, 1, raw);
    } else {
        for (int pass = 0; pass < 7; ++pass) {
            if (s.width <= PASS_X0[pass]) continue;  // an empty pass has no scanlines
            for (uint32_t y = PASS_Y0[pass]; y < s.height; y += PASS_DY[pass])
                appendScanline(s, y, PASS_X0[pass], PASS_DX[pass], raw);
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string z(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&z[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  uLong(raw.size()), 9) != Z_OK)
        throw std::runtime_error("compress2 failed");
    z.resize(size);
    return z;
}

std::string assemblePng(const std::vector<PngChunk>& chunks) {
    std::string out("\x89PNG\r\n\x1a\n", 8);
    for (const PngChunk& c : chunks) out += chunkBytes(c);
    return out;
}

std::string buildPng(const PngRecipe& s) {
    std::vector<PngChunk> chunks{{"IHDR", ihdrData(s.width, s.height, s.depth, s.colorType, s.interlace)}};
    chunks.insert(chunks.end(), s.beforeData.begin(), s.beforeData.end());
    chunks.push_back({"IDAT", imageData(s)});
    chunks.insert(chunks.end(), s.afterData.begin(), s.afterData.end());
    chunks.push_back({"IEND", ""});
    return assemblePng(chunks);
}

}  // namespace testkit
