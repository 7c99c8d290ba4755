-- The SQLite schema, version 2: the rules as UNIQUE indexes, the dashboard's figures in small tables kept
-- in the same transaction as the reports they count.
CREATE TABLE schema_version(version INTEGER NOT NULL);
CREATE TABLE reports(
  id INTEGER PRIMARY KEY,
  received_at INTEGER NOT NULL,
  remote TEXT NOT NULL,
  outcome TEXT NOT NULL,
  points INTEGER NOT NULL DEFAULT 0,
  account TEXT NOT NULL, account_key TEXT NOT NULL, mac TEXT, cpu_name TEXT, cpu_count INTEGER,
  clock_mhz INTEGER, memory_mb TEXT, displays TEXT, resolution TEXT, os TEXT, computer_name TEXT,
  machine_key TEXT,
  raw BLOB);
CREATE TABLE enrolments(
  account TEXT NOT NULL,
  account_key TEXT NOT NULL,
  machine_key TEXT NOT NULL,
  fingerprint TEXT NOT NULL,
  report_id INTEGER NOT NULL REFERENCES reports(id),
  points INTEGER NOT NULL,
  enrolled_at INTEGER NOT NULL);
CREATE UNIQUE INDEX enrolments_one_per_account ON enrolments(account_key);
CREATE UNIQUE INDEX enrolments_one_per_machine ON enrolments(machine_key);
CREATE INDEX enrolments_by_fingerprint ON enrolments(fingerprint);
CREATE TABLE accounts(
  name TEXT NOT NULL,
  account_key TEXT NOT NULL,
  registered_at INTEGER NOT NULL,
  remote TEXT NOT NULL);
CREATE UNIQUE INDEX accounts_by_key ON accounts(account_key);
CREATE TABLE malformed_samples(
  id INTEGER PRIMARY KEY, received_at INTEGER NOT NULL, remote TEXT NOT NULL, reason TEXT NOT NULL, body BLOB NOT NULL);
CREATE TABLE outcome_counts(outcome TEXT PRIMARY KEY, n INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE timeline(hour INTEGER PRIMARY KEY, successes INTEGER NOT NULL DEFAULT 0,
  refusals INTEGER NOT NULL DEFAULT 0, malformed INTEGER NOT NULL DEFAULT 0);
CREATE TABLE hardware_counts(aspect TEXT NOT NULL, label TEXT NOT NULL, n INTEGER NOT NULL,
  PRIMARY KEY(aspect, label)) WITHOUT ROWID;
INSERT INTO schema_version(version) VALUES(2);
