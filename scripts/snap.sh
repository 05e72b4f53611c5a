#!/usr/bin/env bash
# Builds the plug-in and the host program, then snaps three pictures from the
# built-in virtual camera into snaps/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target vorkgrab
build/default/bin/vorkgrab snap --count 3 --out snaps/frame_%03d.png --force
echo "pictures in $(pwd)/snaps"
