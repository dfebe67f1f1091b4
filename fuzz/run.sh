#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer, leak checking on) and runs each for the given
# number of seconds on every core, seeded from fuzz/make_corpus.py and from
# the kept regression inputs in fuzz/corpus/<harness>/.
# Usage: [FUZZ_JOBS=n] fuzz/run.sh [seconds per harness (default 60)] [harness ...]
# Harnesses: commentfile rasterpack rasterunpack huecut pnmread colorparse deflate.
# Findings land in build/fuzz/findings/<harness>/; a crashing input goes,
# renamed for its fault, into fuzz/corpus/<harness>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(commentfile rasterpack rasterunpack huecut pnmread colorparse deflate)
jobs=${FUZZ_JOBS:-$(nproc)}  # FUZZ_JOBS=1 leaves the other cores free

command -v clang++ >/dev/null || { echo "run.sh: clang++ is needed for libFuzzer" >&2; exit 1; }
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DORRIM_FUZZ=ON -DORRIM_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/fuzz -j"$jobs" --target "${harnesses[@]/%/_fuzz}"

seeds=build/fuzz/seeds
rm -rf "$seeds"
python3 fuzz/make_corpus.py "$seeds"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for h in "${harnesses[@]}"; do
  work=build/fuzz/work/$h findings=build/fuzz/findings/$h
  mkdir -p "$work" "$findings" "$seeds/$h" fuzz/corpus/$h
  echo "== $h: $seconds s on $jobs cores"
  # -close_fd_mask=3: the programs' own lines and output stay out of the log.
  (cd "$findings" && "$OLDPWD/build/fuzz/fuzz/${h}_fuzz" -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
      -close_fd_mask=3 -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      "$OLDPWD/$work" "$OLDPWD/$seeds/$h" "$OLDPWD/fuzz/corpus/$h") || echo "== $h: findings in $findings"
  tail -n 3 "$findings"/fuzz-*.log 2>/dev/null | grep -E "DONE|pulse|ERROR" || true
done
