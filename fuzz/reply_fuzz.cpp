// The reply as the checker reads it: whatever the service sends, cut into blocks anywhere, the checker shows
// text taken from the first block only, and a whole reply of the contract's shape shows its message.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "report/report_submit.h"
#include "text/text_encoding.h"
#include "text/wire_contract.h"

namespace {

std::u16string Shown(std::string_view block) {
    // As the check does with the first block the transfer collected.
    std::u16string reply = TextEncoding::Utf8ToUtf16(block);
    reply.erase(std::min(reply.find(u'\0'), reply.size()));
    return ExtractReplyMessage(reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t cut = data[0] | (data[1] << 8);
    const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);

    // Any bytes from the service, cut anywhere: what is shown is part of what came.
    const std::string first = rest.substr(0, cut);
    const std::u16string whole = TextEncoding::Utf8ToUtf16(first);
    const std::u16string shown = Shown(first);
    FUZZ_CHECK(whole.find(shown) != std::u16string::npos);

    // A reply built by the contract around a plain message (UTF-8 with nothing JSON escapes): the whole
    // reply in one block shows exactly that message; cut short, it shows part of the block.
    std::u16string message = TextEncoding::Utf8ToUtf16(rest);
    for (char16_t& c : message)
        if (c < 0x20 || c == u'"' || c == u'\\' || c == 0xFFFD) c = u'x';
    if (message.empty()) return 0;
    const std::string messageUtf8 = TextEncoding::Utf16ToUtf8(message);
    const std::string reply = WireContract::BuildReply(static_cast<WireContract::ReplyCode>(cut % 7), messageUtf8, cut % 2 ? 20 : -1);
    FUZZ_CHECK(Shown(reply) == message);
    const std::string block = reply.substr(0, cut % (reply.size() + 1));
    FUZZ_CHECK(TextEncoding::Utf8ToUtf16(block).find(Shown(block)) != std::u16string::npos);
    return 0;
}
