#!/usr/bin/env bash
# Runs every libFuzzer target in build/fuzz for the given number of seconds each and prints one line per
# target: runs done and whether anything was found. Exits non-zero when a target finds a fault (its input
# is kept in build/fuzz/findings/) or does not run.
#   tools/fuzz.sh SECONDS [target …]
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=$here/build/fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(command_line reply payload_roundtrip report_parse form_url html_csv draw_list)
mkdir -p "$build/findings"
failed=0
for t in "${targets[@]}"; do
  exe=$build/${t}_fuzz
  if [ ! -x "$exe" ]; then
    echo "fuzz $t: FAILED, $exe is not built"
    failed=1
    continue
  fi
  # The seeds are copied into a working corpus, so what a run learns stays out of the source tree.
  corpus=$build/corpus/$t
  mkdir -p "$corpus"
  cp -n "$here/fuzz/corpus/$t/"* "$corpus/" 2>/dev/null || true
  log=$build/$t.log
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$t-" "$corpus" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  if [ $rc -eq 0 ]; then
    echo "fuzz $t: ${runs:-?} runs in ${seconds} s, no finding"
  else
    echo "fuzz $t: FAILED (exit $rc) after ${runs:-?} runs; the input is in $build/findings/, the log says:"
    grep -E 'ERROR|property failed|SUMMARY|runtime error|Test unit written' "$log" | head -8 | sed 's/^/    /'
    failed=1
  fi
done
exit $failed
