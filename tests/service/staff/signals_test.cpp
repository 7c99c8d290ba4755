// The suspicious-enrolment signals over hand-made enrolments: each fires where a farmer's traces are and
// stays quiet on the nearest honest case.
#include <gtest/gtest.h>

#include <cstdio>

#include "service/domain/signals.h"

namespace {

using namespace Service;

EnrolmentRow Row(int64_t at, const std::string& mac, const std::string& remote = "198.51.100.7") {
    EnrolmentRow row;
    row.enrolledAt = at;
    row.macKey = mac;
    row.machineKey = mac.empty() ? "fp:" + std::to_string(at) : "mac:" + mac;
    row.accountKey = "player" + std::to_string(at);
    row.remote = remote;
    row.report.cpuName = "Example CPU " + std::to_string(at);  // every survey different unless a test says so
    row.report.cpuCount = 4;
    row.report.clockMHz = 2993;
    row.report.memoryMB = "8192";
    row.report.os = "Windows 7 Professional 64-Bit";
    row.report.computerName = "PC" + std::to_string(at);
    return row;
}

std::string Mac(uint64_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(value));
    return text;
}

std::vector<Suspicion> Of(SignalKind kind, const std::vector<EnrolmentRow>& rows) {
    std::vector<Suspicion> found;
    for (auto& s : FindSuspicious(rows))
        if (s.kind == kind) found.push_back(s);
    return found;
}

TEST(Signals, BusyAddressWithinTheWindowOnly) {
    std::vector<EnrolmentRow> rows;
    // Five from one address within 3599 s, and a sixth long after; five spread over exactly an hour elsewhere.
    for (int64_t t : {0, 900, 1800, 2700, 3599, 90000}) rows.push_back(Row(t, Mac(0x1000 + t * 7), "198.51.100.7"));
    for (int64_t t : {0, 900, 1800, 2700, 3600}) rows.push_back(Row(t, Mac(0x9000000 + t * 7), "203.0.113.5"));
    const auto found = Of(SignalKind::BusyAddress, rows);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].rows, (std::vector<size_t>{0, 1, 2, 3, 4}));
    EXPECT_NE(found[0].detail.find("198.51.100.7"), std::string::npos);
    EXPECT_NE(found[0].detail.find(" 5 "), std::string::npos);
}

TEST(Signals, MacBitsOfTheFirstByteForEveryValue) {
    std::vector<EnrolmentRow> rows;
    for (uint64_t first = 0; first < 256; ++first) rows.push_back(Row(static_cast<int64_t>(first), Mac(first << 40 | 0x5A5A5A * first)));
    const auto local = Of(SignalKind::LocalMac, rows), group = Of(SignalKind::MulticastMac, rows);
    size_t l = 0, g = 0;
    for (size_t first = 0; first < 256; ++first) {
        if (first & 2) {
            EXPECT_EQ(local.at(l++).rows, std::vector<size_t>{first});
        }
        if (first & 1) {
            EXPECT_EQ(group.at(g++).rows, std::vector<size_t>{first});
        }
    }
    EXPECT_EQ(l, local.size());
    EXPECT_EQ(g, group.size());
    EXPECT_TRUE(Of(SignalKind::LocalMac, {Row(1, "")}).empty());  // no MAC, no MAC signal
}

TEST(Signals, RunsOfConsecutiveMacsAcrossByteCarries) {
    // Enrolled out of order; a run of three crossing ...FF -> ...00, a pair, and a run of four with a gap.
    const std::vector<EnrolmentRow> rows = {
        Row(50, "0011223345" "00"), Row(10, "00112233" "44FF"), Row(30, "0011223345" "01"),
        Row(40, "0A0000000001"),    Row(41, "0A0000000002"),
        Row(60, "0C0000000001"),    Row(61, "0C0000000002"),   Row(62, "0C0000000004"), Row(63, "0C0000000003"),
        Row(64, "0C0000000006"),
    };
    const auto found = Of(SignalKind::ConsecutiveMacs, rows);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].rows, (std::vector<size_t>{1, 2, 0}));  // oldest first
    EXPECT_EQ(found[1].rows, (std::vector<size_t>{5, 6, 7, 8}));
    EXPECT_NE(found[0].detail.find("0011223344FF – 001122334501"), std::string::npos) << found[0].detail;
}

TEST(Signals, IdenticalSurveysUnderOtherMacsOrNames) {
    std::vector<EnrolmentRow> rows;
    for (int64_t t = 0; t < 6; ++t) {
        auto row = Row(t, Mac(0x00AA00000000 + t * 97));
        row.report.cpuName = "Example CPU";
        rows.push_back(row);
    }
    rows[1].report.computerName = rows[0].report.computerName;  // only the MAC differs
    rows[3].report.clockMHz = 2994;                             // measured a MHz apart: another machine
    rows[4].report.resolution = "1920 x 1080";
    const auto found = Of(SignalKind::IdenticalMachines, rows);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].rows, (std::vector<size_t>{0, 1, 2, 5}));
    rows.resize(2);
    EXPECT_TRUE(Of(SignalKind::IdenticalMachines, rows).empty());  // two are a pair, not a farm
}

TEST(Signals, ImpossibleSurveys) {
    const struct {
        int64_t count, clock;
        const char *memory, *os;
        bool impossible;
    } cases[] = {
        {4, 2993, "8192", "Windows 10 Pro 64-Bit", false},
        {4, 0, "", "Windows 10 Pro 64-Bit", false},  // not measured
        {0, 2993, "8192", "Windows 10 Pro 64-Bit", true},
        {4, 99, "8192", "Windows 10 Pro 64-Bit", true},
        {4, 100, "8192", "Windows 10 Pro 64-Bit", false},
        {4, 7000, "8192", "Windows 10 Pro 64-Bit", false},
        {4, 7001, "8192", "Windows 10 Pro 64-Bit", true},
        {4, 2993, "255", "Windows 10 Pro 64-Bit", true},
        {4, 2993, "256", "Windows 10 Pro 64-Bit", false},
        {4, 2993, "4096", "Windows 7 Ultimate 32-Bit", false},
        {4, 2993, "4097", "Windows 7 Ultimate 32-Bit", true},
        {32, 2993, "4096", "Windows 7 Ultimate 32-Bit", false},
        {33, 2993, "4096", "Windows 7 Ultimate 32-Bit", true},
        {33, 2993, "4097", "Windows 7 Ultimate 64-Bit", false},
        {8, 2993, "131072", "Windows 10 Home 64-Bit", false},
        {8, 2993, "131073", "Windows 10 Home 64-Bit", true},
        {8, 2993, "131073", "Windows 10 Pro 64-Bit", false},
        {8, 2993, "6291457", "Windows 11 Pro for Workstations 64-Bit", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " " << c.clock << " " << c.memory << " " << c.os);
        Report r;
        r.cpuCount = c.count;
        r.clockMHz = c.clock;
        r.memoryMB = c.memory;
        r.os = c.os;
        EXPECT_EQ(!ImpossibleSurvey(r).empty(), c.impossible) << ImpossibleSurvey(r);
    }
}

TEST(Signals, HonestEnrolmentsRaiseNothing) {
    std::vector<EnrolmentRow> rows;
    for (int64_t t = 0; t < 200; ++t)
        rows.push_back(Row(t * 3600, Mac(0x001B21000000 + t * 1000003), "10.0.0." + std::to_string(t % 50)));
    EXPECT_TRUE(FindSuspicious(rows).empty());
}

}  // namespace
