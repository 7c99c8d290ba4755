#pragma once
// What a reward farmer leaves behind among the enrolments, for support to look at: many enrolments from one
// address in a short time, MAC addresses no network card carries (locally administered or multicast ones,
// runs of consecutive ones), machines identical in every surveyed field but the MAC or the computer name,
// and surveys no real machine gives. A signal only flags: revoking stays a person's decision.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/domain/report_parse.h"

namespace Service {

// One standing enrolment, with the report that made it.
struct EnrolmentRow {
    int64_t reportId = 0;
    int64_t enrolledAt = 0;  // Unix seconds
    std::string accountKey;
    std::string machineKey;
    std::string macKey;  // twelve upper-case hex digits; empty when the report had no usable MAC
    std::string remote;
    Report report;
};

enum class SignalKind {
    BusyAddress,         // many enrolments from one address (IPv6: one /64) within a short window
    LocalMac,            // the locally administered bit (0x02 of the first byte): set by software, not a maker
    MulticastMac,        // the group bit (0x01 of the first byte): no card has one as its own address
    ConsecutiveMacs,     // a run of MACs each one above the last
    IdenticalMachines,   // every surveyed field the same, only the MAC or the computer name differs
    ImpossibleSurvey,    // a clock, memory or processor count no real machine of that kind has
};
const char* SignalName(SignalKind kind);   // "busy_address", …
const char* SignalLabel(SignalKind kind);  // for the pages

struct SignalOptions {
    size_t busyCount = 5;       // this many enrolments or more …
    int64_t busyWindow = 3600;  // … within this many seconds
    size_t runLength = 3;       // consecutive MACs
    size_t identicalCount = 3;  // identical surveys
};

struct Suspicion {
    SignalKind kind;
    std::string detail;        // what was seen, for the page
    std::vector<size_t> rows;  // indexes into the rows given, oldest enrolment first
};

// Every signal over the rows, grouped: one entry per address, run or group of identical machines, one per
// machine for the signals of a single report. In the order of SignalKind, then of the first row's time.
std::vector<Suspicion> FindSuspicious(const std::vector<EnrolmentRow>& rows, const SignalOptions& options = {});

// Why no real machine sends this survey (for the page); empty when nothing is impossible. A clock of 0 is a
// measurement that failed and empty memory one not taken: neither is impossible.
std::string ImpossibleSurvey(const Report& report);

}  // namespace Service
