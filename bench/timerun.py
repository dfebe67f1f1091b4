#!/usr/bin/env python3
"""Times shell commands side by side: each round runs every command once, in
the order given, so that a change in the machine's load falls on all of them.

    bench/timerun.py RUNS NAME COMMAND [NAME COMMAND ...]

prints one line a command: NAME, best wall seconds, best CPU seconds (user +
system of the command and its children, from wait4, to the microsecond) and
peak resident memory in kB (the largest over the rounds). A command that
fails ends the script with status 1."""
import os
import subprocess
import sys
import time


def run_once(command):
    start = time.monotonic()
    process = subprocess.Popen(["bash", "-c", command])
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        sys.exit("timerun: '%s' failed (status %d)" % (command, status))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    if len(sys.argv) < 4 or len(sys.argv) % 2 != 0:
        sys.exit(__doc__)
    runs = int(sys.argv[1])
    pairs = list(zip(sys.argv[2::2], sys.argv[3::2]))
    best = {name: [float("inf"), float("inf"), 0] for name, _ in pairs}
    for _ in range(runs):
        for name, command in pairs:
            wall, cpu, rss = run_once(command)
            entry = best[name]
            entry[0] = min(entry[0], wall)
            entry[1] = min(entry[1], cpu)
            entry[2] = max(entry[2], rss)
    for name, _ in pairs:
        wall, cpu, rss = best[name]
        print("%s %.4f %.4f %d" % (name, wall, cpu, rss))


main()
