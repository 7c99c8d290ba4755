#include "service/pages/audit_csv.h"

#include "service/domain/service_text.h"

namespace Service {

std::string AuditCsvHeader() {
    return "\xEF\xBB\xBF"
           "id,at_utc,actor,remote,action,subject,detail\r\n";
}

std::string AuditCsvLine(const AuditEntry& entry) {
    using ServiceText::CsvField;
    return std::to_string(entry.id) + "," + FormatUtc(entry.at) + "," + CsvField(entry.actor) + "," + CsvField(entry.remote) + "," +
           AuditActionName(entry.action) + "," + CsvField(entry.subject) + "," + CsvField(entry.detail) + "\r\n";
}

}  // namespace Service
