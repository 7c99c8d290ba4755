#include "service/http/form.h"

#include <cctype>

namespace Service::Http {

std::vector<std::pair<std::string, std::string>> DecodePairs(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('&', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view pair = text.substr(pos, end - pos);
        const size_t eq = pair.find('=');
        if (!pair.empty())
            pairs.emplace_back(UrlDecode(pair.substr(0, eq)),
                               eq == std::string_view::npos ? std::string() : UrlDecode(pair.substr(eq + 1)));
        pos = end + 1;
    }
    return pairs;
}

std::string UrlDecode(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string FormValue(std::string_view body, std::string_view name) {
    for (auto& [key, value] : DecodePairs(body))
        if (key == name) return std::move(value);
    return {};
}

std::string CookieValue(std::string_view cookies, std::string_view name) {
    size_t pos = 0;
    while (pos < cookies.size()) {
        size_t end = cookies.find(';', pos);
        if (end == std::string_view::npos) end = cookies.size();
        const std::string pair = TrimBlanks(cookies.substr(pos, end - pos));
        const size_t eq = pair.find('=');
        if (eq != std::string::npos && std::string_view(pair).substr(0, eq) == name) return pair.substr(eq + 1);
        pos = end + 1;
    }
    return {};
}

std::string Header(const HttpRequest& request, const std::string& name) {
    auto it = request.headers.find(name);
    return it == request.headers.end() ? std::string() : it->second;
}

std::string TrimBlanks(std::string_view text) {
    const char* blanks = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace Service::Http
