#include "service/pages/pages.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

#include "service/domain/machine_labels.h"
#include "service/domain/report_charset.h"
#include "service/domain/report_parse.h"
#include "service/domain/service_text.h"

namespace Service {

namespace {

using ServiceText::HtmlEscape;

constexpr size_t kTopBars = 12;

std::string Num(int64_t v) { return std::to_string(v); }

std::string Percent(int64_t part, int64_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", whole > 0 ? 100.0 * part / whole : 0.0);
    return text;
}

std::string Time(int64_t t, bool withHour) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    gmtime_r(&tt, &tm);
    char text[32];
    std::strftime(text, sizeof text, withHour ? "%Y-%m-%d %H:00" : "%Y-%m-%d", &tm);
    return text;
}

// At most n characters of UTF-8 text, cut on a character boundary.
std::string Shorten(const std::string& text, size_t n) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == n) return text.substr(0, i) + "…";
    }
    return text;
}

Chart MakeChart(const std::string& title, int64_t total, const std::map<std::string, int64_t>& counts,
                bool keepOrder) {
    Chart chart{title, total, {}};
    for (const auto& [label, count] : counts) chart.bars.push_back({label, count});
    if (!keepOrder)
        std::stable_sort(chart.bars.begin(), chart.bars.end(),
                         [](const Bar& a, const Bar& b) { return a.count > b.count; });
    if (chart.bars.size() > kTopBars) {
        int64_t rest = 0;
        for (size_t i = kTopBars - 1; i < chart.bars.size(); ++i) rest += chart.bars[i].count;
        chart.bars.resize(kTopBars - 1);
        chart.bars.push_back({"其他", rest});
    }
    return chart;
}

const char* const kStyle = R"css(
body{font-family:"Noto Sans CJK SC","WenQuanYi Micro Hei",sans-serif;margin:24px;color:#222;background:#fafafa}
h1{font-size:22px}h2{font-size:17px;margin:0 0 8px}
.cards{display:flex;flex-wrap:wrap;gap:12px;margin-bottom:18px}
.card{background:#fff;border:1px solid #ddd;border-radius:6px;padding:10px 16px;min-width:110px}
.card b{display:block;font-size:22px}
.grid{display:flex;flex-wrap:wrap;gap:16px}
.panel{background:#fff;border:1px solid #ddd;border-radius:6px;padding:12px}
.note{color:#666;font-size:13px}
svg text{font-size:12px;fill:#333}
.ok{fill:#3a9d5d}.refused{fill:#e08a2e}.bad{fill:#9a9a9a}.bar{fill:#4a7fc1}
.bar:hover,.ok:hover,.refused:hover,.bad:hover{opacity:.75}
table{border-collapse:collapse}td,th{border:1px solid #ddd;padding:3px 8px;text-align:left}
)css";

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
           "</title><style>" + kStyle + "</style></head><body>" + body + "</body></html>\n";
}

std::string BarChartSvg(const Chart& chart) {
    const int labelWidth = 220, barWidth = 240, row = 22, width = labelWidth + barWidth + 60;
    const int height = static_cast<int>(chart.bars.size()) * row + 4;
    std::string svg = "<svg class=\"chart\" width=\"" + Num(width) + "\" height=\"" + Num(height) +
                      "\" viewBox=\"0 0 " + Num(width) + " " + Num(height) + "\" role=\"img\">";
    int64_t largest = 1;
    for (const auto& bar : chart.bars) largest = std::max(largest, bar.count);
    int y = 2;
    for (const auto& bar : chart.bars) {
        const int w = static_cast<int>(bar.count * barWidth / largest);
        const std::string share = Percent(bar.count, chart.total);
        svg += "<g><title>" + HtmlEscape(bar.label) + "：" + Num(bar.count) + " 台，" + share + "</title>";
        svg += "<text x=\"" + Num(labelWidth - 6) + "\" y=\"" + Num(y + 15) + "\" text-anchor=\"end\">" +
               HtmlEscape(Shorten(bar.label, 30)) + "</text>";
        svg += "<rect class=\"bar\" x=\"" + Num(labelWidth) + "\" y=\"" + Num(y + 3) + "\" width=\"" +
               Num(std::max(w, 1)) + "\" height=\"" + Num(row - 6) + "\"/>";
        svg += "<text x=\"" + Num(labelWidth + std::max(w, 1) + 4) + "\" y=\"" + Num(y + 15) + "\">" + share +
               "</text></g>";
        y += row;
    }
    return svg + "</svg>";
}

std::string TimelineSvg(const DashboardData& data) {
    std::vector<TimelineRow> rows = data.timeline;
    constexpr size_t kMaxBuckets = 72;
    if (rows.size() > kMaxBuckets) rows.erase(rows.begin(), rows.end() - kMaxBuckets);
    const bool hourly = data.bucketSeconds < 86400;
    const int height = 180, top = 10, bottom = 40, left = 40;
    const int slot = rows.empty() ? 20 : std::max(8, std::min(40, 720 / static_cast<int>(rows.size())));
    // Wide enough for the last time label even with one bar.
    const int width = left + slot * static_cast<int>(std::max<size_t>(rows.size(), 1)) + 120;
    int64_t largest = 1;
    for (const auto& r : rows) largest = std::max(largest, r.successes + r.refusals + r.malformed);
    const int plot = height - top - bottom;
    std::string svg = "<svg class=\"chart\" id=\"timeline\" width=\"" + Num(width) + "\" height=\"" + Num(height) +
                      "\" viewBox=\"0 0 " + Num(width) + " " + Num(height) + "\" role=\"img\">";
    svg += "<text x=\"2\" y=\"" + Num(top + 10) + "\">" + Num(largest) + "</text>";
    svg += "<text x=\"2\" y=\"" + Num(top + plot) + "\">0</text>";
    int x = left;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        const std::string when = Time(r.start, hourly);
        svg += "<g><title>" + when + "：成功 " + Num(r.successes) + "，拒绝 " + Num(r.refusals) + "，格式错误 " +
               Num(r.malformed) + "</title>";
        int base = top + plot;
        const std::pair<int64_t, const char*> parts[] = {
            {r.successes, "ok"}, {r.refusals, "refused"}, {r.malformed, "bad"}};
        for (const auto& [count, cls] : parts) {
            if (count == 0) continue;
            const int h = std::max(1, static_cast<int>(count * plot / largest));
            base -= h;
            svg += "<rect class=\"" + std::string(cls) + "\" x=\"" + Num(x + 1) + "\" y=\"" + Num(base) +
                   "\" width=\"" + Num(slot - 2) + "\" height=\"" + Num(h) + "\"/>";
        }
        svg += "</g>";
        // A label under the first bar and then every few, so they do not overlap.
        const size_t every = std::max<size_t>(1, 110 / static_cast<size_t>(slot));
        if (i % every == 0)
            svg += "<text x=\"" + Num(x) + "\" y=\"" + Num(height - bottom + 16) + "\">" + when + "</text>";
        x += slot;
    }
    return svg + "</svg>";
}

}  // namespace

std::vector<Chart> HardwareCharts(const std::vector<Report>& machines) {
    HardwareCounts counts;
    for (const auto& m : machines)
        for (const auto& [aspect, label] : MachineLabels(m)) ++counts[aspect][label];
    return HardwareCharts(counts, static_cast<int64_t>(machines.size()));
}

std::vector<Chart> HardwareCharts(const HardwareCounts& counts, int64_t total) {
    auto aspect = [&](const char* name) {
        auto it = counts.find(name);
        return it == counts.end() ? std::map<std::string, int64_t>() : it->second;
    };
    const auto os = aspect("os"), vendor = aspect("vendor"), clock = aspect("clock"), memory = aspect("memory"),
               chips = aspect("chip"), vram = aspect("vram"), resolution = aspect("resolution");
    std::map<int64_t, int64_t> coreCounts;
    for (const auto& [label, count] : aspect("cores")) coreCounts[std::atoll(label.c_str())] += count;
    // Numeric aspects keep their natural order; the others go largest first.
    std::vector<Bar> coreBars;
    for (const auto& [n, count] : coreCounts) coreBars.push_back({n > 0 ? Num(n) + " 核" : "未知", count});
    auto ordered = [](std::map<std::string, int64_t> counts, const std::vector<std::string>& order) {
        std::vector<Bar> bars;
        for (const auto& label : order) {
            auto it = counts.find(label);
            if (it != counts.end()) {
                bars.push_back({label, it->second});
                counts.erase(it);
            }
        }
        for (const auto& [label, count] : counts) bars.push_back({label, count});
        return bars;
    };
    std::vector<Chart> charts;
    charts.push_back(MakeChart("操作系统", total, os, false));
    charts.push_back(MakeChart("CPU 厂商（由 CPU 名称判断）", total, vendor, false));
    Chart coreChart{"CPU 核数", total, coreBars};
    charts.push_back(coreChart);
    // Clock bands sort as text within one digit count; lay them out by their numeric start.
    std::vector<Bar> clockBars;
    for (const auto& [label, count] : clock) clockBars.push_back({label, count});
    std::stable_sort(clockBars.begin(), clockBars.end(), [](const Bar& a, const Bar& b) {
        return std::atof(a.label.c_str()) < std::atof(b.label.c_str());
    });
    charts.push_back({"CPU 主频（0.4 GHz 一档）", total, clockBars});
    charts.push_back({"内存", total,
                      ordered(memory, {"≤2 GB", "3–4 GB", "5–8 GB", "9–16 GB", "17–32 GB", ">32 GB", "未知"})});
    charts.push_back(MakeChart("显卡芯片（每台机器的各芯片）", total, chips, false));
    charts.push_back({"显存（每台机器最大的一块）", total,
                      ordered(vram, {"≤256 MB", "257–512 MB", "0.5–1 GB", "1–2 GB", "2–4 GB", "4–8 GB", ">8 GB",
                                     "未知"})});
    charts.push_back(MakeChart("屏幕分辨率", total, resolution, false));
    return charts;
}

std::string RenderDashboard(const DashboardData& data) {
    const int64_t refusals = data.accountUsed + data.machineUsed + data.notRegistered + data.addressLimit;
    std::string body = "<h1>封测报名统计</h1>";
    body += "<div class=\"cards\">";
    const std::pair<const char*, int64_t> cards[] = {
        {"成功", data.successes},          {"账号已用", data.accountUsed},    {"电脑已用", data.machineUsed},
        {"未注册", data.notRegistered},    {"地址超限", data.addressLimit},   {"格式错误", data.malformed},
        {"已报名机器", data.enrolledMachines},
        {"已注册账号", data.registeredAccounts}};
    for (const auto& [label, n] : cards)
        body += "<div class=\"card\">" + std::string(label) + "<b>" + Num(n) + "</b></div>";
    body += "</div>";
    body += "<div class=\"panel\"><h2>提交次数（" + std::string(data.bucketSeconds < 86400 ? "每小时" : "每天") +
            "，UTC）</h2>";
    body += TimelineSvg(data);
    body += "<p class=\"note\">绿：成功 " + Num(data.successes) + "；橙：拒绝 " + Num(refusals) + "；灰：格式错误 " +
            Num(data.malformed) + "</p>";
    if (data.summarisedRefusals > 0)
        body += "<p class=\"note\">较早的 " + Num(data.summarisedRefusals) +
                " 条被拒报告只保留每日计数，不再逐条导出；以上数字仍包含它们。</p>";
    body += "</div>";
    body += "<h2 style=\"margin-top:18px\">已报名机器的硬件分布（共 " + Num(data.enrolledMachines) +
            " 台，占比按不同机器计）</h2><div class=\"grid\">";
    for (const auto& chart : HardwareCharts(data.hardware, data.enrolledMachines))
        body += "<div class=\"panel\"><h2>" + HtmlEscape(chart.title) + "</h2>" + BarChartSvg(chart) + "</div>";
    body += "</div><p class=\"note\">CPU 厂商由 CPU 名称中的 Intel / AMD 字样判断。悬停可看台数。"
            "<a href=\"/reports.csv\">下载全部报告（CSV）</a> · <a href=\"/register\">注册页与已注册账号</a></p>";
    return Page("封测报名统计", body);
}

std::string HtmlPage(const std::string& title, const std::string& body) { return Page(title, body); }

std::string RenderRegisterPage(const std::string& notice, bool good, const AccountPage* accounts) {
    std::string body = "<h1>注册封测账号</h1>";
    if (!notice.empty())
        body += "<p class=\"card\" style=\"color:" + std::string(good ? "#2d7a48" : "#b03a2e") + "\">" +
                HtmlEscape(notice) + "</p>";
    body += "<form method=\"post\" action=\"/register\" accept-charset=\"utf-8\">"
            "<label>账号名 <input name=\"account\" maxlength=\"" +
            Num(static_cast<int64_t>(kMaxAccountUnits)) +
            "\" required></label> <button type=\"submit\">注册</button></form>"
            "<p class=\"note\">账号名 1 至 " +
            Num(static_cast<int64_t>(kMaxAccountUnits)) +
            " 个字符（与检测程序的输入框相同，表情符号等少数字符各占两个）。注册后在检测程序中填写同一账号名。每个账号、每台电脑只能成功提交一次。</p>";
    if (accounts) {
        // A page at a time: ten thousand names would be most of a megabyte in one page.
        const int64_t pages = std::max<int64_t>(1, (accounts->total + kAccountsPerPage - 1) / kAccountsPerPage);
        std::string links;
        if (pages > 1) {
            links = "<p class=\"note\">第 " + Num(accounts->page) + " 页，共 " + Num(pages) + " 页";
            if (accounts->page > 1) links += " · <a href=\"/register?page=" + Num(accounts->page - 1) + "\">上一页</a>";
            if (accounts->page < pages) links += " · <a href=\"/register?page=" + Num(accounts->page + 1) + "\">下一页</a>";
            links += "</p>";
        }
        body += "<h2>已注册账号（" + Num(accounts->total) + "）</h2>" + links +
                "<table><tr><th>账号</th><th>注册时间（UTC）</th><th>已报名</th></tr>";
        for (const auto& a : accounts->rows) {
            char when[32];
            const time_t tt = static_cast<time_t>(a.registeredAt);
            struct tm tm {};
            gmtime_r(&tt, &tm);
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
            body += "<tr><td>" + HtmlEscape(a.name) + "</td><td>" + when + "</td><td>" +
                    (a.enrolled ? "是" : "否") + "</td></tr>";
        }
        body += "</table>" + links;
    }
    return Page("注册封测账号", body);
}

std::string RenderStaffPage(const std::string& title, const std::string& body) { return Page(title, body); }

std::string RenderRefusedPage() {
    return Page("需要管理口令", "<h1>需要管理口令</h1><p>请在地址后加上 ?token=管理口令 再打开。</p>");
}

std::string ReportsCsvHeader() {
    return "\xEF\xBB\xBF"
           "id,received_utc,remote,outcome,points,account,mac,cpu_name,cpu_vendor,cpu_count,clock_mhz,memory_mb,"
           "displays,resolution,os,computer_name,raw_body\r\n";
}

std::string ReportsCsvLine(const ReportRow& row) {
    using ServiceText::CsvField;
    const auto& r = row.report;
    char when[32];
    const time_t tt = static_cast<time_t>(row.receivedAt);
    struct tm tm {};
    gmtime_r(&tt, &tm);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
    // The raw body is kept as it came; the export shows it as UTF-8 like everything else, read by the table
    // its parse used.
    const auto raw = ServiceText::ExportedBody(row.rawBody, row.codePage);
    return Num(row.id) + "," + when + "," + CsvField(row.remote) + "," + row.outcome + "," + Num(row.points) + "," +
           CsvField(r.account) + "," + CsvField(r.mac) + "," + CsvField(r.cpuName) + "," +
           CsvField(CpuVendor(r.cpuName)) + "," + Num(r.cpuCount) + "," + Num(r.clockMHz) + "," +
           CsvField(r.memoryMB) + "," + CsvField(r.displays) + "," + CsvField(r.resolution) + "," + CsvField(r.os) +
           "," + CsvField(r.computerName) + "," + CsvField(raw ? *raw : "") + "\r\n";
}

}  // namespace Service
