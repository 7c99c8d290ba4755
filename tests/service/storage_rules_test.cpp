// The rules are the domain's, once: both backends give the same outcomes and the same figures for one table of
// batches, and only a unique constraint is read as "taken" (any other failure fails the batch).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "service/domain/identity.h"
#include "service/domain/machine_labels.h"
#include "service/domain/rules.h"
#include "service_test_support.h"

namespace {

using namespace Service;

struct Sent {
    const char* account;
    const char* mac;
    const char* computer;  // with the CPU and displays below, the fingerprint
    int64_t at;
    Outcome expected;
};

struct BatchCase {
    const char* label;
    bool requireRegistered;
    std::vector<Sent> reports;
    int malformed;
    int64_t maxPerAddress = 0;
};

PendingReport PendingOf(const Sent& s) {
    Report r;
    r.account = s.account;
    r.mac = s.mac;
    r.cpuName = "Intel(R) Core(TM) i5 CPU";
    r.cpuCount = 4;
    r.clockMHz = 3000;
    r.memoryMB = "8192";
    r.displays = "Chip X;Adapter A;2048;0";
    r.resolution = "1920 x 1080";
    r.os = "Windows 10";
    r.computerName = s.computer;
    return Prepare(r, "raw", "127.0.0.1", s.at);
}

constexpr int64_t kT = 1700000000;
constexpr auto S = Outcome::Success, AU = Outcome::AccountUsed, MU = Outcome::MachineUsed, NR = Outcome::NotRegistered,
               AL = Outcome::AddressLimit;

// Each batch sees what the earlier ones stored; within a batch, a success counts for the reports after it.
const BatchCase kBatches[] = {
    {"one batch, its own successes count",
     false,
     {{"alice", "00-11-22-33-44-55", "PC1", kT, S},
      {"Alice", "66-77-88-99-AA-BB", "PC2", kT, AU},
      {"bob", "00:11:22:33:44:55", "PC3", kT + 1, MU},
      {"carol", "", "PC4", kT + 2, S},
      {"dave", "", "pc4", kT + 3, MU},  // the fingerprint, folded, of carol's machine
      {"erin", "0A-0B-0C-0D-0E-0F", "PC4", kT + 4, MU},  // a MAC now, on the machine enrolled without one
      {"erin", "0A-0B-0C-0D-0E-0F", "PC1", kT + 5, S}},  // alice's fingerprint, but both have MACs: two machines
     2},
    {"the next batch, what is stored counts",
     false,
     {{"ＡＬＩＣＥ", "12-34-56-78-9A-BC", "PC9", kT + 3600, AU},
      {"frank", "", "PC4", kT + 3601, MU},
      {"gina", "0a0b.0c0d.0e0f", "PC8", kT + 3602, MU},
      {"harry", "12-34-56-78-9A-BC", "PC9", kT + 7200, S}},
     1},
    {"registration required",
     true,
     {{"ivan", "21-43-65-87-A9-CB", "PC10", kT + 7300, NR},
      {"judy", "21-43-65-87-A9-CB", "PC10", kT + 7301, S},
      {"judy", "31-43-65-87-A9-CB", "PC11", kT + 7302, AU}},
     0},
    // Every report of the table comes from one address; a day and a half on (another day), two a day.
    {"an address at its day's bound",
     false,
     {{"kate", "41-43-65-87-A9-CB", "PC12", kT + 36 * 3600, S},
      {"leo", "51-43-65-87-A9-CB", "PC13", kT + 36 * 3600 + 1, S},
      {"mia", "61-43-65-87-A9-CB", "PC14", kT + 36 * 3600 + 2, AL},
      {"kate", "61-43-65-87-A9-CB", "PC14", kT + 36 * 3600 + 3, AU}},  // the account's answer comes first
     0,
     2},
};

// Applies the table to one store; the dashboard it ends with.
std::optional<DashboardData> ApplyTable(Storage& store, const std::string& backend) {
    EXPECT_EQ(store.Register("judy", Identity::AccountKey("judy"), "127.0.0.1", kT), RegisterResult::Registered);
    for (const auto& c : kBatches) {
        SCOPED_TRACE(backend + ": " + c.label);
        Batch batch;
        batch.requireRegistered = c.requireRegistered;
        batch.maxEnrolmentsPerAddress = c.maxPerAddress;
        for (const auto& s : c.reports) batch.reports.push_back(PendingOf(s));
        for (int i = 0; i < c.malformed; ++i) batch.malformed.push_back({"junk", "127.0.0.1", "not JSON", kT + i});
        const auto outcomes = store.Apply(batch);
        if (!outcomes) {
            ADD_FAILURE() << store.LastError();
            return std::nullopt;
        }
        EXPECT_EQ(outcomes->size(), c.reports.size());
        for (size_t i = 0; i < outcomes->size() && i < c.reports.size(); ++i)
            EXPECT_EQ(OutcomeName((*outcomes)[i]), std::string(OutcomeName(c.reports[i].expected)))
                << c.reports[i].account << " " << c.reports[i].mac;
    }
    return store.Dashboard();
}

TEST(OneRuleBook, BothBackendsGiveTheTablesOutcomesAndFigures) {
    TempDir dir;
    // The SQLite file always; the PostgreSQL database too when the suite runs against the cluster.
    std::vector<std::unique_ptr<TestDatabase>> databases;
    databases.push_back(std::make_unique<TestDatabase>(Backend::Sqlite, dir.File("table.db")));
    if (CurrentBackend() == Backend::Postgres)
        databases.push_back(std::make_unique<TestDatabase>(Backend::Postgres, ""));
    std::vector<DashboardData> figures;
    for (const auto& database : databases) {
        auto store = OpenStorage(database->db);
        ASSERT_TRUE(store);
        auto data = ApplyTable(*store, database->db);
        ASSERT_TRUE(data);
        figures.push_back(*data);
    }
    int64_t expected[5] = {};
    for (const auto& c : kBatches)
        for (const auto& s : c.reports) ++expected[static_cast<int>(s.expected)];
    for (const auto& d : figures) {
        EXPECT_EQ(d.successes, expected[0]);
        EXPECT_EQ(d.accountUsed, expected[1]);
        EXPECT_EQ(d.machineUsed, expected[2]);
        EXPECT_EQ(d.notRegistered, expected[3]);
        EXPECT_EQ(d.addressLimit, expected[4]);
        EXPECT_EQ(d.malformed, 3);
        EXPECT_EQ(d.enrolledMachines, expected[0]);
        EXPECT_EQ(d.registeredAccounts, 1);
        ASSERT_EQ(d.timeline.size(), 4u);  // three hours, and one a day and a half on
        EXPECT_EQ(d.timeline[0].successes + d.timeline[0].refusals, 7);
        EXPECT_EQ(d.timeline[0].malformed, 3);
        EXPECT_EQ(d.timeline[2].successes, 2);
        EXPECT_EQ(d.hardware.at("chip").at("Chip X"), expected[0]);
    }
    // The two backends' figures, field by field.
    for (size_t i = 1; i < figures.size(); ++i) {
        EXPECT_EQ(figures[i].timeline.size(), figures[0].timeline.size());
        for (size_t h = 0; h < figures[i].timeline.size() && h < figures[0].timeline.size(); ++h) {
            EXPECT_EQ(figures[i].timeline[h].start, figures[0].timeline[h].start);
            EXPECT_EQ(figures[i].timeline[h].successes, figures[0].timeline[h].successes);
            EXPECT_EQ(figures[i].timeline[h].refusals, figures[0].timeline[h].refusals);
            EXPECT_EQ(figures[i].timeline[h].malformed, figures[0].timeline[h].malformed);
        }
        EXPECT_EQ(figures[i].hardware, figures[0].hardware);
    }
}

// Invented chip names: the aspect keeps its first labels up to the bound, and every machine after them with a
// new one is counted under the one folded label, on both backends.
TEST(OneRuleBook, LabelsPastTheirBoundFoldIntoOne) {
    TempDir dir;
    TestDatabase database(CurrentBackend(), dir.File("labels.db"));
    auto store = OpenStorage(database.db);
    ASSERT_TRUE(store);
    const int64_t machines = kMaxLabelsPerAspect + 7;
    for (int64_t from = 0; from < machines; from += 50) {
        Batch batch;
        for (int64_t i = from; i < std::min(machines, from + 50); ++i) {
            const std::string n = std::to_string(i), account = "label" + n, computer = "PC" + n;
            PendingReport p = PendingOf({account.c_str(), "", computer.c_str(), kT, S});
            p.report.displays = "Chip " + n + ";Adapter;1024;0";
            batch.reports.push_back(Prepare(p.report, "raw", "127.0.0.1", kT));
        }
        ASSERT_TRUE(store->Apply(batch)) << store->LastError();
    }
    store->Apply(Batch{{PendingOf({"again", "", "PC-again", kT, S})}, {}, false, 0});  // "Chip X": new, folded
    const auto data = store->Dashboard();
    ASSERT_TRUE(data);
    const auto& chips = data->hardware.at("chip");
    EXPECT_EQ(static_cast<int64_t>(chips.size()), kMaxLabelsPerAspect + 1);
    EXPECT_EQ(chips.at(kOtherLabel), machines - kMaxLabelsPerAspect + 1);
    EXPECT_EQ(chips.at("Chip 0"), 1);
    EXPECT_EQ(chips.count("Chip " + std::to_string(machines - 1)), 0u);
}

// A constraint the rules do not know, added behind the service's back.
void AddConstraint(const TestDatabase& database, bool unique) {
    if (unique) {
        database.Sql("CREATE UNIQUE INDEX one_per_fingerprint ON enrolments(fingerprint)");
    } else if (Service::IsPostgresUrl(database.db)) {
        database.Sql("ALTER TABLE enrolments ADD CONSTRAINT not_checked CHECK (account <> 'checked')");
    } else {
        // SQLite adds a CHECK only with the table: made again with it, rows and indexes kept.
        for (const char* sql :
             {"CREATE TABLE enrolments_checked(account TEXT NOT NULL CHECK (account <> 'checked'), "
              "account_key TEXT NOT NULL, machine_key TEXT NOT NULL, fingerprint TEXT NOT NULL, "
              "report_id INTEGER NOT NULL REFERENCES reports(id), points INTEGER NOT NULL, "
              "enrolled_at INTEGER NOT NULL)",
              "INSERT INTO enrolments_checked SELECT * FROM enrolments", "DROP TABLE enrolments",
              "ALTER TABLE enrolments_checked RENAME TO enrolments",
              "CREATE UNIQUE INDEX enrolments_one_per_account ON enrolments(account_key)",
              "CREATE UNIQUE INDEX enrolments_one_per_machine ON enrolments(machine_key)",
              "CREATE INDEX enrolments_by_fingerprint ON enrolments(fingerprint)"})
            database.Sql(sql);
    }
}

TEST(ConstraintFailures, OnlyAUniqueConstraintMeansTaken) {
    ServiceFixture fx;
    auto reply = [&fx](const char* account, const char* mac, const char* computer = "PC01") {
        ReportFields f;
        f.account = account;
        f.mac = mac;
        f.computer = computer;
        return fx.Report(CheckerPayload(f)).body;
    };
    EXPECT_EQ(reply("alice", "00-11-22-33-44-55"), ReplyTo(Outcome::Success).Body());

    // A failed CHECK is no rule's answer: the batch fails, nothing is stored or acknowledged.
    AddConstraint(fx.database, /*unique=*/false);
    EXPECT_EQ(reply("checked", "66-77-88-99-AA-BB"), Refusal::kBusy.Body());
    EXPECT_EQ(fx.database.Sql("SELECT count(*) FROM reports WHERE account = 'checked'"), 0);
    // The database is still in use: the next report is decided as ever.
    EXPECT_EQ(reply("bob", "66-77-88-99-AA-BB", "PC02"), ReplyTo(Outcome::Success).Body());

    // A unique constraint refusing the enrolment says the machine is taken, however the rules saw it: here
    // one enrolment per fingerprint, and carol's machine has alice's fingerprint under another MAC.
    AddConstraint(fx.database, /*unique=*/true);
    EXPECT_EQ(reply("carol", "0A-0B-0C-0D-0E-0F"), ReplyTo(Outcome::MachineUsed).Body());
    const auto data = fx.Dashboard();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->successes, 2);
    EXPECT_EQ(data->machineUsed, 1);
    EXPECT_EQ(fx.database.Sql("SELECT count(*) FROM reports WHERE account = 'carol' AND outcome = 'machine_used' "
                              "AND raw IS NULL AND points = 0"),
              1);
}

}  // namespace
