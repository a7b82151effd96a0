#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it on the seed corpus for a bounded
# time (FUZZ_SECONDS, default 120). Fails on any crash, sanitizer report, leak, or an
# input that takes over a second.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-120}
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DQUORVEL_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$(nproc)" --target quorvel_fuzz >/dev/null
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/* "$corpus"/
mkdir -p "$dir/artifacts"
"$dir/quorvel_fuzz" "$corpus" -dict=fuzz/vgm.dict -max_total_time="$seconds" -timeout=1 \
  -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
  2>&1 | tee "$dir/fuzz.log" | grep -E "^(Done|#[0-9]+ +DONE)|ERROR|SUMMARY|stat::number_of_executed_units" || true
# libFuzzer exits non-zero on any finding; pipefail hands that on.
test "${PIPESTATUS[0]}" -eq 0
