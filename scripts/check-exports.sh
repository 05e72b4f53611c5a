#!/usr/bin/env bash
# Checks that a Windows build of the plug-in exports InitDll and DeInitDll under
# their plain names and the grabber class whole, or, for vorkvcam.dll, that the
# virtual camera exports the COM server's entry points under their plain names,
# as regsvr32 and CoCreateInstance look them up.
set -euo pipefail
dll="$1"
objdump_tool=i686-w64-mingw32-objdump
case "$dll" in *x86_64*) objdump_tool=x86_64-w64-mingw32-objdump ;; esac
exports=$("$objdump_tool" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on&&NF==0{on=0} on{print $NF}')
fail=0
need() {
  if ! grep -qx -- "$1" <<<"$exports"; then echo "missing export: $1 ($2)"; fail=1; fi
}
if [ "$(basename "$dll")" = vorkvcam.dll ]; then
  for name in DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer DllInstall; do
    need "$name" "COM server"
  done
  [ "$fail" -eq 0 ] || { echo "export check failed for $dll"; exit 1; }
  echo "export check passed: $dll"
  exit 0
fi
need InitDll "plain name"
need DeInitDll "plain name"
class=22CVORKDirectShowGrabber
need "_ZTV$class" "virtual table"
need "_ZN${class}11m_hInstanceE" "m_hInstance"
need "_ZN${class}C1EPKwiS1_bj" "constructor"
need "_ZN${class}C1ERKS_" "copy constructor"
need "_ZN${class}aSERKS_" "assignment"
need "_ZN${class}D1Ev" "destructor"
# Every member function declared in the class header must be exported.
for f in $(grep -oE '\b[A-Z][A-Za-z]+\(' grabber/VORKDirectShowGrabber.h | tr -d '(' | sort -u); do
  case "$f" in CVORKDirectShowGrabber|CVORKGrabberBase|CComPtr|AreAllGraphsStopped|IsAnyContSnapRunning|StopAllGraphs|VORKAppendGrabber|VORKRemoveGrabber|LRESULT|HRESULT) continue ;; esac
  if ! grep -q -- "${class}${#f}${f}E" <<<"$exports"; then echo "missing method export: $f"; fail=1; fi
done
if [ "$fail" -ne 0 ]; then echo "export check failed for $dll"; exit 1; fi
echo "export check passed: $(wc -l <<<"$exports") exports in $dll"
