#!/usr/bin/env bash
# make run: the report service on loopback and the checker under Wine.
#   With a display: the window opens there; the survey log appears in this terminal (-DebugWindow).
#   Without one: a virtual display; one check is driven with the given account, the survey log and the
#   reply are printed, and a screenshot is saved under build/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
account=${1:-player1}
exe="$here/build/win64/ZorvDownloader.exe"
service="$here/build/host/service/report-service"
[ -f "$exe" ] || { echo "run: $exe is not built" >&2; exit 1; }
[ -x "$service" ] || { echo "run: $service is not built" >&2; exit 1; }

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  "$here/tools/wine-env.sh" down
}
trap cleanup EXIT INT TERM

mkdir -p "$here/var"
"$service" --listen 127.0.0.1:8360 --db "$here/var/reports.db" > "$here/build/run-service.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do
  grep -q 'listening' "$here/build/run-service.log" 2>/dev/null && break
  kill -0 "${pids[0]}" 2>/dev/null || { cat "$here/build/run-service.log" >&2; exit 1; }
  sleep 0.1
done
echo "run: report service on http://127.0.0.1:8360 (log: build/run-service.log)"

if [ -n "${DISPLAY:-}" ] && [ -z "${ZORV_HEADLESS:-}" ]; then
  "$here/tools/wine-env.sh" up
  eval "$("$here/tools/wine-env.sh" env)"
  echo "run: starting the checker on $DISPLAY; close its window to finish"
  /usr/lib/wine/wine64 "$exe" -DebugWindow
else
  unset DISPLAY
  "$here/tools/wine-env.sh" up
  /usr/bin/python3 "$here/tools/drive-check.py" "$account" "$here/build/run-screenshot.png"
fi
