#!/usr/bin/env bash
# Conversion speed and memory against the unavoidable work: builds quorvel, generates
# large inputs (BENCH_MIB, default 64), and for each prints the median wall time and
# peak memory of quorvel (HES and raw) beside `gzip -dc` (.vgz) or `cat` (.vgm), the
# ratios (targets: 1.0 for .vgz, 2.5 for .vgm), the ratio to `igzip -dc` for .vgz,
# and the peak against 1.25 x the decompressed size + 16 MiB.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${BENCH_RUNS:-5}
mib=${BENCH_MIB:-64}
scripts/install-deps.sh
if ! command -v igzip >/dev/null; then # ISA-L's command line, for the comparison only
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq isal >/dev/null 2>&1 || true
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/make_example --large "$work" "$mib"
cp drovan_huc6280.bin "$work"/

# median of the runs: "seconds peak-KiB"
measure() {
  local times=() mems=() start end
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$work/rss" bash -c "$1" >/dev/null
    end=$(date +%s%N)
    times+=("$(( (end - start) / 1000 ))")
    mems+=("$(cat "$work/rss")")
  done
  local t m
  t=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
  m=$(printf '%s\n' "${mems[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
  echo "$t $m"
}

cd "$work"
printf '%-11s %10s %9s %12s %12s %8s %8s %8s %10s\n' file input_MiB base_ms hes_ms raw_ms hes_x raw_x igzip_x peak_MiB
for f in dense.vgz blocks.vgz dense.vgm blocks.vgm; do
  decompressed=$(stat -c %s "${f%.*}.vgm")
  it=0
  if [[ $f == *.vgz ]]; then
    base="gzip -dc $f"
    command -v igzip >/dev/null && read -r it _ < <(measure "igzip -dc $f")
  else
    base="cat $f > copy.out"
  fi
  read -r bt _ < <(measure "$base")
  read -r ht hm < <(measure "$OLDPWD/build/quorvel $f out.hes")
  read -r rt rm < <(measure "$OLDPWD/build/quorvel $f out.raw -raw")
  peak=$(( hm > rm ? hm : rm ))
  awk -v f="$f" -v d="$decompressed" -v b="$bt" -v h="$ht" -v r="$rt" -v i="$it" -v p="$peak" 'BEGIN {
    printf "%-11s %10.1f %9.1f %12.1f %12.1f %8.2f %8.2f %8s %10.1f  (limit %.1f)\n",
      f, d / 1048576, b / 1000, h / 1000, r / 1000, h / b, r / b, (i > 0 ? sprintf("%.2f", h / i) : "-"),
      p / 1024, (1.25 * d / 1048576) + 16 }'
done
