#include "service/pages/audit_csv.h"

#include <ctime>

#include "service/service_text.h"

namespace Service {

std::string AuditCsvHeader() {
    return "\xEF\xBB\xBF"
           "id,at_utc,actor,remote,action,subject,detail\r\n";
}

std::string AuditCsvLine(const AuditEntry& entry) {
    using ServiceText::CsvField;
    char when[32];
    const time_t tt = static_cast<time_t>(entry.at);
    struct tm tm {};
    gmtime_r(&tt, &tm);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
    return std::to_string(entry.id) + "," + when + "," + CsvField(entry.actor) + "," + CsvField(entry.remote) + "," +
           AuditActionName(entry.action) + "," + CsvField(entry.subject) + "," + CsvField(entry.detail) + "\r\n";
}

}  // namespace Service
