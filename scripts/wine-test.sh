#!/usr/bin/env bash
# The host program and the plug-in through Wine's own DirectShow: builds the
# x86_64 Windows programs (with the vorkvcam filter) and the Linux test driver,
# then runs the camera cases against Wine in a fresh prefix that is removed
# afterwards; each case starts with none of vorkvcam's cameras registered or
# unplugged. Needs wine64 (Debian: apt-get install wine64).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x /usr/lib/wine/wine64 ] || { echo "wine64 is not installed (apt-get install wine64)"; exit 1; }
# VORK_MINGW_BUILD and VORK_LINUX_BUILD build elsewhere than the presets' folders.
mingw=${VORK_MINGW_BUILD:-build/mingw-x86_64}
linux=${VORK_LINUX_BUILD:-build/default}
cmake --preset mingw-x86_64 -B "$mingw" >/dev/null
cmake --build "$mingw"
cmake --preset default -B "$linux" >/dev/null
cmake --build "$linux" --target camera_platforms_test
start=$(date +%s)
VORK_WINE_BIN="$mingw/bin" "$linux/bin/camera_platforms_test" --gtest_filter='*Wine*' "$@"
echo "Wine tests took $(( $(date +%s) - start )) s"
