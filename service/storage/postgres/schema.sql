-- The PostgreSQL schema, version 2 (numbered like the SQLite schema it matches): the rules as UNIQUE
-- constraints; the dashboard's counters spread over shards so instances do not queue on one row.
CREATE TABLE reports(
  id bigserial PRIMARY KEY,
  received_at bigint NOT NULL,
  remote text NOT NULL,
  outcome text NOT NULL,
  points integer NOT NULL DEFAULT 0,
  account text NOT NULL, account_key text NOT NULL, mac text, cpu_name text, cpu_count bigint,
  clock_mhz bigint, memory_mb text, displays text, resolution text, os text, computer_name text,
  machine_key text,
  raw bytea);
CREATE TABLE enrolments(
  account text NOT NULL,
  account_key text NOT NULL CONSTRAINT enrolments_one_per_account UNIQUE,
  machine_key text NOT NULL CONSTRAINT enrolments_one_per_machine UNIQUE,
  fingerprint text NOT NULL,
  report_id bigint NOT NULL REFERENCES reports(id),
  points integer NOT NULL,
  enrolled_at bigint NOT NULL);
CREATE INDEX enrolments_by_fingerprint ON enrolments(fingerprint);
CREATE TABLE accounts(
  id bigserial PRIMARY KEY,
  name text NOT NULL,
  account_key text NOT NULL CONSTRAINT accounts_one_per_key UNIQUE,
  registered_at bigint NOT NULL,
  remote text NOT NULL);
CREATE TABLE malformed_samples(
  id bigserial PRIMARY KEY, received_at bigint NOT NULL, remote text NOT NULL, reason text NOT NULL,
  body bytea NOT NULL);
CREATE TABLE outcome_counts(outcome text NOT NULL, shard smallint NOT NULL DEFAULT 0, n bigint NOT NULL,
  PRIMARY KEY(outcome, shard));
CREATE TABLE timeline(hour bigint NOT NULL, shard smallint NOT NULL DEFAULT 0, successes bigint NOT NULL,
  refusals bigint NOT NULL, malformed bigint NOT NULL, PRIMARY KEY(hour, shard));
CREATE TABLE hardware_counts(aspect text NOT NULL, label text NOT NULL, shard smallint NOT NULL DEFAULT 0,
  n bigint NOT NULL, PRIMARY KEY(aspect, label, shard));
