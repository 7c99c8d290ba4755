#pragma once
// Server-rendered pages: the admin dashboard with inline SVG charts, the registration page and the CSV
// export. Everything a player sent is escaped; nothing is loaded from elsewhere.
#include <string>
#include <vector>

#include "service/domain/records.h"

namespace Service {

struct Bar {
    std::string label;
    int64_t count = 0;
};

struct Chart {
    std::string title;
    int64_t total = 0;  // distinct machines the shares are of
    std::vector<Bar> bars;  // largest first; past the top few, the rest as one "其他" bar
};

// The hardware distribution of the enrolled machines, one chart per aspect.
std::vector<Chart> HardwareCharts(const HardwareCounts& counts, int64_t machines);
std::vector<Chart> HardwareCharts(const std::vector<Report>& machines);

std::string RenderDashboard(const DashboardData& data);
// A page in the dashboard's style around body (HTML already escaped).
std::string HtmlPage(const std::string& title, const std::string& body);
// notice: the outcome of a registration (empty on a plain visit); accounts: shown to the admin only.
// accounts: the admin's page of the registered list; null for players.
std::string RenderRegisterPage(const std::string& notice, bool good, const AccountPage* accounts);
std::string RenderRefusedPage();
// Any page in the dashboard's frame and style.
std::string RenderStaffPage(const std::string& title, const std::string& body);
// UTF-8 with a byte-order mark, so a spreadsheet opens it in the right encoding: the header line, then one
// line per report, so the export can be written as it is read.
std::string ReportsCsvHeader();
std::string ReportsCsvLine(const ReportRow& row);

}  // namespace Service
