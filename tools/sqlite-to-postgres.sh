#!/usr/bin/env bash
# Copies a report service's SQLite database into an empty PostgreSQL one, for the move from one machine to
# several. Every table (reports with their raw bodies and the tables they were read by, enrolments standing and
# revoked, registrations, malformed samples, the refusals kept only as counts, the dashboard's figures, the
# waves, staff accounts and the audit log) goes over in one transaction: either all of it arrives or nothing
# does. Staff sessions do not: everyone signs in again.
#   tools/sqlite-to-postgres.sh SQLITE_FILE POSTGRESQL_URL
# Stop the service first. The PostgreSQL schema must exist and be empty: start report-service once with
# --db POSTGRESQL_URL (it creates the schema) and stop it again.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 SQLITE_FILE POSTGRESQL_URL" >&2; exit 2; }
src=$1
url=$2
psql=$(command -v psql || echo /usr/lib/postgresql/15/bin/psql)
[ -r "$src" ] || { echo "sqlite-to-postgres: cannot read $src" >&2; exit 1; }
case "$src" in *"'"*) echo "sqlite-to-postgres: the file name must not contain a quote" >&2; exit 1 ;; esac
version=$(sqlite3 -readonly "$src" "SELECT version FROM schema_version" 2>/dev/null || true)
[ "$version" = 5 ] || { echo "sqlite-to-postgres: $src has schema version '${version:-none}', this copies version 5 (start report-service on it once to move it up)" >&2; exit 1; }
target=$("$psql" -qAtX -d "$url" -c "SELECT (SELECT max(version) FROM schema_version), (SELECT count(*) FROM reports) + (SELECT count(*) FROM accounts)" 2>&1) ||
  { echo "sqlite-to-postgres: no schema in the PostgreSQL database yet (start report-service once with --db URL): $target" >&2; exit 1; }
[ "$target" = "5|0" ] || { echo "sqlite-to-postgres: the PostgreSQL database is not an empty version 5 schema ($target)" >&2; exit 1; }
# The staff tables of a file no staff command nor service of this version has opened: empty ones.
sqlite3 "$src" "SELECT 1 FROM staff LIMIT 0" >/dev/null 2>&1 || { echo "sqlite-to-postgres: $src has no staff tables (start report-service on it once)" >&2; exit 1; }

from() { printf "\\\\copy %s FROM PROGRAM 'sqlite3 -readonly -csv %s \"%s\"' WITH (FORMAT csv)\n" "$1" "$src" "$2"; }
{
  cat <<'SQL'
CREATE TEMP TABLE r(id bigint, received_at bigint, remote text, outcome text, points integer, account text,
  account_key text, mac text, cpu_name text, cpu_count bigint, clock_mhz bigint, memory_mb text, displays text,
  resolution text, os text, computer_name text, machine_key text, raw text, code_page integer);
CREATE TEMP TABLE m(id bigint, received_at bigint, remote text, reason text, body text);
SQL
  from r "SELECT id, received_at, remote, outcome, points, account, account_key, mac, cpu_name, cpu_count, clock_mhz, memory_mb, displays, resolution, os, computer_name, machine_key, CASE WHEN raw IS NULL THEN NULL ELSE hex(raw) END, code_page FROM reports"
  echo "INSERT INTO reports SELECT id, received_at, remote, outcome, points, account, account_key, mac, cpu_name, cpu_count, clock_mhz, memory_mb, displays, resolution, os, computer_name, machine_key, decode(raw, 'hex'), code_page FROM r;"
  from "enrolments(account, account_key, machine_key, fingerprint, report_id, points, enrolled_at)" \
    "SELECT account, account_key, machine_key, fingerprint, report_id, points, enrolled_at FROM enrolments ORDER BY rowid"
  from "accounts(id, name, account_key, registered_at, remote)" \
    "SELECT rowid, name, account_key, registered_at, remote FROM accounts"
  from m "SELECT id, received_at, remote, reason, hex(body) FROM malformed_samples"
  echo "INSERT INTO malformed_samples SELECT id, received_at, remote, reason, decode(body, 'hex') FROM m;"
  from "outcome_counts(outcome, n)" "SELECT outcome, n FROM outcome_counts"
  from "timeline(hour, successes, refusals, malformed)" "SELECT hour, successes, refusals, malformed FROM timeline"
  from "hardware_counts(aspect, label, n)" "SELECT aspect, label, n FROM hardware_counts"
  from "address_enrolments(day, address, n)" "SELECT day, address, n FROM address_enrolments"
  from "refused_summary(day, outcome, n)" "SELECT day, outcome, n FROM refused_summary"
  from "revoked_enrolments(report_id, account, account_key, machine_key, fingerprint, points, enrolled_at, revoked_at)" \
    "SELECT report_id, account, account_key, machine_key, fingerprint, points, enrolled_at, revoked_at FROM revoked_enrolments"
  from "waves(id, name, params, state, created_at, frozen_at, seeded_at, drawn_at, published_at, list_sha256, list_count, seed, result_sha256, eligible_machines, chosen_machines)" \
    "SELECT id, name, params, state, created_at, frozen_at, seeded_at, drawn_at, published_at, list_sha256, list_count, seed, result_sha256, eligible_machines, chosen_machines FROM waves"
  echo "CREATE TEMP TABLE wf(wave_id bigint, kind text, body text);"
  from wf "SELECT wave_id, kind, hex(body) FROM wave_files"
  echo "INSERT INTO wave_files SELECT wave_id, kind, decode(body, 'hex') FROM wf;"
  from "wave_chosen(account_key, wave_id, account, code, withdrawn_at)" \
    "SELECT account_key, wave_id, account, code, withdrawn_at FROM wave_chosen"
  from "wave_hardware(wave_id, side, aspect, label, n)" "SELECT wave_id, side, aspect, label, n FROM wave_hardware"
  from "staff(name, role, password_hash, disabled, created_at)" \
    "SELECT name, role, password_hash, disabled <> 0, created_at FROM staff"
  from "audit(id, at, actor, remote, action, subject, detail)" \
    "SELECT id, at, actor, remote, action, subject, detail FROM audit ORDER BY id"
  cat <<'SQL'
SELECT setval(pg_get_serial_sequence('reports', 'id'), (SELECT coalesce(max(id), 0) + 1 FROM reports), false);
SELECT setval(pg_get_serial_sequence('accounts', 'id'), (SELECT coalesce(max(id), 0) + 1 FROM accounts), false);
SELECT setval(pg_get_serial_sequence('malformed_samples', 'id'),
  (SELECT coalesce(max(id), 0) + 1 FROM malformed_samples), false);
SELECT setval(pg_get_serial_sequence('audit', 'id'), (SELECT coalesce(max(id), 0) + 1 FROM audit), false);
SELECT 'copied ' || (SELECT count(*) FROM reports) || ' reports, ' || (SELECT count(*) FROM enrolments) ||
  ' enrolments, ' || (SELECT count(*) FROM accounts) || ' registrations, ' ||
  (SELECT count(*) FROM staff) || ' staff, ' || (SELECT count(*) FROM audit) || ' audit entries';
SQL
} | "$psql" -qAtX -1 -v ON_ERROR_STOP=1 -d "$url" -f -
