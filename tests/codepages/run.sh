#!/usr/bin/env bash
# One code page's table under Wine with the real code page, read back by the report service's parser:
# unit_tests runs its code-page table in a prefix whose locale gives that ANSI code page, writing every
# payload with its Content-Type, and the host build's service_tests reads each one back as typed.
#   tests/codepages/run.sh LOCALE CODEPAGE WINDOWS_BUILD HOST_BUILD
# e.g. tests/codepages/run.sh zh_TW.UTF-8 950 build/win32 build/host
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
locale=$1 codepage=$2
windows=$(cd "$3" && pwd) host=$(cd "$4" && pwd)
[ -x "$host/tests/service/service_tests" ] || { echo "FAIL: $host/tests/service/service_tests is not built"; exit 1; }
if ! locale -a 2>/dev/null | grep -qi "^${locale%%.*}\.utf-\?8$"; then
  # Wine would silently fall back to 1252: the table would be another code page's.
  echo "FAIL: the locale $locale is not generated (tools/setup.sh does it)"; exit 1
fi
export ZORV_WINE_LANG=$locale ZORV_WINE_STATE=$windows/wine-${locale%%.*}
dump=$(mktemp /tmp/zorv-codepage-$codepage-XXXXXX)
trap '[ -n "${ZORV_KEEP_DUMP:-}" ] || rm -f "$dump"; "$here/tools/wine-env.sh" down' EXIT
"$here/tools/wine-env.sh" up
# The test is named after the system's code page: no match means the prefix has another one.
out=$(ZORV_CODEPAGE_DUMP="Z:$(echo "$dump" | tr / '\\')" "$here/tools/wine-env.sh" run "$windows/tests/unit_tests.exe" \
        --gtest_filter="*CodePageTable*/cp$codepage" 2>&1 | tr -d '\r') || { echo "$out"; echo "FAIL: the table under Wine"; exit 1; }
echo "$out" | grep -E '^\[ +(OK|FAILED) +\]|Failure' || true
echo "$out" | grep -q '^\[  PASSED  \] 1 test' || { echo "$out" | tail -20; echo "FAIL: no table ran for code page $codepage"; exit 1; }
echo "under Wine with $locale: $(wc -l <"$dump") characters of code page $codepage written"
ZORV_CODEPAGE_DUMP=$dump "$host/tests/service/service_tests" \
  --gtest_filter=ParseReport.PayloadsMadeByAWindowsCodePageComeBackAsTyped | grep -v -E '^(Running main|Note: Google|\[-|\[=|$)' 
