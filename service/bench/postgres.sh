#!/usr/bin/env bash
# The PostgreSQL rows of service/bench/run.sh: distinct reports stored per second and their p99 at 64
# connections, with one service instance on a private PostgreSQL (tools/pg-cluster.sh), and with two
# instances on it behind nginx balancing them as deployed (deploy/nginx-report-service.conf). Same wrk script
# and table columns as run.sh.
#   service/bench/postgres.sh SECONDS WORKDIR [report-service binary]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-10}
work=${2:?usage: $0 SECONDS WORKDIR [BINARY]}
connections=64
binary=${3:-$here/build/host/service/report-service}
[ -x "$binary" ] || cmake --build "$here/build/host" --target report-service >/dev/null
mkdir -p "$work"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  [ -f "$work/nginx/nginx.pid" ] && kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true
  "$here/tools/pg-cluster.sh" stop "$cluster" >/dev/null 2>&1 || true
  rm -rf "$cluster"
}
trap cleanup EXIT

# Under build/, where the unprivileged server can reach it (a private temporary folder is closed to it).
cluster=$here/build/bench-pg
url=$("$here/tools/pg-cluster.sh" start "$cluster")
psql=/usr/lib/postgresql/15/bin/psql

start_instance() {  # name db -> sets port, adds to pids
  local out="$work/$1.out"
  local unbounded=()
  "$binary" --help | grep -- --max-enrolments-per-address >/dev/null && unbounded=(--max-enrolments-per-address 0)
  "$binary" --listen 127.0.0.1:0 --db "$2" --admin-token bench --rate 0 --quiet "${unbounded[@]}" >"$out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out")
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "bench: instance $1 did not start:" >&2
  cat "$out" >&2
  exit 1
}

measure() {  # base-url run-number -> "rps p99ms ok bad socket-errors"
  BENCH_PATH=/act/score/pcinfo/add BENCH_RUN=$2 wrk -t2 -c$connections -d"${seconds}s" -s "$here/service/bench/post.lua" \
    "$1" | sed -n 's/^RESULT //p'
}

row() {  # label rps p99 ok bad err: the columns of run.sh's table
  printf '%-36s %12s %10s %10s %10s\n' "$1" "$2" "$3" "$4" "$(($5 + $6))"
}

fresh() {  # a new database in the cluster -> its URL
  "$psql" -qX -d "${url%/*}/postgres" -c "DROP DATABASE IF EXISTS $1 WITH (FORCE)" -c "CREATE DATABASE $1" >/dev/null 2>&1
  echo "${url%/*}/$1"
}

# One instance.
db1=$(fresh bench_one)
start_instance one "$db1"
BENCH_PATH=/act/score/pcinfo/add BENCH_RUN=90 wrk -t1 -c4 -d1s -s "$here/service/bench/post.lua" "http://127.0.0.1:$port" >/dev/null
read -r rps p99 ok bad err < <(measure "http://127.0.0.1:$port" 11)
row "PostgreSQL, 1 instance, reports" "$rps" "$p99" "$ok" "$bad" "$err"
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

# Two instances behind nginx.
db2=$(fresh bench_two)
start_instance a "$db2"
port_a=$port
start_instance b "$db2"
port_b=$port
mkdir -p "$work/nginx/logs"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon on;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/nginx/tmp-body; proxy_temp_path $work/nginx/tmp-proxy;
    fastcgi_temp_path $work/nginx/tmp-fcgi; uwsgi_temp_path $work/nginx/tmp-uwsgi; scgi_temp_path $work/nginx/tmp-scgi;
    upstream report_service {
        least_conn;
        server 127.0.0.1:$port_a;
        server 127.0.0.1:$port_b;
        keepalive 64;
    }
    server {
        listen 127.0.0.1:0;
        location / {
            proxy_pass http://report_service;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
        }
    }
}
CONF
# nginx has no "any free port": take one from the kernel and hand it over.
lb_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -i "s/listen 127.0.0.1:0;/listen 127.0.0.1:$lb_port;/" "$work/nginx/nginx.conf"
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf"
BENCH_PATH=/act/score/pcinfo/add BENCH_RUN=91 wrk -t1 -c4 -d1s -s "$here/service/bench/post.lua" "http://127.0.0.1:$lb_port" >/dev/null
read -r rps p99 ok bad err < <(measure "http://127.0.0.1:$lb_port" 12)
row "PostgreSQL, 2 behind nginx, reports" "$rps" "$p99" "$ok" "$bad" "$err"
echo "enrolments in PostgreSQL (1 and 2 instances): $("$psql" -qAtX -d "$db1" -c 'SELECT count(*) FROM enrolments') and $("$psql" -qAtX -d "$db2" -c 'SELECT count(*) FROM enrolments')"
