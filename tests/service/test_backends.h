#pragma once
// The storage backends the service tests run against. CTest runs the whole suite twice, from the same table
// of cases: on SQLite in a temporary folder, and on a fresh database per test in the PostgreSQL cluster that
// CTest starts (tools/pg-cluster.sh) when REPORT_SERVICE_TEST_PG names the file holding its URL.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>

#include "service/storage/storage.h"

enum class Backend { Sqlite, Postgres };

inline Backend CurrentBackend() { return std::getenv("REPORT_SERVICE_TEST_PG") ? Backend::Postgres : Backend::Sqlite; }

// For the few tests that reach into the SQLite file itself.
#define SQLITE_ONLY() \
    if (CurrentBackend() != Backend::Sqlite) GTEST_SKIP() << "reaches into the SQLite file"

// A database of its own for one test: the SQLite file given, or a new database in the cluster, dropped
// afterwards.
class TestDatabase {
public:
    TestDatabase(Backend backend, const std::string& sqlitePath) {
        if (backend == Backend::Sqlite) {
            db = sqlitePath;
            return;
        }
        std::ifstream in(std::getenv("REPORT_SERVICE_TEST_PG"));
        std::string url;
        if (!std::getline(in, url) || !Service::IsPostgresUrl(url)) {
            ADD_FAILURE() << "no PostgreSQL URL in the file REPORT_SERVICE_TEST_PG names";
            return;
        }
        static std::atomic<int> counter{0};
        m_name = "t" + std::to_string(getpid()) + "_" + std::to_string(counter++);
        m_admin = url.substr(0, url.rfind('/') + 1) + "postgres";
        if (Pg(m_admin, "DROP DATABASE IF EXISTS " + m_name) == 0 && Pg(m_admin, "CREATE DATABASE " + m_name) == 0)
            db = m_admin.substr(0, m_admin.rfind('/') + 1) + m_name;
    }
    ~TestDatabase() {
        if (!db.empty() && !m_name.empty()) Pg(m_admin, "DROP DATABASE " + m_name + " WITH (FORCE)");
    }
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    std::string db;  // the --db value: a file path or a URL

    // One statement behind the service's back: the first column of its first row, 0 for a command, -1 (and
    // a test failure unless it may fail) when it failed.
    int64_t Sql(const std::string& sql, bool mayFail = false) const {
        if (Service::IsPostgresUrl(db)) return Pg(db, sql, mayFail);
        sqlite3* c = nullptr;
        sqlite3_stmt* q = nullptr;
        int64_t value = -1;
        if (sqlite3_open(db.c_str(), &c) == SQLITE_OK && sqlite3_prepare_v2(c, sql.c_str(), -1, &q, nullptr) == SQLITE_OK) {
            const int rc = sqlite3_step(q);
            value = rc == SQLITE_ROW ? sqlite3_column_int64(q, 0) : rc == SQLITE_DONE ? 0 : -1;
        }
        if (value < 0 && !mayFail) ADD_FAILURE() << sql << ": " << sqlite3_errmsg(c);
        sqlite3_finalize(q);
        sqlite3_close(c);
        return value;
    }

private:
    static int64_t Pg(const std::string& url, const std::string& sql, bool mayFail = false) {
        PGconn* c = PQconnectdb(url.c_str());
        PGresult* r = PQexec(c, sql.c_str());
        const auto status = PQresultStatus(r);
        const int64_t value = status == PGRES_COMMAND_OK                         ? 0
                              : status == PGRES_TUPLES_OK && PQntuples(r) > 0 ? std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10)
                                                                               : -1;
        if (value < 0 && !mayFail) ADD_FAILURE() << sql << ": " << PQerrorMessage(c);
        PQclear(r);
        PQfinish(c);
        return value;
    }
    std::string m_admin, m_name;
};
