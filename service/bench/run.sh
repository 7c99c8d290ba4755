#!/usr/bin/env bash
# Benchmark of the report service on loopback, printing figures (nothing is asserted):
#  1. distinct reports stored per second and their p99 latency at 64 connections, beside nginx answering a
#     fixed reply to the same wrk script in the same run (this machine's HTTP limit), and the service's own
#     fixed reply that stores nothing; on SQLite, then on PostgreSQL with one and with two instances;
#  2. the service's peak memory under a compressed-body attack and an oversized chunked upload;
#  3. the dashboard's time at a million stored reports;
#  4. the bytes stored per report at the largest the checker can send, and the time SIGTERM takes to stop
#     under load and when idle (with every stored report answered).
#   service/bench/run.sh [seconds] [report-service binary]   (default: this tree's build/host; needs wrk,
#                                                             nginx-light, python3, sqlite3)
# An older binary without --rate is measured the same way, its million reports written by SQL instead.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-10}
binary=${2:-$here/build/host/service/report-service}
seeder=$here/build/host/service/report-service-seed
million=${BENCH_REPORTS:-1000000}
connections=64
for tool in wrk nginx python3 sqlite3; do
  command -v $tool >/dev/null || [ -x /usr/sbin/$tool ] || { echo "bench: $tool is not installed (tools/packages.txt lists it)" >&2; exit 1; }
done
[ -x "$binary" ] || cmake --build "$here/build/host" --target report-service >/dev/null
[ -x "$seeder" ] || cmake --build "$here/build/host" --target report-service-seed >/dev/null
nginx=$(command -v nginx || echo /usr/sbin/nginx)
# The system's Python: the test scripts this reuses import Debian's modules (selenium), which another python3
# earlier on PATH may not have.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)

work=$(mktemp -d)
pid=""
stop_service() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; pid=""; fi
}
cleanup() {
  stop_service
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

new_binary=0
"$binary" --help | grep -- --rate >/dev/null && new_binary=1
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

start_service() {  # db -> sets pid and port
  local extra=()
  [ $new_binary = 1 ] && extra=(--rate 0)
  # Every benchmark report comes from loopback: no day's bound per address.
  "$binary" --help | grep -- --max-enrolments-per-address >/dev/null && extra+=(--max-enrolments-per-address 0)
  "$binary" --listen 127.0.0.1:0 --db "$1" --admin-token bench --bench-endpoint --quiet "${extra[@]}" >"$work/out" 2>&1 &
  pid=$!
  port=""
  for _ in $(seq 200); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "bench: the service did not start:"; cat "$work/out"; exit 1; } >&2
}

measure() {  # url path run-number -> "rps p99ms ok bad socket-errors"
  BENCH_PATH=$2 BENCH_RUN=$3 wrk -t2 -c$connections -d"${seconds}s" -s "$here/service/bench/post.lua" "$1" |
    sed -n 's/^RESULT //p'
}

# --- nginx: a fixed reply, its own throw-away configuration on loopback ---------------------------------
nport=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx.conf" <<CONF
worker_processes 2;
daemon on;
pid $work/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nport;
    location / { default_type application/json; return 200 '{"code":0,"points":20,"message":"ok"}'; }
  }
}
CONF
"$nginx" -c "$work/nginx.conf" -p "$work/nginx"

echo "report service benchmark: $connections connections, ${seconds}s each, 2 wrk threads, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "binary: $binary"
start_service "$work/bench.db"
BENCH_PATH=/bench/fixed BENCH_RUN=9 wrk -t1 -c4 -d1s -s "$here/service/bench/post.lua" "http://127.0.0.1:$port" >/dev/null
read -r nginx_rps nginx_p99 nginx_ok nginx_bad nginx_err < <(measure "http://127.0.0.1:$nport" /bench/fixed 0)
read -r fixed_rps fixed_p99 fixed_ok fixed_bad fixed_err < <(measure "http://127.0.0.1:$port" /bench/fixed 1)
read -r rep_rps rep_p99 rep_ok rep_bad rep_err < <(measure "http://127.0.0.1:$port" /act/score/pcinfo/add 2)
# 查询资格 for the accounts just enrolled, each request another one.
read -r st_rps st_p99 st_ok st_bad st_err < <(measure "http://127.0.0.1:$port" /status 2)
stop_service
stored=$(sqlite3 "$work/bench.db" "SELECT count(*) FROM enrolments" 2>/dev/null || echo "?")

printf '%-36s %12s %10s %10s %10s\n' "" "requests/s" "p99 ms" "successes" "other"
printf '%-36s %12s %10s %10s %10s\n' "nginx, fixed reply" "$nginx_rps" "$nginx_p99" "$nginx_ok" "$((nginx_bad + nginx_err))"
printf '%-36s %12s %10s %10s %10s\n' "service, fixed reply, nothing stored" "$fixed_rps" "$fixed_p99" "$fixed_ok" "$((fixed_bad + fixed_err))"
printf '%-36s %12s %10s %10s %10s\n' "service, distinct reports, committed" "$rep_rps" "$rep_p99" "$rep_ok" "$((rep_bad + rep_err))"
printf '%-36s %12s %10s %10s %10s\n' "service, GET /status (查询资格)" "$st_rps" "$st_p99" "$st_ok" "$((st_bad + st_err))"
awk -v r="$rep_rps" -v f="$nginx_rps" 'BEGIN { if (f > 0) printf "stored reports / nginx fixed reply: %.3f\n", r / f }'
echo "enrolments in the database: $stored"
# PostgreSQL: one instance, and two behind nginx, in the same run.
[ $new_binary = 1 ] && "$here/service/bench/postgres.sh" "$seconds" "$work/pg" "$binary"

# --- memory under attack ---------------------------------------------------------------------------------
start_service "$work/attack.db"
rss() { sed -n "s/^$1:[[:space:]]*\([0-9]*\) kB/\1/p" "/proc/$pid/status"; }
before=$(rss VmHWM)
python3 - "$port" <<'PY'
# 2 uploads of 1 MiB of gzip that inflate to 1 GiB each, one at a time (more would risk the machine for a
# service that inflates them), then 8 chunked uploads of 64 MiB, 4 at a time.
import socket, sys, threading, zlib
port = int(sys.argv[1])
z = zlib.compressobj(9, zlib.DEFLATED, 31)
block = bytes(1 << 20)
bomb = b"".join(z.compress(block) for _ in range(1024)) + z.flush()
def send(head, body_parts):
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=30)
        s.sendall(head)
        for part in body_parts:
            s.sendall(part)
        s.settimeout(30)
        while s.recv(65536):
            pass
    except OSError:
        pass  # refused and closed early: what a bounded service does
def gzip_attack():
    send(b"POST /act/score/pcinfo/add HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
         b"Content-Encoding: gzip\r\nConnection: close\r\nContent-Length: %d\r\n\r\n" % len(bomb), [bomb])
def chunked_attack():
    chunk = b"%x\r\n" % (1 << 20) + bytes(1 << 20) + b"\r\n"
    send(b"POST /act/score/pcinfo/add HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n",
         [chunk] * 64 + [b"0\r\n\r\n"])
for attack, rounds, width in ((gzip_attack, 2, 1), (chunked_attack, 2, 4)):
    for _ in range(rounds):
        threads = [threading.Thread(target=attack) for _ in range(width)]
        for t in threads: t.start()
        for t in threads: t.join()
PY
after=$(rss VmHWM)
echo "memory peak (VmHWM): $((before / 1024)) MiB at start, $((after / 1024)) MiB after 2 gzip bombs (1 MiB -> 1 GiB) and 8 chunked 64 MiB uploads"
stop_service

# --- dashboard at a million reports ----------------------------------------------------------------------
t0=$(date +%s.%N)
if [ $new_binary = 1 ]; then
  "$seeder" "$work/million.db" "$million"
else
  start_service "$work/million.db"; stop_service  # the old program creates its schema
  sqlite3 "$work/million.db" <<SQL
PRAGMA synchronous=OFF;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $million)
INSERT INTO reports(id, received_at, remote, outcome, points, account, mac, cpu_name, cpu_count, clock_mhz,
  memory_mb, displays, resolution, os, computer_name, machine_key, raw)
SELECT i, 1700000000 + i / 50, '127.0.0.1', 'success', 20, 'seed' || i, printf('02-00-00-%06X', i),
  'Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz', 4, 3292, '8192', 'GeForce GTX 960;NVIDIA GeForce GTX 960;2048;0',
  '1920 x 1080', 'Windows 10 Pro 64-Bit', 'PC' || i, printf('mac:020000%06X', i), '{"param":["seed' || i || '"]}'
FROM n;
INSERT INTO enrolments(account, machine_key, report_id, points, enrolled_at)
  SELECT account, machine_key, id, 20, received_at FROM reports;
SQL
fi
t1=$(date +%s.%N)
start_service "$work/million.db"
times=()
for _ in 1 2 3; do
  times+=("$(curl -s -o /dev/null -w '%{time_total}' --max-time 300 "http://127.0.0.1:$port/?token=bench")")
done
stop_service
awk -v a="$t0" -v b="$t1" -v n="$million" 'BEGIN { printf "seeded %d reports in %.0f s\n", n, b - a }'
echo "dashboard at $million reports: ${times[*]} s (three loads)"

# --- storage per report and stop time ----------------------------------------------------------------------
# The attack scripts' own figures: the largest report the checker can make, stored; SIGTERM under load.
if [ $new_binary = 1 ]; then
  "$python" "$here/tests/service/attacks.py" fields "$binary" "$work/fields" | sed -n 's/^largest report/storage: largest report/p'
  "$python" "$here/tests/service/attacks.py" stop "$binary" "$work/stop" | sed -n 's/^\(run [0-9]*\|idle stop\)/stop: &/p'
fi
