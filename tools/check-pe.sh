#!/usr/bin/env bash
# check-pe.sh MACHINE FILE…: each FILE is a Windows program for MACHINE (i386 or x86-64) that imports no
# MinGW runtime DLL, so it runs when copied alone.
set -euo pipefail
machine=$1; shift
case $machine in i386) objdump=i686-w64-mingw32-objdump ;; *) objdump=x86_64-w64-mingw32-objdump ;; esac
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
  echo "ok $f: pei-$machine, imports $dlls"
done
exit $fail
