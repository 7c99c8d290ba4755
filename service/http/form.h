#pragma once
// What a request carries in text: query strings and form bodies, cookies, header values.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/http/http_types.h"

namespace Service::Http {

// application/x-www-form-urlencoded and query values: '+' is a blank, %XX a byte.
std::string UrlDecode(std::string_view text);
// The decoded name=value pairs of a query string or form body, in order; empty pieces are skipped.
std::vector<std::pair<std::string, std::string>> DecodePairs(std::string_view text);
// The first value of a form field; empty when there is none.
std::string FormValue(std::string_view body, std::string_view name);
// A cookie's value from a Cookie header; empty when it is not there.
std::string CookieValue(std::string_view cookies, std::string_view name);
// A header's value (names in lower case); empty when absent.
std::string Header(const HttpRequest& request, const std::string& name);
// ASCII blanks trimmed, letters in lower case: header values compared as HTTP compares them.
std::string TrimBlanks(std::string_view text);
std::string Lower(std::string_view text);

}  // namespace Service::Http
