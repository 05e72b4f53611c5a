#!/usr/bin/env bash
# Cross-builds the Windows DLLs, the host program and the virtual camera for
# i686 and x86_64, then checks the 32-bit plug-in's and both cameras' exports.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in mingw-i686 mingw-x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
bash scripts/check-exports.sh build/mingw-i686/bin/VORKDirectShowGrabber.dll
for arch in i686 x86_64; do
  bash scripts/check-exports.sh "build/mingw-$arch/bin/vorkvcam.dll"
done
