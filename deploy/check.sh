#!/usr/bin/env bash
# Checks the deployment files with the tools that will read them: nginx -t on the site (with a throw-away
# certificate), the site started in front of no running instance on loopback ports, whose own refusals
# (502, 413, 429) must be the service's JSON shape, and systemd-analyze verify on the unit (pointing at
# the built program).
#   deploy/check.sh BINARY WORKDIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=$(realpath "$1")
work=$2
rm -rf "$work" && mkdir -p "$work/logs"

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=report.example.com \
  -keyout "$work/privkey.pem" -out "$work/fullchain.pem" 2>/dev/null
sed "s|/etc/ssl/report-service/|$work/|; s|/etc/nginx/report-service-proxy.inc|$here/report-service-proxy.inc|;
     s|/etc/nginx/report-service-errors.inc|$here/report-service-errors.inc|" \
  "$here/nginx-report-service.conf" >"$work/site.conf"
# The workers of a master started as root would run as nobody, who cannot write the temporary folders here.
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
cat >"$work/nginx.conf" <<CONF
$user_line
pid $work/nginx.pid;
error_log $work/logs/error.log;
events {}
http {
    access_log off;
    client_body_temp_path $work/tmp-body; proxy_temp_path $work/tmp-proxy; fastcgi_temp_path $work/tmp-fcgi;
    uwsgi_temp_path $work/tmp-uwsgi; scgi_temp_path $work/tmp-scgi;
    include $work/site.conf;
}
CONF
nginx -t -q -p "$work" -c "$work/nginx.conf"
echo "ok: nginx accepts the site"

# The same site on free loopback ports, its upstream a port nothing listens on: every report it passes on
# fails, as with every instance stopped.
read -r http_port tls_port dead_port < <(python3 -c '
import socket
socks = [socket.socket() for _ in range(3)]
for s in socks: s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in socks])')
sed -i "s|listen 80;|listen 127.0.0.1:$http_port;|; s|listen 443 ssl http2;|listen 127.0.0.1:$tls_port ssl http2;|;
        /listen \[::\]/d; s|server 127.0.0.1:836[0-9]|server 127.0.0.1:$dead_port|" "$work/site.conf"
nginx -q -p "$work" -c "$work/nginx.conf"
trap 'kill "$(cat "$work/nginx.pid" 2>/dev/null)" 2>/dev/null || true' EXIT
python3 - "http://127.0.0.1:$http_port/act/score/pcinfo/add" <<'PY'
import json, sys, urllib.error, urllib.request

url = sys.argv[1]

def post(body):
    req = urllib.request.Request(url, data=body, headers={"Content-Type": "Application/json"})
    try:
        with urllib.request.urlopen(req, timeout=10) as res:
            return res.status, res.headers.get("Content-Type", ""), res.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers.get("Content-Type", ""), e.read()

def reply_shape(status, kind, body):
    pairs = json.loads(body.decode("utf-8"), object_pairs_hook=list)
    key, message = pairs[-1]
    if key != "message" or not any("\u4e00" <= c <= "\u9fff" for c in message):
        sys.exit(f"FAIL: {status} is not a reply with a Chinese message last: {body!r}")
    if not kind.startswith("application/json"):
        sys.exit(f"FAIL: {status} is {kind}, not JSON")
    return message

seen = {}
for status, kind, body in [post(b'{"param":[]}'), post(b"x" * 17000)] + [post(b"{}") for _ in range(60)]:
    if status not in seen:
        seen[status] = reply_shape(status, kind, body)
for status in (502, 413, 429):
    if status not in seen:
        sys.exit(f"FAIL: no {status} came back (got {sorted(seen)})")
    print(f"ok: nginx answers {status} with {seen[status]}")
PY

sed "s|/usr/local/bin/report-service|$binary|" "$here/report-service@.service" >"$work/report-service@.service"
touch "$work/admin-token" "$work/pgpass"
sed -i "s|/etc/report-service/|$work/|g" "$work/report-service@.service"
ln -sf "report-service@.service" "$work/report-service@8361.service"
out=$(systemd-analyze verify --man=no "$work/report-service@8361.service" 2>&1 || true)
if [ -n "$out" ]; then echo "$out"; echo "FAIL: systemd-analyze verify complained"; exit 1; fi
echo "ok: systemd accepts the unit"
