#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it on the seed corpus for a bounded
# time (FUZZ_SECONDS, default 120). Fails on any crash, sanitizer report, leak, or an
# input that takes over a second. Further arguments go to the fuzzer, for example
# `FUZZ_SECONDS=0 scripts/fuzz.sh -runs=5000000 -jobs=2 -workers=2` for a long run
# on two cores (each process logs to fuzz-N.log in the project folder, and its
# log is gathered into the main one).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-120}
dir=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$dir" -DQUORVEL_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$(nproc)" --target quorvel_fuzz >/dev/null
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/* "$corpus"/
mkdir -p "$dir/artifacts"
status=0
"$dir/quorvel_fuzz" "$corpus" -dict=fuzz/vgm.dict -max_total_time="$seconds" -timeout=1 \
  -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$@" \
  > "$dir/fuzz.log" 2>&1 || status=$?
# The execution count, and anything the fuzzer found.
grep -E "^Done|stat::number_of_executed_units|ERROR|SUMMARY|Test unit written" "$dir/fuzz.log" || true
if [ "$status" -ne 0 ]; then
  tail -n 40 "$dir/fuzz.log"
  echo "fuzzing failed (status $status); the input is in $dir/artifacts/"
fi
exit "$status"
