#!/usr/bin/env bash
# Two builds of quorvel against each other: OLD and NEW binaries, each input of DIR
# converted by both to HES and raw, with and without -m3u; the output files, console
# text and exit status must be the same. Prints the number of inputs compared and
# every difference; exits 1 when there is one.
set -uo pipefail
old=$(realpath "$1") new=$(realpath "$2") dir=$(realpath "$3")
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/old" "$work/new"
cp "$top/drovan_huc6280.bin" "$work/old/"
cp "$top/drovan_huc6280.bin" "$work/new/"
count=0 differ=0
for input in "$dir"/*; do
  for options in "" "-raw" "-m3u"; do
    for side in old new; do
      bin=$old
      [[ $side == new ]] && bin=$new
      rm -f "$work/$side"/out.*
      (cd "$work/$side" && "$bin" "$input" out.hes $options >console 2>&1; echo "status $?" >>console)
    done
    for f in console out.hes out.m3u; do
      if ! cmp -s "$work/old/$f" "$work/new/$f" 2>/dev/null && { [[ -e $work/old/$f ]] || [[ -e $work/new/$f ]]; }; then
        echo "differs: $input $options ($f)"
        differ=1
      fi
    done
  done
  count=$((count + 1))
done
echo "$count inputs compared"
exit $differ
