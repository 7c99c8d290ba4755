#!/usr/bin/env bash
# check-pe.sh MACHINE FILE…: each FILE is a Windows program for MACHINE (i386 or x86-64) that imports no
# MinGW runtime DLL, so it runs when copied alone, and, where it keeps its symbols, has no import slot left
# at 0 (tools/pe-import-slots.py).
set -euo pipefail
machine=$1; shift
case $machine in i386) prefix=i686-w64-mingw32 ;; *) prefix=x86_64-w64-mingw32 ;; esac
objdump=$prefix-objdump
here=$(cd "$(dirname "$0")" && pwd)
fail=0
for f in "$@"; do
  head=$($objdump -f "$f")
  if ! grep -q "file format pei-$machine" <<<"$head"; then
    echo "FAIL $f: not a pei-$machine program: $(grep 'file format' <<<"$head")"; fail=1; continue
  fi
  dlls=$($objdump -p "$f" | awk '/DLL Name:/ {print $3}' | sort -u | tr '\n' ' ')
  if grep -qiE 'libstdc\+\+|libgcc|libwinpthread|libcurl' <<<"$dlls"; then
    echo "FAIL $f: needs runtime DLLs: $dlls"; fail=1; continue
  fi
  if ! zero=$(/usr/bin/python3 "$here/pe-import-slots.py" "$prefix-nm" "$f"); then
    echo "FAIL $f: import slots at 0 (the first call through each jumps to address 0): $(tr '\n' ' ' <<<"$zero")"
    fail=1; continue
  fi
  echo "ok $f: pei-$machine, imports $dlls"
done
exit $fail
