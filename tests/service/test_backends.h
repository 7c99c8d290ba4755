#pragma once
// The storage backends the service tests run against, from one table: SQLite in a temporary folder, and
// PostgreSQL in a fresh database of the test cluster that CTest starts (tools/pg-cluster.sh; the file named
// by REPORT_SERVICE_TEST_PG holds its URL).
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>

#include "service/pg_storage.h"

enum class Backend { Sqlite, Postgres };

inline std::string BackendName(const testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

#define INSTANTIATE_FOR_BACKENDS(suite) \
    INSTANTIATE_TEST_SUITE_P(Backends, suite, testing::Values(Backend::Sqlite, Backend::Postgres), BackendName)

// A database of its own for one test: a file in `folder`, or a new database in the cluster, dropped afterwards.
class TestDatabase {
public:
    TestDatabase(Backend backend, const std::string& folder) {
        if (backend == Backend::Sqlite) {
            db = folder + "/reports.db";
            return;
        }
        const char* urlFile = std::getenv("REPORT_SERVICE_TEST_PG");
        if (!urlFile) return;  // not under CTest: the test skips itself
        std::ifstream in(urlFile);
        std::string url;
        if (!std::getline(in, url) || url.rfind("postgresql://", 0) != 0) {
            ADD_FAILURE() << "no PostgreSQL URL in " << urlFile;
            return;
        }
        static std::atomic<int> counter{0};
        m_name = "t" + std::to_string(getpid()) + "_" + std::to_string(counter++);
        m_admin = url.substr(0, url.rfind('/') + 1) + "postgres";
        if (!Admin("DROP DATABASE IF EXISTS " + m_name) || !Admin("CREATE DATABASE " + m_name)) return;
        db = m_admin.substr(0, m_admin.rfind('/') + 1) + m_name;
    }
    ~TestDatabase() {
        if (!db.empty() && !m_name.empty()) Admin("DROP DATABASE " + m_name + " WITH (FORCE)");
    }
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    // Empty when the backend is not available here.
    std::string db;

    std::unique_ptr<Service::Storage> Open() const {
        std::string error;
        auto storage = Service::OpenStorage(db, error);
        if (!storage) ADD_FAILURE() << "cannot open " << db << ": " << error;
        return storage;
    }

private:
    bool Admin(const std::string& sql) const {
        PGconn* c = PQconnectdb(m_admin.c_str());
        PGresult* r = PQstatus(c) == CONNECTION_OK ? PQexec(c, sql.c_str()) : nullptr;
        const bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok) ADD_FAILURE() << sql << ": " << PQerrorMessage(c);
        PQclear(r);
        PQfinish(c);
        return ok;
    }
    std::string m_admin, m_name;
};

// At the start of a test: skip the PostgreSQL cases when run outside CTest, which starts the cluster.
#define SKIP_WITHOUT_BACKEND(database) \
    if ((database).db.empty()) GTEST_SKIP() << "no PostgreSQL here (CTest starts one: ctest -R service)"
