-- Version 5: enrolments support revoked, kept aside so they can be restored, and the reports found by the
-- support desk's search (account, machine, computer name in any case of ASCII letters, address) by index.
CREATE TABLE revoked_enrolments(
  report_id bigint PRIMARY KEY REFERENCES reports(id),
  account text NOT NULL,
  account_key text NOT NULL,
  machine_key text NOT NULL,
  fingerprint text NOT NULL,
  points integer NOT NULL,
  enrolled_at bigint NOT NULL,
  revoked_at bigint NOT NULL);
CREATE INDEX revoked_enrolments_by_account ON revoked_enrolments(account_key, revoked_at);
CREATE INDEX reports_by_account ON reports(account_key);
-- A machine without a MAC has a key as long as its survey: only its start is indexed, so the index stays small
-- (and within PostgreSQL's size for an index row).
CREATE INDEX reports_by_machine ON reports(substr(machine_key, 1, 80));
CREATE INDEX reports_by_computer_name ON reports(upper(computer_name COLLATE "C"));
CREATE INDEX reports_by_remote ON reports(remote);
