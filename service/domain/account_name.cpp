#include "service/domain/account_name.h"

#include <cstdio>

#include "service/domain/identity.h"
#include "service/domain/report_parse.h"
#include "service/domain/service_text.h"
#include "text/charset.h"
#include "text/text_encoding.h"

namespace Service {

namespace {

// C0, DEL and C1: a box never sends them as a name, and the identity key drops them, so two names that
// differ only there would be one account.
bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

std::string CodePointLabel(char32_t c) {
    char label[16];
    std::snprintf(label, sizeof label, "U+%04X", static_cast<unsigned>(c));
    return label;
}

}  // namespace

std::string RegistrationProblem(const std::string& name) {
    if (!ServiceText::IsValidUtf8(name)) return "账号名不是有效的 UTF-8 文本";
    if (name.empty()) return "请填写账号名";
    const std::u16string units = TextEncoding::Utf8ToUtf16(name);
    if (units.size() > kMaxAccountUnits)
        return "账号名太长：检测程序的输入框最多容纳 " + std::to_string(kMaxAccountUnits) +
               " 个字符（表情符号等少数字符各占两个），此账号名占 " + std::to_string(units.size()) + " 个";
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        if (IsControl(c)) return "账号名中的字符 " + CodePointLabel(c) + " 是控制字符，检测程序无法发送";
        if (Charset::IsPrivateUse(c)) {
            const char32_t code = c < 0xD800 || i + 1 == units.size()
                                      ? c
                                      : 0x10000 + ((char32_t(c) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            return "账号名中的字符 " + CodePointLabel(code) + " 是自造字，检测程序无法发送";
        }
    }
    if (Identity::AccountKey(name).empty()) return "账号名不能只有空白或不可见字符";
    return {};
}

}  // namespace Service
