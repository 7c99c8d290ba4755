-- Version 4: the table each body was read by, kept beside it so the export reads it the same way; refused
-- reports past the kept bound summarised per UTC day and outcome; fingerprints kept as fixed-size hashes
-- (the first 128 bits of SHA-256 in hex, as the program computes them), so a long display list is not
-- repeated in every key.
ALTER TABLE reports ADD COLUMN code_page integer;
CREATE INDEX reports_refused ON reports(id) WHERE outcome <> 'success';
CREATE TABLE refused_summary(day bigint NOT NULL, outcome text NOT NULL, n bigint NOT NULL,
  PRIMARY KEY(day, outcome));
-- A fingerprint's text always has its two unit separators; a hash has none, so nothing is hashed twice.
UPDATE enrolments SET fingerprint = substr(encode(sha256(convert_to(fingerprint, 'UTF8')), 'hex'), 1, 32)
  WHERE strpos(fingerprint, chr(31)) > 0;
UPDATE enrolments SET machine_key = 'fp:' || substr(encode(sha256(convert_to(substr(machine_key, 4), 'UTF8')), 'hex'), 1, 32)
  WHERE left(machine_key, 3) = 'fp:' AND strpos(machine_key, chr(31)) > 0;
UPDATE reports SET machine_key = 'fp:' || substr(encode(sha256(convert_to(substr(machine_key, 4), 'UTF8')), 'hex'), 1, 32)
  WHERE left(machine_key, 3) = 'fp:' AND strpos(machine_key, chr(31)) > 0;
