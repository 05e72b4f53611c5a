#!/usr/bin/env bash
# The win64 package as a Windows user meets it: unzipped into a new folder and a
# fresh Wine prefix, then every step of its README.txt typed as it stands, up to
# a saved picture. Needs wine64 and bash scripts/package.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
zip=$(ls build/packages/vorkgrab-*-win64.zip)
work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$OLDPWD/$zip")
folder=$(ls -d "$work"/vorkgrab-*-win64)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="winealsa.drv,winepulse.drv=d"
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
steps=0
while IFS= read -r line; do
  command=${line#*> }
  command=${command%$'\r'}
  echo "> $command"
  (cd "$folder" && /usr/lib/wine/wine64 cmd /c "$command") || { echo "step failed: $command"; exit 1; }
  steps=$((steps + 1))
done < <(grep '^ *> ' "$folder/README.txt")
[ "$steps" -ge 5 ] || { echo "only $steps steps found in README.txt"; exit 1; }
head -c 8 "$folder/snap.png" | od -An -tx1 | grep -q '89 50 4e 47' || { echo "snap.png is not a PNG picture"; exit 1; }
grep -q 'GrabWidth=320' "$folder/vork.ini" || { echo "vork.ini keeps no size"; exit 1; }
echo "the win64 package's $steps steps gave a picture"
