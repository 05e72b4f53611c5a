#!/usr/bin/env bash
# The host program and the plug-in through Wine's own DirectShow: builds the
# x86_64 Windows programs (with the vorkvcam filter) and the Linux test driver,
# then runs the camera cases against Wine in a fresh prefix that is removed
# afterwards. Needs wine64 (Debian: apt-get install wine64).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x /usr/lib/wine/wine64 ] || { echo "wine64 is not installed (apt-get install wine64)"; exit 1; }
cmake --preset mingw-x86_64 >/dev/null
cmake --build --preset mingw-x86_64
cmake --preset default >/dev/null
cmake --build --preset default --target camera_platforms_test
start=$(date +%s)
VORK_WINE_BIN=build/mingw-x86_64/bin build/default/bin/camera_platforms_test --gtest_filter='*Wine*' "$@"
echo "Wine tests took $(( $(date +%s) - start )) s"
