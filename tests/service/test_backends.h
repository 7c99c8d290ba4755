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
#include <memory>
#include <string>

#include "service/pg_storage.h"

enum class Backend { Sqlite, Postgres };

inline Backend CurrentBackend() {
    return std::getenv("REPORT_SERVICE_TEST_PG") ? Backend::Postgres : Backend::Sqlite;
}

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
        const char* urlFile = std::getenv("REPORT_SERVICE_TEST_PG");
        std::ifstream in(urlFile ? urlFile : "");
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

    // The --db value: a file path or a URL.
    std::string db;

    // One statement on the database behind the service's back, on either backend; the first column of the
    // first row, or -1 (and a failure) when the statement failed.
    int64_t Sql(const std::string& sql) const {
        int64_t value = -1;
        if (db.rfind("postgresql://", 0) == 0) {
            PGconn* c = PQconnectdb(db.c_str());
            PGresult* r = PQexec(c, sql.c_str());
            const auto status = PQresultStatus(r);
            if (status == PGRES_TUPLES_OK && PQntuples(r) > 0) value = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
            else if (status == PGRES_COMMAND_OK) value = 0;
            else ADD_FAILURE() << sql << ": " << PQerrorMessage(c);
            PQclear(r);
            PQfinish(c);
            return value;
        }
        sqlite3* c = nullptr;
        sqlite3_stmt* q = nullptr;
        if (sqlite3_open(db.c_str(), &c) == SQLITE_OK && sqlite3_prepare_v2(c, sql.c_str(), -1, &q, nullptr) == SQLITE_OK) {
            const int rc = sqlite3_step(q);
            if (rc == SQLITE_ROW) value = sqlite3_column_int64(q, 0);
            else if (rc == SQLITE_DONE) value = 0;
        }
        if (value < 0) ADD_FAILURE() << sql << ": " << sqlite3_errmsg(c);
        sqlite3_finalize(q);
        sqlite3_close(c);
        return value;
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
