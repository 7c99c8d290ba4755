#pragma once
// Who and which machine a report is: the keys the rules compare. Spellings a person would call the same
// give one key; the text as sent is kept for display.
#include <string>
#include <string_view>

#include "service/domain/report_parse.h"

namespace Service::Identity {

// NFKC case-folded, control and invisible format characters removed, Unicode white space trimmed.
// Empty for text that is not valid UTF-8 or has nothing visible.
std::string AccountKey(std::string_view utf8);
// Twelve upper-case hex digits, whatever the separators and case; empty when there is no usable MAC
// (not twelve digits, letters other than hex, or all-zero / all-F, which broken drivers report).
std::string MacKey(std::string_view mac);
// CPU name, display list and computer name, case-folded the same way, separated by unit separators.
std::string FingerprintText(const Report& report);
// What is stored and compared: a fixed-size hash of that text (the first 128 bits of its SHA-256, in hex),
// so a long display list costs its length once, in the report's own columns, not again in every key and
// index. The text itself stays readable in those columns.
constexpr size_t kFingerprintHashBytes = 32;
std::string FingerprintHash(std::string_view text);
std::string Fingerprint(const Report& report);
// The one key of a machine: "mac:" and the MAC's key when it has one, otherwise "fp:" and the fingerprint.
std::string MachineKey(std::string_view macKey, std::string_view fingerprint);

}  // namespace Service::Identity
