// Checks on zlib streams shared by the coders' tests, and compressible
// test data for them.
#ifndef RASTERPACK_TESTS_ZLIBCHECK_H
#define RASTERPACK_TESTS_ZLIBCHECK_H

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rasterpack {
namespace zlibcheck {

// Runs of repeated and slowly changing bytes with some noise: compressible,
// with matches near and far.
inline std::vector<uint8_t> mixedBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = (seed >> 27) < 4 ? uint8_t(seed >> 16) : uint8_t(i / 7 + (i % 1000 < 500 ? 0 : i / 97));
    }
    return v;
}

struct Inflated {
    std::string failure;  // empty when the stream is valid
    int windowBits = 0;
    std::vector<uint8_t> data;
};

// Checks the header, then inflates with exactly the declared window (zlib
// refuses a distance beyond it) and checks the adler32 trailer and that
// nothing follows it.
inline Inflated inflateStream(const std::vector<uint8_t>& stream) {
    Inflated r;
    if (stream.size() < 6) return r.failure = "shorter than a header and a trailer", r;
    unsigned cmf = stream[0], flg = stream[1];
    if ((cmf & 0x0f) != 8 || (cmf >> 4) > 7) return r.failure = "not deflate with a window up to 32 KB", r;
    if ((cmf * 256 + flg) % 31 != 0) return r.failure = "header check bits wrong", r;
    if (flg & 0x20) return r.failure = "preset dictionary flag set", r;
    r.windowBits = int(cmf >> 4) + 8;
    z_stream z = {};
    if (inflateInit2(&z, r.windowBits) != Z_OK) return r.failure = "inflateInit2", r;
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    int status = Z_OK;
    uint8_t buffer[16384];
    while (status == Z_OK) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        r.data.insert(r.data.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    }
    if (status != Z_STREAM_END) r.failure = std::string("inflate: ") + (z.msg ? z.msg : "stream cut short");
    else if (z.avail_in != 0) r.failure = "bytes after the trailer";
    inflateEnd(&z);
    return r;
}

}  // namespace zlibcheck
}  // namespace rasterpack

#endif
