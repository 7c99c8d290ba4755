#pragma once
// The audit log as CSV for an admin's spreadsheet: UTF-8 with a byte-order mark (as the report export), one
// line per entry, every field quoted, formulas defused.
#include <string>

#include "service/domain/audit.h"

namespace Service {

std::string AuditCsvHeader();
std::string AuditCsvLine(const AuditEntry& entry);

}  // namespace Service
