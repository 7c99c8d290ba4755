#!/usr/bin/env bash
# A private PostgreSQL for tests and benchmarks: its own data folder, a free loopback port, no system service.
#   tools/pg-cluster.sh start DIR     creates the cluster on first use, starts it, writes DIR/url and prints it
#   tools/pg-cluster.sh stop DIR      stops it (the data stays until DIR is removed)
#   tools/pg-cluster.sh restart DIR   stops and starts it on the same port
# PostgreSQL refuses to run as root, so as root the cluster belongs to nobody. The URL names the role
# "report" (a superuser of this cluster, trust on loopback) and the database "reports".
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
action=${1:-}
dir=${2:-}
[ -n "$action" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop|restart DIR" >&2; exit 2; }
[ -x "$bin/pg_ctl" ] || { echo "pg-cluster: $bin/pg_ctl is missing (tools/setup.sh installs postgresql)" >&2; exit 1; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
data=$dir/data

as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  as_owner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chown nobody:nogroup "$dir"
  setpriv --reuid=nobody --regid=nogroup --clear-groups test -w "$dir" ||
    { echo "pg-cluster: nobody cannot reach $dir (its parent folders need o+x)" >&2; exit 1; }
fi
run() { "${as_owner[@]}" "$@"; }

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start() {
  if [ ! -f "$data/PG_VERSION" ]; then
    rm -rf "$data"
    run "$bin/initdb" -D "$data" -U report -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
  fi
  local port=${1:-}
  # A cluster left running by an interrupted run holds the folder: stop it first.
  if run "$bin/pg_ctl" -D "$data" status >/dev/null 2>&1; then stop; fi
  # A port found free can be taken before the server binds it: try a few.
  for _ in 1 2 3 4 5; do
    [ -n "$port" ] || port=$(free_port)
    if run "$bin/pg_ctl" -D "$data" -l "$dir/server.log" -w -t 60 \
        -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c max_connections=200" start >/dev/null; then
      echo "$port" >"$dir/port"
      if ! "$bin/psql" -qAt -h 127.0.0.1 -p "$port" -U report -d postgres \
          -c "SELECT 1 FROM pg_database WHERE datname = 'reports'" | grep -q 1; then
        "$bin/psql" -q -h 127.0.0.1 -p "$port" -U report -d postgres -c "CREATE DATABASE reports" >/dev/null
      fi
      echo "postgresql://report@127.0.0.1:$port/reports" | tee "$dir/url"
      return 0
    fi
    [ -n "${1:-}" ] && break
    port=""
  done
  echo "pg-cluster: the server did not start; its log:" >&2
  tail -n 20 "$dir/server.log" >&2 || true
  exit 1
}

stop() {
  [ -f "$data/postmaster.pid" ] || return 0
  run "$bin/pg_ctl" -D "$data" -m fast -w -t 60 stop >/dev/null
}

case "$action" in
  start) start ;;
  stop) stop ;;
  restart) stop; start "$(cat "$dir/port")" ;;
  *) echo "usage: $0 start|stop|restart DIR" >&2; exit 2 ;;
esac
