#pragma once
// The PostgreSQL backend, for several service instances (on one machine or several) sharing one database,
// and the choice between it and SQLite by the form of --db.
#include <memory>
#include <string>

#include "service/storage/storage.h"

namespace Service {

// postgresql://… or postgres://… (libpq's URL form); anything else is a SQLite file.
bool IsPostgresUrl(const std::string& db);
// The database as it may be printed: a PostgreSQL URL without its password.
std::string PrintableDb(const std::string& db);

// Connects and creates or migrates the schema. Nothing when either fails, with the reason in error. Later a
// dropped connection is made again on the next call, with growing pauses between attempts; until it is back
// every call fails (so nothing is acknowledged).
std::unique_ptr<Storage> OpenPostgresStorage(const std::string& url, std::string& error);

// Either backend, by the form of db.
std::unique_ptr<Storage> OpenStorage(const std::string& db, std::string& error);

}  // namespace Service
