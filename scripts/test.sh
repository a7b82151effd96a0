#!/usr/bin/env bash
# Installs what is missing, then builds with warnings as errors and runs every test,
# once in a normal build and once under AddressSanitizer and UBSan, runs the README's
# commands as a new user would, then fuzzes the conversion for FUZZ_SECONDS (default
# 120).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

run_suite() { # build-folder, extra cmake options...
  local dir=$1; shift
  cmake -S . -B "$dir" -DQUORVEL_WERROR=ON -DBUILD_TESTING=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

echo "== normal build"
run_suite build-test
echo "== sanitizer build"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DQUORVEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
scripts/readme-check.sh
echo "== fuzzing"
scripts/fuzz.sh
