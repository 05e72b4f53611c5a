#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each for FUZZ_SECONDS (default
# 30) from its seed corpus, in a scratch copy. A crash, leak, sanitizer report or
# time-out fails the run and leaves its input in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-30}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
findings="$PWD/build/fuzz/findings"
mkdir -p "$findings"
status=0
for target in profile channel_ini camera_file property_bag; do
  corpus=$(mktemp -d)
  cp fuzz/corpus/"$target"/* "$corpus"/
  log="build/fuzz/$target.log"
  if (cd "$findings" && "$OLDPWD/build/fuzz/bin/fuzz_$target" -max_total_time="$seconds" -max_len=4096 \
        -timeout=25 -print_final_stats=1 "$corpus") >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz_$target: $runs runs in ${seconds} s, corpus $(ls "$corpus" | wc -l) inputs, no finding"
  else
    echo "fuzz_$target FAILED:"; tail -40 "$log"; status=1
  fi
  rm -rf "$corpus"
done
exit $status
