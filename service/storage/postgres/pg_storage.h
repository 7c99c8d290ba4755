#pragma once
// The PostgreSQL backend, for several service instances (on one machine or several) sharing one database.
#include <memory>
#include <string>

#include "service/storage/storage.h"

namespace Service {

// Connects and creates or migrates the schema. Nothing when either fails, with the reason in error. Later a
// dropped connection is made again on the next call, with growing pauses between attempts; until it is back
// every call fails (so nothing is acknowledged).
std::unique_ptr<Storage> OpenPostgresStorage(const std::string& url, std::string& error);

}  // namespace Service
