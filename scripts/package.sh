#!/usr/bin/env bash
# Builds the Windows packages, build/packages/vorkgrab-<version>-win64.zip and
# -win32.zip: the plug-in and the framework's DLLs, vorkgrab.exe, vorkvcam.dll,
# cameras/ and a short text for Windows users. Needs the cross builds
# (bash scripts/cross.sh) and checks the DLLs' exports in each package.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(VORKDirectShowGrabber VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt's project()"; exit 1; }
files=(VORKDirectShowGrabber.dll VORKGrabberBase.dll VORKCameraConfig.dll vorkgrab.exe vorkvcam.dll)
mkdir -p build/packages
for pair in win64:x86_64 win32:i686; do
  name=vorkgrab-$version-${pair%%:*}
  bin=build/mingw-${pair##*:}/bin
  # The architecture in the staging path tells check-exports.sh which objdump to use.
  stage=build/packages/${pair##*:}/$name
  rm -rf "$stage" "build/packages/$name.zip"
  mkdir -p "$stage"
  for f in "${files[@]}"; do cp "$bin/$f" "$stage/"; done
  cp -r cameras "$stage/"
  sed 's/$/\r/' packaging/README-windows.txt >"$stage/README.txt"
  bash scripts/check-exports.sh "$stage/vorkvcam.dll"
  [ "${pair##*:}" = x86_64 ] || bash scripts/check-exports.sh "$stage/VORKDirectShowGrabber.dll"
  (cd "build/packages/${pair##*:}" && cmake -E tar cf "../$name.zip" --format=zip "$name")
  listed=$(cd build/packages && cmake -E tar tf "$name.zip" | sort | tr '\n' ' ')
  for f in "${files[@]}" README.txt cameras/webcam.ini; do
    case " $listed " in *" $name/$f "*) ;; *) echo "$name.zip lacks $f"; exit 1 ;; esac
  done
  echo "packaged build/packages/$name.zip"
done
