-- The closed test's waves, beside the reports: added to any database at start (nothing else changes, so a
-- program without waves still reads the rest). A wave's frozen list and result are kept byte for byte, since
-- their hashes were published; an account is chosen once across all waves.
CREATE TABLE IF NOT EXISTS waves(
  id bigint PRIMARY KEY,
  name text NOT NULL,
  params text NOT NULL,
  state text NOT NULL CHECK (state IN ('created', 'frozen', 'seeded', 'drawn', 'published')),
  created_at bigint NOT NULL, frozen_at bigint NOT NULL DEFAULT 0, seeded_at bigint NOT NULL DEFAULT 0,
  drawn_at bigint NOT NULL DEFAULT 0, published_at bigint NOT NULL DEFAULT 0,
  list_sha256 text NOT NULL DEFAULT '', list_count bigint NOT NULL DEFAULT 0, seed text NOT NULL DEFAULT '',
  result_sha256 text NOT NULL DEFAULT '',
  eligible_machines bigint NOT NULL DEFAULT 0, chosen_machines bigint NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS wave_files(
  wave_id bigint NOT NULL REFERENCES waves(id), kind text NOT NULL CHECK (kind IN ('list', 'result')),
  body bytea NOT NULL, PRIMARY KEY(wave_id, kind));
CREATE TABLE IF NOT EXISTS wave_chosen(
  account_key text PRIMARY KEY,
  wave_id bigint NOT NULL REFERENCES waves(id),
  account text NOT NULL,
  code text NOT NULL UNIQUE,
  withdrawn_at bigint NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS wave_chosen_by_wave ON wave_chosen(wave_id);
CREATE TABLE IF NOT EXISTS wave_hardware(
  wave_id bigint NOT NULL REFERENCES waves(id), side text NOT NULL CHECK (side IN ('eligible', 'chosen')),
  aspect text NOT NULL, label text NOT NULL, n bigint NOT NULL,
  PRIMARY KEY(wave_id, side, aspect, label));
