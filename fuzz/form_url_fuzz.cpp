// Form and query decoding, and the Content-Type charset rule, over any input: no read outside the text,
// percent-encoding of any bytes decodes back to them, and text without '%' or '+' decodes to itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "service/domain/service_text.h"
#include "service/http/form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string decoded = Service::Http::UrlDecode(text);
    FUZZ_CHECK(decoded.size() <= text.size());
    if (text.find_first_of("%+") == std::string::npos) FUZZ_CHECK(decoded == text);

    // Every byte percent-encoded, in upper or lower case by turns, blanks as '+'.
    static const char kUpper[] = "0123456789ABCDEF";
    static const char kLower[] = "0123456789abcdef";
    std::string encoded;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = data[i];
        const char* hex = i % 2 ? kLower : kUpper;
        if (c == ' ') encoded += '+';
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) encoded += static_cast<char>(c);
        else (encoded += '%', encoded += hex[c >> 4], encoded += hex[c & 0xF]);
    }
    FUZZ_CHECK(Service::Http::UrlDecode(encoded) == text);

    // The charset rule reads any header value; one that names charset=utf-8 after the type is UTF-8.
    (void)ServiceText::DeclaresUtf8(text);
    if (text.find(';') == std::string::npos) {
        FUZZ_CHECK(!ServiceText::DeclaresUtf8(text));
        // An earlier parameter named charset decides; its value here ends in 'x', so it is not UTF-8.
        std::string name = ServiceText::Trim(text.substr(0, text.find('=')));
        for (char& c : name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const bool earlierCharset = text.find('=') != std::string::npos && name == "charset";
        FUZZ_CHECK(ServiceText::DeclaresUtf8("application/json; " + text + "x; charset=UTF-8") == !earlierCharset);
    }
    return 0;
}
