#!/usr/bin/env python3
"""Writes the seed corpus of the harnesses into OUTDIR/<harness>/: PNGs of
every colour type and bit depth, PNMs of every format, PAMs of every tuple
type, alpha masks, palette and comment files, each framed the way its harness
reads its input.
Usage: make_corpus.py OUTDIR"""
import os
import struct
import sys
import zlib

W, H = 5, 3


def pbm(plain):
    bits = [(x + y) % 2 for y in range(H) for x in range(W)]
    if plain:
        return b"P1\n# seed\n%d %d\n" % (W, H) + b" ".join(b"%d" % v for v in bits) + b"\n"
    rows = b""
    for y in range(H):
        byte, n, row = 0, 0, b""
        for x in range(W):
            byte = byte << 1 | bits[y * W + x]
            n += 1
            if n == 8:
                row += bytes([byte]); byte, n = 0, 0
        if n:
            row += bytes([byte << (8 - n)])
        rows += row
    return b"P4\n%d %d\n" % (W, H) + rows


def samples(channels, maxval):
    return [(i * 37 + c * 11) % (maxval + 1) for i in range(W * H) for c in range(channels)]


def pnm(kind, maxval, plain, channels_override=None):
    channels = 3 if kind == "ppm" else 1
    values = samples(channels, maxval)
    magic = {("pgm", True): b"P2", ("pgm", False): b"P5", ("ppm", True): b"P3", ("ppm", False): b"P6"}[(kind, plain)]
    head = magic + b"\n%d %d\n%d\n" % (W, H, maxval)
    if plain:
        return head + b" ".join(b"%d" % v for v in values) + b"\n"
    fmt = ">%dH" % len(values) if maxval > 255 else "%dB" % len(values)
    return head + struct.pack(fmt, *values)


PAM_TYPES = (("BLACKANDWHITE", 1), ("GRAYSCALE", 1), ("RGB", 3),
             ("BLACKANDWHITE_ALPHA", 2), ("GRAYSCALE_ALPHA", 2), ("RGB_ALPHA", 4))


def pam(tuple_type, depth, maxval):
    values = samples(depth, maxval)
    fmt = ">%dH" % len(values) if maxval > 255 else "%dB" % len(values)
    head = b"P7\n# seed\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n" % (
        W, H, depth, maxval, tuple_type.encode())
    return head + struct.pack(fmt, *values)


def pams():
    out = {}
    for tuple_type, depth in PAM_TYPES:
        for maxval in ((1,) if tuple_type.startswith("BLACKANDWHITE") else (255, 65535)):
            out["pam_%s_%d" % (tuple_type.lower(), maxval)] = pam(tuple_type, depth, maxval)
    return out


def pnms():
    out = {"pbm_plain": pbm(True), "pbm_raw": pbm(False)}
    for kind in ("pgm", "ppm"):
        for maxval in (1, 15, 255, 65535):
            for plain in (True, False):
                out["%s_%d_%s" % (kind, maxval, "plain" if plain else "raw")] = pnm(kind, maxval, plain)
    return out


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)


def png(color_type, depth, interlace=False, extras=b""):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[color_type]
    maxval = (1 << depth) - 1
    bits_per_pixel = channels * depth
    raw = b""
    for y in range(H):
        values = [(x * 53 + y * 29 + c * 17) % (maxval + 1) for x in range(W) for c in range(channels)]
        if color_type == 3:
            values = [v % 4 for v in values]
        row, acc, n = b"", 0, 0
        for v in values:
            if depth == 16:
                row += struct.pack(">H", v)
            elif depth == 8:
                row += bytes([v])
            else:
                acc = acc << depth | v
                n += depth
                if n == 8:
                    row += bytes([acc]); acc, n = 0, 0
        if n:
            row += bytes([acc << (8 - n)])
        raw += b"\0" + row
    # Interlaced seeds keep the rows of a plain one: libpng refuses them as
    # damaged data, which the harness covers as well.
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, depth, color_type, 0, 0, int(interlace)))
    if color_type == 3:
        out += chunk(b"PLTE", bytes([0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255]))
        out += chunk(b"tRNS", bytes([0, 128]))
    out += extras
    out += chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
    return out


def pngs():
    out = {}
    for color_type, depths in ((0, (1, 2, 4, 8, 16)), (2, (8, 16)), (3, (1, 2, 4, 8)), (4, (8, 16)), (6, (8, 16))):
        for depth in depths:
            out["png_t%d_d%d" % (color_type, depth)] = png(color_type, depth)
    extras = (chunk(b"gAMA", struct.pack(">I", 45455)) + chunk(b"tEXt", b"Title\0seed") +
              chunk(b"zTXt", b"Comment\0\0" + zlib.compress(b"compressed")) +
              chunk(b"tIME", struct.pack(">HBBBBB", 2003, 1, 2, 3, 4, 5)) +
              chunk(b"pHYs", struct.pack(">IIB", 2835, 3780, 1)) + chunk(b"bKGD", struct.pack(">HHH", 1, 2, 3)) +
              chunk(b"tRNS", struct.pack(">HHH", 0, 0, 0)) + chunk(b"sBIT", bytes([5, 6, 5])))
    out["png_t2_d8_chunks"] = png(2, 8, extras=extras)
    out["png_t0_d8_interlaced"] = png(0, 8, interlace=True)
    return out


def deflate_inputs():
    """Filtered-row-like data for the deflate coder: flat runs, repeated rows
    with small changes, and noise, at sizes past its fixed-code blocks."""
    rows = bytearray()
    for y in range(60):
        rows.append(y % 3)
        rows += bytes((x * 7 + y) % 251 if (x // 20 + y // 8) % 3 == 0 else 0 for x in range(300))
    noise = bytes((i * 2654435761 >> 13) & 255 for i in range(3000))
    return {"rows": bytes(rows), "runs": b"\0" * 5000 + b"\1\2\3" * 700, "noise": noise}


def piece(data):
    return struct.pack("<H", len(data)) + data


COMMENTS = (b"Title  Seed image\nComment first line\n   continued\n\"Creation Time\"\t2003-01-02\n"
            b"Author\n\nDescription more\n\ttext\n")


def write(outdir, harness, name, data):
    folder = os.path.join(outdir, harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    outdir = sys.argv[1]
    images = pnms()
    mask = pnm("pgm", 255, False)
    palette = pnm("ppm", 255, False)
    write(outdir, "commentfile", "text", b"\0" + COMMENTS)
    write(outdir, "commentfile", "ztxt", b"\1" + COMMENTS)
    for name, data in pngs().items():
        write(outdir, "rasterunpack", name, b"\0\0" + data)
        write(outdir, "rasterunpack", name + "_mix_gamma", b"\x2e\x01" + data)
    for name, data in images.items():
        write(outdir, "rasterpack", name, b"\0\0\0\0" + piece(b"") + piece(b"") + piece(b"") + data)
        # -optimize with -threads 2; -threads 3 with -interlace
        write(outdir, "rasterpack", name + "_optimize", b"\0\0\0\x05" + piece(b"") + piece(b"") + piece(b"") + data)
        write(outdir, "rasterpack", name + "_threads", b"\x20\0\0\x06" + piece(b"") + piece(b"") + piece(b"") + data)
        write(outdir, "huecut", name, b"\x10\x05" + piece(b"") + data)
        write(outdir, "pnmread", name, data)
    for name, data in pams().items():
        write(outdir, "pnmread", name, data)
        write(outdir, "huecut", name, b"\x10\x05" + piece(b"") + data)
        write(outdir, "rasterpack", name, b"\0\0\0\0" + piece(b"") + piece(b"") + piece(b"") + data)
        write(outdir, "rasterpack", name + "_optimize", b"\0\0\0\x05" + piece(b"") + piece(b"") + piece(b"") + data)
    for name, data in deflate_inputs().items():
        for effort in (0x00, 0x5e, 0xff):
            write(outdir, "deflate", "%s_%02x" % (name, effort), bytes([effort]) + data)
    ppm = images["ppm_255_raw"]
    write(outdir, "rasterpack", "alpha_palette_text", b"\x07\x0e\x21\0" + piece(mask) + piece(palette) + piece(COMMENTS) + ppm)
    write(outdir, "rasterpack", "force_interlace_chunks", b"\x30\xfc\x07\0" + piece(b"") + piece(b"") + piece(b"") + ppm)
    write(outdir, "huecut", "mapfile_floyd", b"\x03\x09" + piece(palette) + ppm)
    write(outdir, "huecut", "refine", b"\x04\x0a" + piece(b"") + ppm)
    write(outdir, "huecut", "refine_ten_floyd", b"\x06\x10" + piece(b"") + ppm)


main()
