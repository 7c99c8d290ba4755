-- The closed test's waves, beside the reports: added to any database at start (nothing else changes, so a
-- program without waves still reads the rest). A wave's frozen list and result are kept byte for byte, since
-- their hashes were published; an account is chosen once across all waves.
CREATE TABLE IF NOT EXISTS waves(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  params TEXT NOT NULL,
  state TEXT NOT NULL CHECK (state IN ('created', 'frozen', 'seeded', 'drawn', 'published')),
  created_at INTEGER NOT NULL, frozen_at INTEGER NOT NULL DEFAULT 0, seeded_at INTEGER NOT NULL DEFAULT 0,
  drawn_at INTEGER NOT NULL DEFAULT 0, published_at INTEGER NOT NULL DEFAULT 0,
  list_sha256 TEXT NOT NULL DEFAULT '', list_count INTEGER NOT NULL DEFAULT 0, seed TEXT NOT NULL DEFAULT '',
  result_sha256 TEXT NOT NULL DEFAULT '',
  eligible_machines INTEGER NOT NULL DEFAULT 0, chosen_machines INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS wave_files(
  wave_id INTEGER NOT NULL REFERENCES waves(id), kind TEXT NOT NULL CHECK (kind IN ('list', 'result')),
  body BLOB NOT NULL, PRIMARY KEY(wave_id, kind)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS wave_chosen(
  account_key TEXT PRIMARY KEY,
  wave_id INTEGER NOT NULL REFERENCES waves(id),
  account TEXT NOT NULL,
  code TEXT NOT NULL UNIQUE,
  withdrawn_at INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS wave_chosen_by_wave ON wave_chosen(wave_id);
CREATE TABLE IF NOT EXISTS wave_hardware(
  wave_id INTEGER NOT NULL REFERENCES waves(id), side TEXT NOT NULL CHECK (side IN ('eligible', 'chosen')),
  aspect TEXT NOT NULL, label TEXT NOT NULL, n INTEGER NOT NULL,
  PRIMARY KEY(wave_id, side, aspect, label)) WITHOUT ROWID;
