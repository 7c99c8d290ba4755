#include "service/domain/support.h"

#include "service/domain/audit.h"
#include "service/domain/identity.h"
#include "service/domain/service_text.h"

namespace Service {

SupportQuery MakeSupportQuery(const std::string& typedText) {
    const std::string typed = ServiceText::Trim(typedText);
    SupportQuery q;
    q.accountKey = Identity::AccountKey(typed);
    if (const std::string mac = Identity::MacKey(typed); !mac.empty()) q.machineKey = "mac:" + mac;
    for (unsigned char c : typed) {
        if (c < 0x20 || c == 0x7f) return q;  // no name nor address has a control character
    }
    q.computerName = typed;
    q.remote = typed;
    return q;
}

std::string RevokeReason(const std::string& typed) {
    return CleanUtf8(ServiceText::Trim(typed), kMaxAuditDetail);
}

bool ErasureConfirmed(const std::string& typed, const std::string& accountKey) {
    const std::string trimmed = ServiceText::Trim(typed);
    return !trimmed.empty() && !accountKey.empty() && Identity::AccountKey(trimmed) == accountKey;
}

}  // namespace Service
