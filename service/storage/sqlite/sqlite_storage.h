#pragma once
// The SQLite backend: one file, WAL, synchronous=FULL, one transaction per batch.
#include <memory>
#include <string>

#include "service/storage/storage.h"

namespace Service {

// Opens (creating or migrating the schema) a SQLite database. Nothing on failure, with the reason in error.
std::unique_ptr<Storage> OpenSqliteStorage(const std::string& path, std::string& error);

}  // namespace Service
