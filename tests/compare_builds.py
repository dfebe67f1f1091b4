#!/usr/bin/env python3
"""Runs two builds of rasterpack and rasterunpack on the same inputs and
options and reports every run whose standard output bytes, standard error,
exit status or written side file differ. For a change that must keep the
programs' behaviour exactly as it was: build the old programs, copy them
aside, build the new ones, then

    tests/compare_builds.py OLD_DIR NEW_DIR

where each folder holds rasterpack and rasterunpack (build/release/encoder
and build/release/decoder are accepted as the folder's sub-folders too).
The PNGs are built here with zlib (every colour type, depth, interlacing and
ancillary chunk, plus damaged ones) and by the old rasterpack from PNMs built
here. Exit status 1 when any run differs."""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib


def program(folder, name):
    for sub in ("", "encoder", "decoder"):
        path = os.path.join(folder, sub, name)
        if os.path.isfile(path):
            return os.path.abspath(path)
    sys.exit("compare_builds: no %s under %s" % (name, folder))


# --- PNGs built here --------------------------------------------------------

def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


SIGNATURE = b"\x89PNG\r\n\x1a\n"
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}
ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))


def pack_row(values, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", v) for v in values)
    if depth == 8:
        return bytes(values)
    out, byte, bits = bytearray(), 0, 0
    for v in values:
        byte = byte << depth | v
        bits += depth
        if bits == 8:
            out.append(byte)
            byte, bits = 0, 0
    if bits:
        out.append(byte << (8 - bits))
    return bytes(out)


def image_data(w, h, depth, ctype, interlace, pixels, filt=0):
    ch = CHANNELS[ctype]
    raw = b""
    passes = ADAM7 if interlace else ((0, 0, 1, 1),)
    for x0, y0, dx, dy in passes:
        for y in range(y0, h, dy):
            xs = range(x0, w, dx)
            if not xs:
                continue
            values = [pixels[(y * w + x) * ch + c] for x in xs for c in range(ch)]
            raw += bytes([filt]) + pack_row(values, depth)
    return zlib.compress(raw)


def build_png(w, h, depth, ctype, interlace, pixels, before=(), after=(), idat=None):
    ihdr = struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, 1 if interlace else 0)
    data = idat if idat is not None else image_data(w, h, depth, ctype, interlace, pixels)
    return SIGNATURE + chunk(b"IHDR", ihdr) + b"".join(before) + chunk(b"IDAT", data) + b"".join(after) + \
        chunk(b"IEND", b"")


def random_pixels(rng, w, h, depth, ctype, entries=None):
    top = (entries - 1) if ctype == 3 else (1 << depth) - 1
    return [rng.randint(0, top) for _ in range(w * h * CHANNELS[ctype])]


def ancillary(ctype, depth, variant, entries):
    """Chunks before and after the image data for one variant."""
    s16 = lambda *v: b"".join(struct.pack(">H", x) for x in v)
    top = (1 << depth) - 1
    before, after = [], []
    if variant == "trns":
        if ctype == 0:
            before.append(chunk(b"tRNS", s16(top // 2)))
        elif ctype == 2:
            before.append(chunk(b"tRNS", s16(top, 0, top // 3)))
        elif ctype == 3:
            before.append(chunk(b"tRNS", bytes([0, 128, 255][:entries])))
    elif variant == "bkgd":
        if ctype in (0, 4):
            before.append(chunk(b"bKGD", s16(top // 3)))
        elif ctype in (2, 6):
            before.append(chunk(b"bKGD", s16(top, top // 2, 0)))
        else:
            before.append(chunk(b"bKGD", bytes([entries - 1])))
        before.append(chunk(b"gAMA", struct.pack(">I", 45455)))
    elif variant == "sbit":
        d = 8 if ctype == 3 else depth
        counts = {0: [max(1, d - 3)], 2: [max(1, d - 3)] * 3, 3: [5, 5, 5], 4: [max(1, d - 3), 1], 6: [5, 6, 5, 4]}
        before.append(chunk(b"sBIT", bytes(counts[ctype])))
    elif variant == "sbit_bad":
        before.append(chunk(b"sBIT", bytes([0] * {0: 1, 2: 3, 3: 3, 4: 2, 6: 4}[ctype])))
    elif variant == "text":
        before.append(chunk(b"tEXt", b"Title\0Sunset over\nthe sea"))
        before.append(chunk(b"pHYs", struct.pack(">IIB", 2000, 1000, 1)))
        after.append(chunk(b"zTXt", b"Creation Time\0\0" + zlib.compress(b"5 Dec 2003")))
        after.append(chunk(b"iTXt", b"Note\0\0\0en\0Anmerkung\0caf\xc3\xa9"))
        after.append(chunk(b"tIME", struct.pack(">HBBBBB", 2003, 12, 5, 14, 3, 9)))
    return before, after


def palette_chunk(rng, entries, grey):
    out = b""
    for i in range(entries):
        if grey:
            v = i * 255 // max(1, entries - 1)
            out += bytes([v, v, v])
        else:
            out += bytes([rng.randint(0, 255) for _ in range(3)])
    return chunk(b"PLTE", out)


def generated_pngs(rng):
    pngs = {}
    for ctype, depths in DEPTHS.items():
        for depth in depths:
            for interlace in (False, True):
                for variant in ("plain", "trns", "bkgd", "sbit", "sbit_bad", "text"):
                    w, h = rng.choice([(1, 1), (5, 3), (9, 9), (17, 2)])
                    entries = min(1 << depth, rng.choice([2, 3, 16, 256])) if ctype == 3 else None
                    before, after = ancillary(ctype, depth, variant, entries)
                    if ctype == 3:
                        before.insert(0, palette_chunk(rng, entries, grey=variant in ("plain", "sbit")))
                    pixels = random_pixels(rng, w, h, depth, ctype, entries)
                    name = "c%d_d%d_%s_%s" % (ctype, depth, "i" if interlace else "n", variant)
                    pngs[name] = build_png(w, h, depth, ctype, interlace, pixels, before, after)
    return pngs


def damaged_pngs(rng):
    good = build_png(5, 3, 8, 2, False, random_pixels(rng, 5, 3, 8, 2),
                     [chunk(b"tEXt", b"Title\0x")], [chunk(b"tEXt", b"After\0y")])
    d = {"empty": b"", "three_bytes": SIGNATURE[:3], "gif": b"GIF89a\x01\x00\x01\x00",
         "signature_tail": SIGNATURE[:4] + b"\0\0\0\0" + good[8:]}
    for cut in (8, 12, 20, 33, 40, 50, len(good) - 30, len(good) - 12, len(good) - 4):
        d["cut_%d" % cut] = good[:cut]
    ihdr_crc = bytearray(good)
    ihdr_crc[29] ^= 1
    d["ihdr_crc"] = bytes(ihdr_crc)
    idat_at = good.index(b"IDAT")
    idat_crc = bytearray(good)
    length = struct.unpack(">I", good[idat_at - 4:idat_at])[0]
    idat_crc[idat_at + 4 + length] ^= 1
    d["idat_crc"] = bytes(idat_crc)
    text_crc = bytearray(good)
    text_crc[good.index(b"tEXt") + 4 + 7] ^= 1
    d["text_crc"] = bytes(text_crc)
    px = random_pixels(rng, 5, 3, 8, 0)
    d["idat_garbage"] = build_png(5, 3, 8, 0, False, px, idat=b"\x78\x9c" + bytes(rng.randrange(256) for _ in range(20)))
    short_raw = zlib.compress(b"\0" + bytes(5))
    d["idat_short"] = build_png(5, 3, 8, 0, False, px, idat=short_raw)
    d["no_iend"] = build_png(5, 3, 8, 0, False, px)[:-12]
    d["after_iend"] = build_png(5, 3, 8, 0, False, px) + chunk(b"IDAT", b"xx")
    for name, (w, h, depth, ctype) in {"palette16": (2, 2, 16, 3), "type5": (2, 2, 8, 5), "width0": (0, 2, 8, 0),
                                       "huge_width": (0x7FFFFFFF, 1, 8, 0), "huge_height": (1, 1 << 30, 8, 0),
                                       "wide": (2000000, 1, 8, 0), "depth3": (2, 2, 3, 0)}.items():
        ihdr = struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, 0)
        d[name] = SIGNATURE + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(b"\0" * 8)) + chunk(b"IEND", b"")
    d["no_plte"] = build_png(2, 2, 8, 3, False, [0, 1, 1, 0])
    d["index_beyond"] = build_png(2, 2, 8, 3, False, [0, 9, 200, 1], [palette_chunk(rng, 2, False)],
                                  [chunk(b"bKGD", b"\x07")])
    d["trns_long"] = build_png(2, 2, 8, 3, False, [0, 1, 1, 0], [palette_chunk(rng, 2, False),
                                                                   chunk(b"tRNS", bytes(5))])
    d["phys_zero"] = build_png(2, 2, 8, 0, False, [1, 2, 3, 4], [chunk(b"pHYs", struct.pack(">IIB", 3, 0, 0))])
    d["ztxt_bad"] = build_png(2, 2, 8, 0, False, [1, 2, 3, 4], [chunk(b"zTXt", b"K\0\0notzlib")])
    d["text_nokey"] = build_png(2, 2, 8, 0, False, [1, 2, 3, 4], [chunk(b"zTXt", b"\0\0" + zlib.compress(b"v"))])
    return d


# --- PNMs for rasterpack ----------------------------------------------------

def pnm(magic, w, h, maxval, values):
    size = b"%s\n%d %d\n" % (magic, w, h)
    if magic == b"P4":
        return size + b"".join(pack_row(values[y * w:(y + 1) * w], 1) for y in range(h))
    if magic == b"P1":
        return size + b" ".join(b"%d" % v for v in values) + b"\n"
    if magic in (b"P2", b"P3"):
        return size + b"%d\n" % maxval + b" ".join(b"%d" % v for v in values) + b"\n"
    raster = b"".join(struct.pack(">H", v) for v in values) if maxval > 255 else bytes(values)
    return size + b"%d\n" % maxval + raster


def generated_pnms(rng):
    out = {}
    w, h = 6, 4
    out["pbm_raw"] = pnm(b"P4", w, h, 1, [rng.randint(0, 1) for _ in range(w * h)])
    out["pbm_plain"] = pnm(b"P1", w, h, 1, [rng.randint(0, 1) for _ in range(w * h)])
    for maxval in (1, 3, 15, 255, 1023, 65535):
        out["pgm_%d" % maxval] = pnm(b"P5", w, h, maxval, [rng.randint(0, maxval) for _ in range(w * h)])
    out["pgm_plain"] = pnm(b"P2", w, h, 200, [rng.randint(0, 200) for _ in range(w * h)])
    out["ppm_255"] = pnm(b"P6", w, h, 255, [rng.randint(0, 255) for _ in range(3 * w * h)])
    out["ppm_65535"] = pnm(b"P6", w, h, 65535, [rng.randint(0, 65535) for _ in range(3 * w * h)])
    few = [(255, 0, 0), (0, 0, 255), (10, 200, 30)]
    out["ppm_few"] = pnm(b"P6", w, h, 255, [c for _ in range(w * h) for c in rng.choice(few)])
    out["ppm_grey"] = pnm(b"P6", w, h, 255, [v for _ in range(w * h) for v in [rng.randint(0, 255)] * 3])
    out["ppm_plain"] = pnm(b"P3", w, h, 100, [rng.randint(0, 100) for _ in range(3 * w * h)])
    out["truncated"] = out["ppm_255"][:-10]
    out["not_pnm"] = b"hello"
    return out


# --- running ------------------------------------------------------------------

class Runner:
    def __init__(self, work):
        self.work = work
        self.runs = 0
        self.succeeded = 0  # runs whose old program ended with status 0
        self.differences = []

    def run_one(self, binary, args, stdin_bytes, side, full_output):
        if os.path.exists(side):
            os.remove(side)
        with open("/dev/full", "wb") as full:
            p = subprocess.run([binary] + args, input=stdin_bytes, stdout=full if full_output else subprocess.PIPE,
                               stderr=subprocess.PIPE, cwd=self.work, timeout=120)
        written = open(side, "rb").read() if os.path.exists(side) else None
        return p.returncode, p.stdout, p.stderr, written

    # full_output: standard output is /dev/full, where every write fails.
    def compare(self, label, old, new, args, stdin_bytes=b"", full_output=False):
        side = os.path.join(self.work, "side.out")
        args = [side if a == "SIDE" else a for a in args]
        a = self.run_one(old, args, stdin_bytes, side, full_output)
        b = self.run_one(new, args, stdin_bytes, side, full_output)
        self.runs += 1
        self.succeeded += a[0] == 0
        if a != b:
            fields = [n for n, x, y in zip(("status", "stdout", "stderr", "side file"), a, b) if x != y]
            self.differences.append("%s %s: %s differ\n  old: %r\n  new: %r" %
                                    (label, " ".join(args), ", ".join(fields), a[:1] + a[2:3], b[:1] + b[2:3]))


DECODER_OPTIONS = [[], ["-verbose"], ["-alpha"], ["-mix"], ["-mix", "-background", "#ff8000"],
                   ["-background", "rgb:ffff/0/8000", "-v"], ["-gamma", "2.2"], ["-gamma", "0"],
                   ["-gamma", "1", "-verbose", "-mix"], ["-time"], ["-text", "SIDE"], ["-text", "-"],
                   ["-alpha", "-verbose"], ["-mix", "-gamma", "0.45"], ["-m", "-te", "SIDE", "-ti", "-v"]]
DECODER_FAILURE_OPTIONS = [[], ["-text", "SIDE"], ["-verbose", "-time"]]
DECODER_COMMAND_LINES = [["-x"], ["-t"], ["-gamma"], ["-background"], ["-text"], ["-verbosely"],
                         ["-gamma", "nan"], ["-gamma", "-2"], ["-gamma", "x"], ["-gamma", "1e39"],
                         ["-background", "nonsense"], ["-text", "/dev/full"], ["-text", "/nonexistent/dir/f"],
                         ["-", "extra"], ["IN", "IN"], ["IN"], ["/nonexistent.png"], ["."], ["-"], ["--alpha"]]

ENCODER_OPTIONS = [[], ["-verbose"], ["-interlace"], ["-force"], ["-alpha", "MASK"], ["-transparent", "red"],
                   ["-transparent", "=#0000ff", "-v"], ["-background", "blue"], ["-gamma", ".45"], ["-hist"],
                   ["-chroma", ".3127", ".329", ".64", ".33", ".3", ".6", ".15", ".06"], ["-phys", "2", "1", "1"],
                   ["-text", "COMMENTS"], ["-ztxt", "COMMENTS"], ["-time", "2003-12-05", "14:03:09"],
                   ["-palette", "PALETTE"], ["-filter", "3"], ["-compression", "9"], ["-threads", "2"],
                   ["-optimize"], ["-downscale"], ["-x"], ["-verbosely", "-interlace"]]
ENCODER_COMMAND_LINES = [["-filter", "9"], ["-compression", "10"], ["-threads", "x"], ["-threads", "300"],
                         ["-phys", "1", "2", "3"], ["-phys", "99999999999", "1", "0"], ["-alpha"],
                         ["-alpha", "MASK", "-transparent", "red"], ["-transparent", "red", "-alpha", "MASK"],
                         ["-", "extra"], ["/nonexistent.pnm"], ["-text", "/nonexistent"], ["-time", "x"],
                         ["-palette", "/nonexistent"], ["-gamma"], ["-q", "-v"]]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    old_dec, new_dec = program(sys.argv[1], "rasterunpack"), program(sys.argv[2], "rasterunpack")
    old_enc, new_enc = program(sys.argv[1], "rasterpack"), program(sys.argv[2], "rasterpack")
    rng = random.Random(15)
    work = tempfile.mkdtemp(prefix="compare_builds.")
    try:
        r = Runner(work)
        files = {}

        def keep(name, data):
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(data)
            files[name] = path
            return os.path.abspath(path)

        pngs = generated_pngs(rng)
        pnms = generated_pnms(rng)
        mask = keep("mask.pgm", pnm(b"P5", 6, 4, 255, [rng.choice([0, 128, 255]) for _ in range(24)]))
        palette = keep("palette.ppm", pnm(b"P6", 4, 1, 255, [255, 0, 0, 0, 0, 255, 10, 200, 30, 0, 0, 0]))
        comments = keep("comments.txt", b"Title  Sunset\nAuthor Someone\n       continued\n")

        def encoder_args(args, name):
            subst = {"MASK": mask, "PALETTE": palette, "COMMENTS": comments, "IN": keep(name, pnms[name])}
            return [subst.get(a, a) for a in args]

        # The old encoder makes PNGs of its own for the decoder too.
        for name in sorted(pnms):
            for args in ENCODER_OPTIONS:
                r.compare("rasterpack<%s" % name, old_enc, new_enc, encoder_args(args, name), pnms[name])
            for args in (["-interlace"], ["-alpha", "MASK"], ["-transparent", "red"], ["-text", "COMMENTS"]):
                p = subprocess.run([old_enc] + encoder_args(args, name), input=pnms[name], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
                if p.returncode == 0:
                    pngs["packed_%s_%s" % (name, args[0][1:])] = p.stdout
        for args in ENCODER_COMMAND_LINES:
            r.compare("rasterpack", old_enc, new_enc, encoder_args(args, "ppm_few"), pnms["ppm_few"])

        for name in sorted(pngs):
            for args in DECODER_OPTIONS:
                r.compare("rasterunpack<%s" % name, old_dec, new_dec, args, pngs[name])
        # Named input files as well as standard input.
        for name in sorted(pngs)[::7]:
            path = keep(name + ".png", pngs[name])
            r.compare("rasterunpack", old_dec, new_dec, ["-v", path])
        damaged = damaged_pngs(rng)
        for name in sorted(damaged):
            for args in DECODER_FAILURE_OPTIONS:
                r.compare("rasterunpack<%s" % name, old_dec, new_dec, args, damaged[name])
        good = pngs["c3_d4_n_text"]
        in_path = keep("good.png", good)
        for args in DECODER_COMMAND_LINES:
            r.compare("rasterunpack", old_dec, new_dec, [in_path if a == "IN" else a for a in args], good)

        for args in ([], ["-text", "-"], ["-text", "SIDE", "-v"]):
            r.compare("rasterunpack>/dev/full", old_dec, new_dec, args, good, full_output=True)
            r.compare("rasterpack>/dev/full", old_enc, new_enc, encoder_args(args[:1] and ["-v"], "ppm_few"),
                      pnms["ppm_few"], full_output=True)

        print("%d runs compared (%d of them succeeded), %d differ" % (r.runs, r.succeeded, len(r.differences)))
        for d in r.differences:
            print(d)
        return 1 if r.differences else 0
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
