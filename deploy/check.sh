#!/usr/bin/env bash
# Checks the deployment files with the tools that will read them: nginx -t on the site (with a throw-away
# certificate) and systemd-analyze verify on the unit (pointing at the built program).
#   deploy/check.sh BINARY WORKDIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=$(realpath "$1")
work=$2
rm -rf "$work" && mkdir -p "$work/logs"

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=report.example.com \
  -keyout "$work/privkey.pem" -out "$work/fullchain.pem" 2>/dev/null
sed "s|/etc/ssl/report-service/|$work/|; s|/etc/nginx/report-service-proxy.inc|$here/report-service-proxy.inc|" \
  "$here/nginx-report-service.conf" >"$work/site.conf"
cat >"$work/nginx.conf" <<CONF
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

sed "s|/usr/local/bin/report-service|$binary|" "$here/report-service@.service" >"$work/report-service@.service"
touch "$work/admin-token" "$work/pgpass"
sed -i "s|/etc/report-service/|$work/|g" "$work/report-service@.service"
ln -sf "report-service@.service" "$work/report-service@8361.service"
out=$(systemd-analyze verify --man=no "$work/report-service@8361.service" 2>&1 || true)
if [ -n "$out" ]; then echo "$out"; echo "FAIL: systemd-analyze verify complained"; exit 1; fi
echo "ok: systemd accepts the unit"
