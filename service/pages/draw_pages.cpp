#include "service/pages/draw_pages.h"

#include <cstdio>
#include <ctime>

#include "service/domain/service_text.h"
#include "service/pages/pages.h"
#include "service/pages/staff_pages.h"

namespace Service {

namespace {

using ServiceText::HtmlEscape;

std::string Num(int64_t v) { return std::to_string(v); }

double Share(int64_t part, int64_t whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }

std::string Percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", share);
    return text;
}

std::string When(int64_t t) {
    if (t <= 0) return "—";
    const time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    gmtime_r(&tt, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

const std::pair<const char*, const char*> kAspectTitles[] = {
    {"os", "操作系统"}, {"chip", "显卡芯片"}, {"vram", "显存"}, {"memory", "内存"}, {"cores", "CPU 核数"},
    {"resolution", "屏幕分辨率"}};

std::string Notice(const std::string& notice, bool good) {
    if (notice.empty()) return {};
    return "<p class=\"card\" style=\"color:" + std::string(good ? "#2d7a48" : "#b03a2e") + "\">" +
           HtmlEscape(notice) + "</p>";
}

std::string FormToken(const WaveViewer& viewer) { return viewer.staff ? CsrfField(viewer.csrf) : std::string(); }

std::string StaffHeader(const WaveViewer& viewer) { return viewer.staff ? StaffBar(*viewer.staff, viewer.csrf) : std::string(); }

std::string Button(const WaveViewer& viewer, int64_t wave, const char* step, const std::string& label,
                   const std::string& fields = {}) {
    return "<form method=\"post\" action=\"/waves/" + Num(wave) + "/" + step + "\" accept-charset=\"utf-8\">" +
           FormToken(viewer) + fields + "<button type=\"submit\">" + label + "</button></form>";
}

// One aspect: the eligible population's shares beside the wave's, label by label, in the dashboard's order.
std::string CoverageTable(const Chart& eligible, const Chart& chosen) {
    std::string html = "<div class=\"panel\"><h2>" + HtmlEscape(eligible.title) +
                       "</h2><table class=\"coverage\"><tr><th>类别</th><th>合格名单</th><th>本批入选</th></tr>";
    int64_t matched = 0;
    for (const auto& bar : eligible.bars) {
        int64_t picked = 0;
        if (bar.label == "其他") {
            picked = chosen.total - matched;
        } else {
            for (const auto& c : chosen.bars)
                if (c.label == bar.label) picked = c.count;
            matched += picked;
        }
        const double a = Share(bar.count, eligible.total), b = Share(picked, chosen.total);
        auto cell = [](double share, const char* cls) {
            char width[32];
            std::snprintf(width, sizeof width, "%.1f", share);
            return "<td><span class=\"" + std::string(cls) + "\" style=\"width:" + width + "px\"></span> " +
                   Percent(share) + "</td>";
        };
        html += "<tr><td>" + HtmlEscape(bar.label) + "</td>" + cell(a, "pop") + cell(b, "won") + "</tr>";
    }
    return html + "</table></div>";
}

const char* const kWaveStyle =
    "<style>.coverage .pop,.coverage .won{display:inline-block;height:10px;vertical-align:middle}"
    ".coverage .pop{background:#9ab3d6}.coverage .won{background:#3a9d5d}"
    "code{word-break:break-all}form{display:inline-block;margin:4px 8px 4px 0}</style>";

}  // namespace

std::string RenderWavesPage(const std::vector<Draw::WaveRecord>& waves, const std::string& notice, bool good,
                            const WaveViewer& viewer) {
    std::string body = kWaveStyle + StaffHeader(viewer);
    body += "<h1>封测分批抽取</h1>" + Notice(notice, good);
    body += "<table><tr><th>批次</th><th>名称</th><th>参数</th><th>状态</th><th>合格名单</th><th>入选</th></tr>";
    for (const auto& w : waves) {
        body += "<tr><td><a href=\"/waves/" + Num(w.id) + "\">第" + Num(w.id) + "批</a></td><td>" +
                HtmlEscape(w.name) + "</td><td><code>" + HtmlEscape(w.params) + "</code></td><td>" +
                Draw::WaveStateLabel(w.state) + "</td><td>" +
                (w.state == Draw::WaveState::Created ? "—" : Num(w.listCount)) + "</td><td>" +
                (w.chosenCount ? Num(w.chosenCount) : "—") + "</td></tr>";
    }
    body += "</table>";
    body += "<h2 style=\"margin-top:18px\">新建一批</h2><form method=\"post\" action=\"/waves\" accept-charset=\"utf-8\">" +
            FormToken(viewer) +
            "<p><label>名称 <input name=\"name\" maxlength=\"64\" required></label> "
            "<label>人数 <input name=\"size\" type=\"number\" min=\"1\" max=\"" + Num(Draw::kMaxWaveSize) +
            "\" required></label></p><p><label>方式 <select name=\"strategy\">"
            "<option value=\"uniform\">全体合格者中随机</option>"
            "<option value=\"proportional\">按所选硬件分层，各层按比例</option>"
            "<option value=\"coverage\">覆盖：每层至少 K 台，其余按比例</option></select></label> "
            "<label>K <input name=\"minimum\" type=\"number\" min=\"1\" value=\"1\"></label></p><p>分层依据：";
    for (const auto& [aspect, title] : kAspectTitles)
        body += "<label><input type=\"checkbox\" name=\"aspect\" value=\"" + std::string(aspect) + "\"> " + title +
                "</label> ";
    body += "</p><button type=\"submit\">新建</button></form>"
            "<p class=\"note\">合格者：已报名、未被撤销、未在之前的批次入选（要求注册时还须已注册）。</p>"
            "<p class=\"note\"><a href=\"/\">统计</a></p>";
    return HtmlPage("封测分批抽取", body);
}

std::string RenderWavePage(const WavePage& page) {
    const auto& w = page.wave;
    using Draw::WaveState;
    std::string body = kWaveStyle + StaffHeader(page.viewer);
    body += "<h1>第" + Num(w.id) + "批：" + HtmlEscape(w.name) + "</h1>" + Notice(page.notice, page.good);
    body += "<table><tr><th>状态</th><td>" + std::string(Draw::WaveStateLabel(w.state)) + "</td></tr>";
    body += "<tr><th>参数</th><td><code>" + HtmlEscape(w.params) + "</code></td></tr>";
    body += "<tr><th>创建</th><td>" + When(w.createdAt) + "</td></tr>";
    if (w.state >= WaveState::Frozen)
        body += "<tr><th>合格名单</th><td>" + Num(w.listCount) + " 个账号，冻结于 " + When(w.frozenAt) +
                "<br>SHA-256 <code id=\"list-sha256\">" + w.listSha256 + "</code></td></tr>";
    if (w.state >= WaveState::Seeded)
        body += "<tr><th>种子</th><td><code id=\"seed\">" + HtmlEscape(w.seed) + "</code>，录入于 " + When(w.seededAt) +
                "</td></tr>";
    if (w.state >= WaveState::Drawn)
        body += "<tr><th>结果</th><td>" + Num(w.chosenCount) + " 个账号入选" +
                (w.withdrawnCount ? "（其中 " + Num(w.withdrawnCount) + " 个已撤销）" : std::string()) + "，抽取于 " +
                When(w.drawnAt) + "<br>SHA-256 <code id=\"result-sha256\">" + w.resultSha256 + "</code></td></tr>";
    if (w.state >= WaveState::Published) body += "<tr><th>公布</th><td>" + When(w.publishedAt) + "</td></tr>";
    body += "</table><p>";

    const std::string base = "/waves/" + Num(w.id);
    switch (w.state) {
    case WaveState::Created:
        body += Button(page.viewer, w.id, "freeze", "冻结合格名单") +
                "</p><p class=\"note\">冻结后名单与参数不再改变；之后到达的报告不影响本批。";
        break;
    case WaveState::Frozen:
        body += Button(page.viewer, w.id, "seed", "录入种子",
                       "<label>种子 <input name=\"seed\" maxlength=\"1024\" required size=\"48\"></label> ") +
                "</p><p class=\"note\">请先公布上面的名单 SHA-256 与参数，再录入一个事先宣布、冻结之后才产生的"
                "公开随机值（例如事先指定日期的某期彩票开奖号码），使任何人都无法预先操纵结果。";
        break;
    case WaveState::Seeded:
        body += Button(page.viewer, w.id, "draw", "抽取");
        break;
    case WaveState::Drawn:
        body += Button(page.viewer, w.id, "publish", "公布结果") + "</p><p class=\"note\">公布后本批不再改变，玩家可在"
                "<a href=\"/status\">查询资格</a>页看到结果。";
        break;
    case WaveState::Published:
        body += "<a href=\"" + base + "/codes.csv\">导出激活码（CSV：账号、激活码、批次）</a>";
        break;
    }
    body += "</p>";
    if (w.state >= WaveState::Frozen) {
        body += "<p><a href=\"" + base + "/list.csv\">下载合格名单</a>";
        if (w.state >= WaveState::Drawn) body += " · <a href=\"" + base + "/result.csv\">下载入选名单</a>";
        body += "</p>";
    }
    if (w.state >= WaveState::Drawn) {
        body += "<p class=\"note\">任何人可用公布的名单、参数与种子复核：</p><pre>report-service draw verify list.csv --seed '" +
                HtmlEscape(w.seed) + "' --params '" + HtmlEscape(w.params) + "' --result result.csv</pre>";
    }
    if (page.coverage) {
        const auto& c = *page.coverage;
        const auto eligible = HardwareCharts(c.eligible, c.eligibleMachines);
        const auto chosen = HardwareCharts(c.chosen, c.chosenMachines);
        body += "<h2 style=\"margin-top:18px\" id=\"coverage\">硬件覆盖：合格名单 " + Num(c.eligibleMachines) +
                " 台，本批入选 " + Num(c.chosenMachines) + " 台</h2><div class=\"grid\">";
        for (size_t i = 0; i < eligible.size() && i < chosen.size(); ++i) body += CoverageTable(eligible[i], chosen[i]);
        body += "</div>";
    }
    body += "<p class=\"note\"><a href=\"/waves\">全部批次</a> · <a href=\"/\">统计</a></p>";
    return HtmlPage("第" + Num(w.id) + "批", body);
}

std::string RenderStatusPage(const std::string& account, const std::string& answer) {
    std::string body = "<h1>查询资格</h1><form method=\"get\" action=\"/status\" accept-charset=\"utf-8\">"
                       "<label>账号名 <input name=\"account\" maxlength=\"" +
                       Num(static_cast<int64_t>(kMaxAccountUnits)) + "\" value=\"" + HtmlEscape(account) +
                       "\" required></label> <button type=\"submit\">查询</button></form>";
    if (!answer.empty())
        body += "<p class=\"card\" id=\"answer\">" + HtmlEscape(account) + "：<b>" + HtmlEscape(answer) + "</b></p>";
    body += "<p class=\"note\">报名成功只表示已报名参加封闭测试；测试资格分批抽取，入选的账号会收到激活码。</p>";
    return HtmlPage("查询资格", body);
}

std::string WaveCodesCsvHeader() { return "account,code,wave\n"; }

std::string WaveCodesCsvLine(const Draw::ChosenRow& row) {
    return Draw::QuotedField(row.account) + "," + row.code + "," + Num(row.wave) + "\n";
}

}  // namespace Service
