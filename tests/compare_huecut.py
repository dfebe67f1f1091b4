#!/usr/bin/env python3
"""Runs two builds of huecut on the same inputs and options and reports every
run whose standard output bytes, standard error or exit status differ. For a
change that must keep the program's behaviour exactly as it was: build the
old huecut, copy it aside, build the new one, then

    tests/compare_huecut.py OLD NEW

where each is the huecut program or a folder holding it (build/release and
build/release/quantizer are accepted). The images are built here: PBM, PGM,
PPM (plain and raw) and PAM at maxvals up to 65535, with few colours, with
more than the histogram holds, without pixels, damaged; every option, map
files of each kind, reading standard input, argument errors and a full output
device. Dithering runs are given -randomseed (without it the seed is the time
and the process id). Exit status 1 when any run differs."""
import os
import random
import subprocess
import sys
import tempfile


def program(path):
    for sub in ("", "huecut", "quantizer/huecut"):
        candidate = os.path.join(path, sub) if sub else path
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return os.path.abspath(candidate)
    sys.exit("compare_huecut: no huecut at %s" % path)


# --- Images -------------------------------------------------------------------

def sample_bytes(values, maxval):
    if maxval < 256:
        return bytes(values)
    return b"".join(bytes([v >> 8, v & 255]) for v in values)


def pnm(kind, w, h, maxval, pixels, plain=False):
    """pixels: a list of (r, g, b) for PPM, of values for PGM, of 0/1 (1 black) for PBM."""
    if kind == "pbm":
        if plain:
            body = "\n".join(" ".join(str(pixels[y * w + x]) for x in range(w)) for y in range(h))
            return ("P1\n%d %d\n%s\n" % (w, h, body)).encode()
        rows = b""
        for y in range(h):
            bits = pixels[y * w:(y + 1) * w] + [0] * (-w % 8)
            rows += bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
        return b"P4\n%d %d\n" % (w, h) + rows
    if kind == "pgm":
        if plain:
            return ("P2\n%d %d\n%d\n%s\n" % (w, h, maxval, " ".join(map(str, pixels)))).encode()
        return b"P5\n%d %d\n%d\n" % (w, h, maxval) + sample_bytes(pixels, maxval)
    flat = [s for p in pixels for s in p]
    if plain:
        return ("P3\n%d %d\n%d\n%s\n" % (w, h, maxval, " ".join(map(str, flat)))).encode()
    return b"P6\n%d %d\n%d\n" % (w, h, maxval) + sample_bytes(flat, maxval)


def pam(w, h, maxval, tupltype, depth, samples):
    header = "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n" % (w, h, depth, maxval, tupltype)
    return header.encode() + sample_bytes(samples, maxval)


def gradient(w, h, maxval):
    return [((x * maxval) // max(w - 1, 1), (y * maxval) // max(h - 1, 1), ((x + y) * maxval) // max(w + h - 2, 1))
            for y in range(h) for x in range(w)]


def noise(w, h, maxval, levels, rng):
    values = [v * maxval // (levels - 1) for v in range(levels)]
    return [(rng.choice(values), rng.choice(values), rng.choice(values)) for _ in range(w * h)]


def build_images(rng):
    """name -> bytes of every input image."""
    images = {}
    for maxval in (1, 15, 255, 256, 1000, 65535):
        for plain in (False, True):
            tag = "%s%d" % ("plain" if plain else "raw", maxval)
            images["ppm-noise-" + tag] = pnm("ppm", 13, 9, maxval, noise(13, 9, maxval, 5, rng), plain)
            images["ppm-gradient-" + tag] = pnm("ppm", 24, 16, maxval, gradient(24, 16, maxval), plain)
            grey = [rng.randrange(maxval + 1) for _ in range(11 * 7)]
            images["pgm-" + tag] = pnm("pgm", 11, 7, maxval, grey, plain)
    for plain in (False, True):
        bits = [rng.randrange(2) for _ in range(10 * 6)]
        images["pbm-" + ("plain" if plain else "raw")] = pnm("pbm", 10, 6, 1, bits, plain)
    # More colours than the histogram holds: halvings, with their messages.
    images["ppm-many-colours"] = pnm("ppm", 200, 200, 255, gradient(200, 200, 255))
    images["ppm-many-colours-16bit"] = pnm("ppm", 190, 190, 65535, noise(190, 190, 65535, 40, rng))
    images["ppm-one-pixel"] = pnm("ppm", 1, 1, 255, [(10, 20, 30)])
    images["ppm-one-column"] = pnm("ppm", 1, 20, 255, [(128, 128, 128)] * 20)
    images["ppm-empty"] = b"P6\n0 0\n255\n"
    images["ppm-no-rows"] = b"P6\n9 0\n255\n"
    images["ppm-no-columns"] = b"P6\n0 7\n255\n"
    rgb = [s for p in noise(8, 5, 255, 4, rng) for s in p]
    images["pam-rgb"] = pam(8, 5, 255, "RGB", 3, rgb)
    images["pam-grey16"] = pam(6, 4, 65535, "GRAYSCALE", 1, [rng.randrange(65536) for _ in range(24)])
    images["pam-bw"] = pam(6, 4, 1, "BLACKANDWHITE", 1, [rng.randrange(2) for _ in range(24)])
    return images


def build_failures(rng):
    """name -> bytes of inputs every run must refuse."""
    good = pnm("ppm", 13, 9, 255, noise(13, 9, 255, 5, rng))
    bad = {
        "truncated-raw": good[:len(good) - 7],
        "truncated-header": b"P6\n13 ",
        "truncated-plain": pnm("ppm", 4, 4, 255, gradient(4, 4, 255), True)[:-12],
        "above-maxval-plain": b"P3\n2 1\n100\n1 2 3 4 5 101\n",
        "maxval-above-65535": b"P3\n1 1\n100000\n1 2 3\n",
        "alpha-pam": pam(2, 2, 255, "RGB_ALPHA", 4, [9] * 16),
        "not-an-image": b"GIF89a....",
        "empty-file": b"",
        "bad-magic": b"P9\n1 1\n255\nabc",
        "huge-header": b"P6\n100000 100000\n255\nabc",
        "stray-plain": b"P3\n1 1\n255\n1 x 3\n",
    }
    return bad


def build_maps(rng):
    return {
        "map-small": pnm("ppm", 4, 1, 255, [(0, 0, 0), (255, 255, 255), (255, 0, 0), (0, 0, 255)]),
        "map-maxval15": pnm("ppm", 3, 1, 15, [(0, 0, 0), (15, 15, 15), (7, 3, 12)]),
        "map-16bit": pnm("ppm", 3, 2, 65535, noise(3, 2, 65535, 7, rng)),
        "map-plain": pnm("ppm", 3, 1, 1000, [(0, 0, 0), (1000, 0, 0), (500, 500, 500)], True),
        "map-pgm": pnm("pgm", 4, 1, 255, [0, 80, 160, 255]),
        "map-pbm": pnm("pbm", 2, 1, 1, [0, 1]),
        "map-pam": pam(3, 1, 255, "RGB", 3, [0, 0, 0, 200, 100, 0, 255, 255, 255]),
        "map-one-pixel": pnm("ppm", 1, 1, 255, [(10, 200, 30)]),
        "map-duplicates": pnm("ppm", 4, 1, 255, [(9, 9, 9), (200, 0, 0), (9, 9, 9), (0, 0, 0)]),
        # Failures.
        "map-empty": b"P6\n0 0\n255\n",
        "map-no-rows": b"P6\n100000000 0\n255\n",
        "map-alpha": pam(1, 1, 255, "RGB_ALPHA", 4, [1, 2, 3, 4]),
        "map-too-many": pnm("ppm", 200, 200, 255, gradient(200, 200, 255)),
        "map-maxval-100000": b"P3\n1 1\n100000\n1 2 3\n",
        "map-truncated": b"P6\n30 30\n255\n0123456789",
        "map-garbage": b"hello",
    }


# --- Runs ---------------------------------------------------------------------

def run(binary, args, stdin_bytes, cwd, full=False):
    out = open("/dev/full", "wb") if full else subprocess.PIPE
    try:
        p = subprocess.run([binary] + args, input=stdin_bytes, stdout=out, stderr=subprocess.PIPE, cwd=cwd,
                           timeout=120)
    finally:
        if full:
            out.close()
    return (p.stdout if not full else b"", p.stderr, p.returncode)


def cases(images, failures, maps):
    """(description, args, stdin bytes or None, output to /dev/full)."""
    out = []
    options = [["2"], ["3"], ["16"], ["256"], ["2147483647"], ["-nofloyd", "4"],
               ["-floyd", "-randomseed", "7", "4"], ["-fs", "-randomseed", "123456", "16"],
               ["-refine", "0", "16"], ["-refine", "1", "8"], ["-refine", "5", "16"],
               ["-refine", "3", "-fs", "-randomseed", "9", "8"], ["-plain", "5"], ["-quiet", "6"]]
    for name in sorted(images):
        for opts in options:
            out.append((name, opts + [name], None, False))
    # Standard input: a count alone, and "-".
    for name in ("ppm-noise-raw255", "pgm-plain1000", "ppm-many-colours", "pam-rgb", "ppm-empty"):
        out.append((name + " on stdin", ["5"], images[name], False))
        out.append((name + " on stdin as -", ["-refine", "2", "5", "-"], images[name], False))
    # Map files against a few inputs.
    for mapname in sorted(maps):
        for name in ("ppm-noise-raw255", "ppm-gradient-raw65535", "pgm-plain15", "ppm-empty", "ppm-no-rows",
                     "pbm-raw"):
            out.append((name + " onto " + mapname, ["-mapfile", mapname, name], None, False))
        out.append(("dithered onto " + mapname,
                    ["-fs", "-randomseed", "5", "-mapfile", mapname, "ppm-gradient-raw255"], None, False))
    # Map files from standard input, after a named image, and after the image
    # on standard input itself.
    out.append(("map on stdin", ["-mapfile", "-", "ppm-noise-raw255"], maps["map-small"], False))
    out.append(("image then map on stdin", ["-mapfile", "-"], images["ppm-noise-raw255"] + maps["map-pgm"], False))
    out.append(("image without map on stdin", ["-mapfile", "-"], images["ppm-noise-raw255"], False))
    # Damaged inputs, by name and on standard input, each way of choosing.
    for name in sorted(failures):
        for opts in (["4"], ["-refine", "2", "4"], ["-fs", "-randomseed", "1", "4"], ["-mapfile", "map-small"]):
            out.append((name, opts + [name], None, False))
        out.append((name + " on stdin", ["4"], failures[name], False))
    # Command-line errors and files that cannot be read.
    errors = [
        ["-floyd", "-nofs", "4", "ppm-one-pixel"], ["-fs", "-nofloyd", "-mapfile", "map-small"],
        ["-mapfile", "map-small", "4", "ppm-one-pixel"], ["4", "ppm-one-pixel", "ppm-one-pixel"], [], ["-floyd"],
        ["12x", "ppm-one-pixel"], ["0"], [""], [" -3", "ppm-one-pixel"], ["1", "ppm-one-pixel"],
        ["99999999999999999999"], ["-randomseed", "abc", "4", "ppm-one-pixel"],
        ["-randomseed", "4294967296", "4"], ["-refine", "x", "4"], ["-refine", "1001", "4"], ["-refine=-1", "4"],
        ["-refine", "3", "-mapfile", "map-small"], ["12\x1b[31mx", "ppm-one-pixel"], ["-randomseed", "\x07", "4"],
        ["-bogus", "4"], ["-help"], ["--help"], ["-mapfile"], ["-refine"], ["-f", "4"],
        ["4", "no-such-file"], ["4", "."], ["-mapfile", "no-such-map", "ppm-one-pixel"],
        ["-mapfile", ".", "ppm-one-pixel"], ["-mapfile", "no-such-map", "not-an-image"],
        ["-mapfile", "map-empty", "truncated-raw"], ["-version", "4"],
    ]
    for args in errors:
        out.append(("arguments " + repr(args), args, images["ppm-one-pixel"], False))
    # A full output device, for each way of choosing.
    for opts in (["4"], ["-refine", "2", "4"], ["-fs", "-randomseed", "3", "4"], ["-mapfile", "map-small"]):
        for name in ("ppm-gradient-raw255", "ppm-empty", "ppm-one-pixel"):
            out.append((name + " to a full device", opts + [name], None, True))
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    old, new = program(sys.argv[1]), program(sys.argv[2])
    rng = random.Random(15)
    images, failures, maps = build_images(rng), build_failures(rng), build_maps(rng)
    with tempfile.TemporaryDirectory(prefix="compare_huecut.") as work:
        for name, data in list(images.items()) + list(failures.items()) + list(maps.items()):
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        all_cases = cases(images, failures, maps)
        differences = 0
        for description, args, stdin_bytes, full in all_cases:
            stdin_bytes = stdin_bytes if stdin_bytes is not None else b""
            a = run(old, args, stdin_bytes, work, full)
            b = run(new, args, stdin_bytes, work, full)
            if a != b:
                differences += 1
                print("DIFFERS: %s: huecut %s" % (description, " ".join(repr(x) for x in args)))
                for label, (x, y) in zip(("stdout", "stderr", "status"), zip(a, b)):
                    if x != y:
                        print("  %s: old %r\n  %s: new %r" % (label, x[:200] if label != "status" else x,
                                                            label, y[:200] if label != "status" else y))
    print("%d runs, %d differ" % (len(all_cases), differences))
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
