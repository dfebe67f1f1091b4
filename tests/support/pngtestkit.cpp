#include "pngtestkit.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace testkit {

namespace {

uint32_t readBe32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 | uint32_t(uint8_t(s[at + 2])) << 8 |
           uint32_t(uint8_t(s[at + 3]));
}

// Everything the decoder allocates, held outside its frame so the error jump
// skips nothing that needs destroying.
struct DecodeState {
    const std::string* png = nullptr;
    size_t at = 0;
    png_structp read = nullptr;
    png_infop info = nullptr;
    png_bytep pixels = nullptr;
    png_bytepp rows = nullptr;
};

void readFromString(png_structp read, png_bytep out, png_size_t n) {
    auto* state = static_cast<DecodeState*>(png_get_io_ptr(read));
    if (state->at + n > state->png->size()) png_error(read, "truncated");
    memcpy(out, state->png->data() + state->at, n);
    state->at += n;
}

void releaseDecodeState(DecodeState* state) {
    png_destroy_read_struct(&state->read, state->info ? &state->info : nullptr, nullptr);
    free(state->pixels);
    free(state->rows);
    delete state;
}

// Every colour type as 16-bit RGBA: palettes, low depths and tRNS expanded,
// grey copied into the colours, alpha added opaque where there is none.
void setRgba16Transforms(png_structp read) {
    png_set_expand(read);
    png_set_expand_16(read);
    png_set_gray_to_rgb(read);
    png_set_add_alpha(read, 0xffff, PNG_FILLER_AFTER);
}

// Decodes into state->pixels; false when libpng fails.
bool runDecoder(DecodeState* state, bool rgba16) {
    if (setjmp(png_jmpbuf(state->read))) return false;
    png_set_read_fn(state->read, state, readFromString);
    png_read_info(state->read, state->info);
    if (rgba16) setRgba16Transforms(state->read);
    png_set_packing(state->read);
    png_set_interlace_handling(state->read);
    png_read_update_info(state->read, state->info);
    png_uint_32 height = png_get_image_height(state->read, state->info);
    size_t rowBytes = png_get_rowbytes(state->read, state->info);
    state->pixels = static_cast<png_bytep>(malloc(rowBytes * height + 1));
    state->rows = static_cast<png_bytepp>(malloc(sizeof(png_bytep) * (height + 1)));
    for (png_uint_32 y = 0; y < height; ++y) state->rows[y] = state->pixels + y * rowBytes;
    png_read_image(state->read, state->rows);
    png_read_end(state->read, nullptr);
    return true;
}

}  // namespace

std::vector<PngChunk> pngChunks(const std::string& png) {
    std::vector<PngChunk> chunks;
    static const char SIGNATURE[] = "\x89PNG\r\n\x1a\n";
    if (png.size() < 8 || png.compare(0, 8, SIGNATURE, 8) != 0) {
        ADD_FAILURE() << "no PNG signature";
        return chunks;
    }
    size_t at = 8;
    while (at < png.size()) {
        if (at + 12 > png.size()) {
            ADD_FAILURE() << "truncated chunk header at " << at;
            break;
        }
        uint32_t length = readBe32(png, at);
        if (at + 12 + length > png.size()) {
            ADD_FAILURE() << "truncated chunk at " << at;
            break;
        }
        PngChunk chunk{png.substr(at + 4, 4), png.substr(at + 8, length)};
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), length + 4);
        EXPECT_EQ(crc, readBe32(png, at + 8 + length)) << "CRC of " << chunk.type;
        chunks.push_back(chunk);
        at += 12 + length;
    }
    return chunks;
}

int countChunks(const std::vector<PngChunk>& chunks, const std::string& type) {
    int n = 0;
    for (const PngChunk& c : chunks) n += c.type == type;
    return n;
}

std::string chunkData(const std::vector<PngChunk>& chunks, const std::string& type) {
    for (const PngChunk& c : chunks)
        if (c.type == type) return c.data;
    return "<absent>";
}

PngHeader pngHeader(const std::string& png) {
    PngHeader h;
    std::string ihdr = chunkData(pngChunks(png), "IHDR");
    if (ihdr.size() != 13) {
        ADD_FAILURE() << "no IHDR";
        return h;
    }
    h.width = readBe32(ihdr, 0);
    h.height = readBe32(ihdr, 4);
    h.depth = uint8_t(ihdr[8]);
    h.colorType = uint8_t(ihdr[9]);
    h.interlace = uint8_t(ihdr[12]);
    return h;
}

namespace {

DecodedPng decode(const std::string& png, bool rgba16) {
    DecodedPng out;
    auto* state = new DecodeState;
    state->png = &png;
    state->read = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    state->info = state->read ? png_create_info_struct(state->read) : nullptr;
    if (!state->info || !runDecoder(state, rgba16)) {
        releaseDecodeState(state);
        return out;
    }
    out.ok = true;
    out.width = png_get_image_width(state->read, state->info);
    out.height = png_get_image_height(state->read, state->info);
    out.depth = png_get_bit_depth(state->read, state->info);
    out.colorType = png_get_color_type(state->read, state->info);
    out.channels = png_get_channels(state->read, state->info);
    size_t count = size_t(out.width) * out.height * out.channels;
    out.samples.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (out.depth == 16)
            out.samples.push_back(uint32_t(state->pixels[2 * i]) << 8 | state->pixels[2 * i + 1]);
        else
            out.samples.push_back(state->pixels[i]);
    }
    releaseDecodeState(state);
    return out;
}

}  // namespace

DecodedPng decodePng(const std::string& png) { return decode(png, false); }

DecodedPng decodePngAsRgba16(const std::string& png) { return decode(png, true); }

std::string inflatedImageData(const std::string& png) {
    std::string idat;
    for (const PngChunk& c : pngChunks(png))
        if (c.type == "IDAT") idat += c.data;
    std::string out;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(idat.data()));
    z.avail_in = uInt(idat.size());
    char buffer[65536];
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    EXPECT_EQ(status, Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

std::string bytes16(std::initializer_list<unsigned> values) {
    std::string s;
    for (unsigned v : values) {
        s += char(v >> 8);
        s += char(v & 0xff);
    }
    return s;
}

std::string bytes32(std::initializer_list<uint32_t> values) {
    std::string s;
    for (uint32_t v : values)
        for (int shift = 24; shift >= 0; shift -= 8) s += char((v >> shift) & 0xff);
    return s;
}

std::string rasterpackPath() { return RASTERPACK_PATH; }
std::string rasterunpackPath() { return RASTERUNPACK_PATH; }

}  // namespace testkit
