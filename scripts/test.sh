#!/usr/bin/env bash
# Sets up and builds the suite twice (optimised, and with AddressSanitizer +
# UndefinedBehaviorSanitizer), and once more with clang when clang++ is
# installed, every build treating compiler warnings as errors; runs every test
# in each build, and exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

status=0
run_suite() {
  local dir=$1; shift
  echo "== build $dir"
  if ! scripts/setup.sh "$dir" "$@"; then
    echo "== $dir: build failed"
    status=1
    return
  fi
  echo "== test $dir"
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" || status=1
}

builds="optimised and sanitized builds"
run_suite build/release -DCMAKE_BUILD_TYPE=Release -DORRIM_WERROR=ON
run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DORRIM_SANITIZE=ON -DORRIM_WERROR=ON
# clang warns of a few more slips (see CMakeLists.txt), and its code can
# differ where behaviour is undefined: its build runs the tests too.
if command -v clang++ >/dev/null && command -v clang >/dev/null; then
  builds="optimised, sanitized and clang builds"
  run_suite build/clang -DCMAKE_BUILD_TYPE=Release -DORRIM_WERROR=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
else
  echo "== clang++ not installed: no clang build"
fi

if [ $status -eq 0 ]; then echo "== all tests passed ($builds)"; else echo "== TESTS FAILED"; fi
exit $status
