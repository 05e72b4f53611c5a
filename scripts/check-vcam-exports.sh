#!/usr/bin/env bash
# Checks that a build of the virtual camera exports the COM server's entry
# points under their plain names, as regsvr32 and CoCreateInstance look them up.
set -euo pipefail
dll="$1"
objdump_tool=i686-w64-mingw32-objdump
case "$dll" in *x86_64*) objdump_tool=x86_64-w64-mingw32-objdump ;; esac
exports=$("$objdump_tool" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on&&NF==0{on=0} on{print $NF}')
fail=0
for name in DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer DllInstall; do
  grep -qx -- "$name" <<<"$exports" || { echo "missing export: $name"; fail=1; }
done
[ "$fail" -eq 0 ] || { echo "export check failed for $dll"; exit 1; }
echo "export check passed: $dll"
