#include "service/storage/staff_store.h"

#include "service/pg_storage.h"

namespace Service {

std::unique_ptr<StaffStore> OpenStaffStore(const std::string& db, std::string& error) {
    return IsPostgresUrl(db) ? OpenPostgresStaffStore(db, error) : OpenSqliteStaffStore(db, error);
}

}  // namespace Service
