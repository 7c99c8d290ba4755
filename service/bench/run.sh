#!/usr/bin/env bash
# Benchmark of the report service on loopback: distinct reports per second and their p99 latency at 64
# connections, beside a fixed JSON reply that stores nothing (the HTTP layer's own limit), in one run.
#   service/bench/run.sh [seconds]      (builds build/host first if needed; needs wrk)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-10}
connections=64
command -v wrk >/dev/null || { echo "bench: wrk is not installed (tools/packages.txt lists it)" >&2; exit 1; }
binary="$here/build/host/service/report-service"
[ -x "$binary" ] || cmake --build "$here/build/host" --target report-service >/dev/null

work=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$binary" --listen 127.0.0.1:0 --db "$work/bench.db" --admin-token bench --bench-endpoint --quiet >"$work/out" 2>&1 &
pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "bench: the service did not start:"; cat "$work/out"; exit 1; } >&2

measure() {  # path run-number -> "rps p99ms ok bad socket-errors"
  BENCH_PATH=$1 BENCH_RUN=$2 wrk -t2 -c$connections -d"${seconds}s" -s "$here/service/bench/post.lua" \
    "http://127.0.0.1:$port" | sed -n 's/^RESULT //p'
}

echo "report service benchmark: $connections connections, ${seconds}s each, 2 wrk threads, $(nproc) cores"
# A short warm-up so both runs start from a running server and a created database.
BENCH_PATH=/bench/fixed BENCH_RUN=9 wrk -t1 -c4 -d1s -s "$here/service/bench/post.lua" "http://127.0.0.1:$port" >/dev/null
read -r fixed_rps fixed_p99 fixed_ok fixed_bad fixed_err < <(measure /bench/fixed 1)
read -r rep_rps rep_p99 rep_ok rep_bad rep_err < <(measure /act/score/pcinfo/add 2)
stored=$(sqlite3 "$work/bench.db" "SELECT count(*) FROM enrolments" 2>/dev/null || echo "?")

printf '%-34s %12s %12s %10s %10s\n' "" "requests/s" "p99 ms" "successes" "other"
printf '%-34s %12s %12s %10s %10s\n' "fixed reply, nothing stored" "$fixed_rps" "$fixed_p99" "$fixed_ok" "$((fixed_bad + fixed_err))"
printf '%-34s %12s %12s %10s %10s\n' "distinct reports, committed" "$rep_rps" "$rep_p99" "$rep_ok" "$((rep_bad + rep_err))"
awk -v r="$rep_rps" -v f="$fixed_rps" 'BEGIN { if (f > 0) printf "reports / fixed reply: %.3f (%.1f%% of the HTTP limit)\n", r / f, 100 * r / f }'
echo "enrolments in the database: $stored"
