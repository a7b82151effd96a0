#!/usr/bin/env bash
# Runs what the README tells a new user, as it stands there: the example (its printed
# lines and its file), the install, the usage lines against `quorvel -h`, then every
# ```sh block before "Building by hand" in a fresh folder of songs, with the installed
# programs on the PATH. Fails on the first command that fails or output that differs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The lines of the indented block that follows the README line `$1`.
block_after() {
  awk -v line="$1" '
    found && /^    / { print substr($0, 5); shown = 1; next }
    found && shown && !/^    / { exit }
    index($0, line) == 1 { found = 1 }' README.md
}

echo "== the README: the example"
scripts/example.sh > "$work/example.out"
# The glyphs go to a file here, so they are the byte 0xB1, which the README shows in Latin-1.
printed=$(sed -n '/^quorvel: /,/^Done!$/p' "$work/example.out" | iconv -f latin1 -t utf-8)
diff <(block_after "The example run prints") <(printf '%s\n' "$printed")
[ "$(stat -c %s demo.hes)" = 49152 ] || { echo "demo.hes is not 49152 bytes"; exit 1; }
rm -f demo.hes

echo "== the README: install and usage"
export HOME=$work/home
mkdir -p "$HOME"
eval "$(block_after "To use the programs from any folder")"
export PATH=$HOME/.local/bin:$PATH
diff <(block_after "Usage, as \`quorvel -h\` prints it:") <(quorvel -h | sed -n '2,8p')

echo "== the README: its commands in a fresh folder"
mkdir -p "$work/fresh/music"
cd "$work/fresh"
for n in 01 02 03; do cp "$root/examples/demo.vgz" "music/$n.vgz"; done
cp "$root/examples/demo.vgz" song.vgz
awk '/^## Building by hand/ { exit } /^```sh$/ { inside = 1; next } /^```$/ { inside = 0; next } inside' \
  "$root/README.md" > commands.sh
bash -euo pipefail commands.sh > commands.out
for f in song.hes soundtrack.hes soundtrack.m3u song.pce soundtrack.pce song.wav drums.wav \
         out/01.hes out/02.hes out/03.hes; do
  [ -s "$f" ] || { echo "the README's commands did not write $f"; cat commands.out; exit 1; }
done
echo "the README's commands: $(wc -l < commands.sh) lines ran and wrote what they say"
