-- Version 4: the table each body was read by, kept beside it so the export reads it the same way; refused
-- reports past the kept bound summarised per UTC day and outcome; fingerprints kept as fixed-size hashes
-- (fingerprint_hash, registered by the program), so a long display list is not repeated in every key.
ALTER TABLE reports ADD COLUMN code_page INTEGER;
CREATE INDEX reports_refused ON reports(id) WHERE outcome <> 'success';
CREATE TABLE refused_summary(day INTEGER NOT NULL, outcome TEXT NOT NULL, n INTEGER NOT NULL,
  PRIMARY KEY(day, outcome)) WITHOUT ROWID;
-- A fingerprint's text always has its two unit separators; a hash has none, so nothing is hashed twice.
UPDATE enrolments SET fingerprint = fingerprint_hash(fingerprint) WHERE instr(fingerprint, char(31)) > 0;
UPDATE enrolments SET machine_key = 'fp:' || fingerprint_hash(substr(machine_key, 4))
  WHERE substr(machine_key, 1, 3) = 'fp:' AND instr(machine_key, char(31)) > 0;
UPDATE reports SET machine_key = 'fp:' || fingerprint_hash(substr(machine_key, 4))
  WHERE substr(machine_key, 1, 3) = 'fp:' AND instr(machine_key, char(31)) > 0;
