#!/usr/bin/env bash
# Sets up and builds the suite twice (optimised, and with AddressSanitizer +
# UndefinedBehaviorSanitizer), runs every test in both, and exits non-zero on
# any failure.
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

run_suite build/release -DCMAKE_BUILD_TYPE=Release
run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DORRIM_SANITIZE=ON

if [ $status -eq 0 ]; then echo "== all tests passed (optimised and sanitized builds)"; else echo "== TESTS FAILED"; fi
exit $status
