#!/usr/bin/env bash
# Installs what is missing, builds quorvel and converts the bundled example to demo.hes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j "$(nproc)"
./build/quorvel examples/demo.vgz demo.hes
ls -l demo.hes
