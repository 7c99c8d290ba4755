#!/usr/bin/env bash
# A private PostgreSQL for tests and benchmarks: its own data folder, a free loopback port, no system service.
#   tools/pg-cluster.sh start DIR     creates the cluster on first use, starts it, writes DIR/url and prints it
#   tools/pg-cluster.sh restart DIR   a fast restart on the same port (clients see their connections drop)
#   tools/pg-cluster.sh stop DIR      stops it (the data stays in DIR until it is removed)
#   tools/pg-cluster.sh halt DIR      stops the server only, as when the database goes away
#   tools/pg-cluster.sh resume DIR    starts a halted server again on its port
# PostgreSQL refuses to run as root, so as root the cluster belongs to nobody; when nobody cannot reach DIR
# (a checkout below a private home folder), the server's files go to a folder of their own under /tmp, named
# in DIR/home and removed by stop. The URL names the role "report" (a superuser of this cluster, trust on
# loopback) and the database "reports".
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
action=${1:-}
dir=${2:-}
[ -n "$action" ] && [ -n "$dir" ] || { echo "usage: $0 start|restart|stop|halt|resume DIR" >&2; exit 2; }
[ -x "$bin/pg_ctl" ] || { echo "pg-cluster: $bin/pg_ctl is missing (tools/setup.sh installs postgresql)" >&2; exit 1; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

as_owner=()
home=$dir
if [ "$(id -u)" -eq 0 ]; then
  as_owner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  if [ -f "$dir/home" ]; then
    home=$(cat "$dir/home")
  else
    chown nobody:nogroup "$dir"
    if ! "${as_owner[@]}" test -w "$dir"; then
      home=$(mktemp -d /tmp/pg-cluster.XXXXXX)
      chmod 0711 "$home"
      chown nobody:nogroup "$home"
      echo "$home" >"$dir/home"
    fi
  fi
fi
data=$home/data
run() { "${as_owner[@]}" "$@"; }
running() { [ -f "$data/PG_VERSION" ] && run "$bin/pg_ctl" -D "$data" status >/dev/null 2>&1; }

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start() {
  if [ ! -f "$data/PG_VERSION" ]; then
    rm -rf "$data"
    run "$bin/initdb" -D "$data" -U report -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
  fi
  # A cluster left running by an interrupted run holds the folder: stop it first.
  if running; then run "$bin/pg_ctl" -D "$data" -m fast -w stop >/dev/null; fi
  # A port found free can be taken before the server binds it: try a few.
  local port
  for _ in 1 2 3 4 5; do
    port=$(free_port)
    if run "$bin/pg_ctl" -D "$data" -l "$home/server.log" -w -t 60 \
        -o "-p $port -k $home -c listen_addresses=127.0.0.1 -c max_connections=200" start >/dev/null; then
      echo "$port" >"$dir/port"
      if ! "$bin/psql" -qAtX -h 127.0.0.1 -p "$port" -U report -d postgres \
          -c "SELECT 1 FROM pg_database WHERE datname = 'reports'" | grep -q 1; then
        "$bin/psql" -qX -h 127.0.0.1 -p "$port" -U report -d postgres -c "CREATE DATABASE reports" >/dev/null
      fi
      echo "postgresql://report@127.0.0.1:$port/reports" | tee "$dir/url"
      return 0
    fi
  done
  echo "pg-cluster: the server did not start; its log:" >&2
  tail -n 20 "$home/server.log" >&2 || true
  exit 1
}

stop() {
  if running; then run "$bin/pg_ctl" -D "$data" -m fast -w -t 60 stop >/dev/null; fi
  if [ "$home" != "$dir" ]; then rm -rf "$home" "$dir/home"; fi
}

case "$action" in
  start) start ;;
  restart) running || { echo "pg-cluster: not running" >&2; exit 1; }
           run "$bin/pg_ctl" -D "$data" -l "$home/server.log" -m fast -w -t 60 restart >/dev/null ;;
  stop) stop ;;
  halt) if running; then run "$bin/pg_ctl" -D "$data" -m fast -w -t 60 stop >/dev/null; fi ;;
  resume) run "$bin/pg_ctl" -D "$data" -l "$home/server.log" -w -t 60 \
            -o "-p $(cat "$dir/port") -k $home -c listen_addresses=127.0.0.1 -c max_connections=200" start >/dev/null ;;
  *) echo "usage: $0 start|restart|stop|halt|resume DIR" >&2; exit 2 ;;
esac
