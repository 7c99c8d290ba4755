#pragma once
// Shared by the service tests: a throw-away database folder and reports as the checker writes them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "service/app/service.h"
#include "service/storage/storage.h"
#include "test_backends.h"
#include "text/wire_contract.h"

struct ReportFields {
    std::string account = "player1";
    std::string mac = "00-11-22-33-44-55";
    std::string cpu = "Example CPU 3.0GHz";
    int count = 4;
    int mhz = 2993;
    std::string memory = "8192";
    std::string displays = "Chip X;Adapter A;1024;0";
    std::string resolution = "1920 x 1080";
    std::string os = "Windows 7 Professional 64-Bit";
    std::string computer = "PC01";
};

inline WireContract::ReportValues ContractValues(const ReportFields& f) {
    WireContract::ReportValues v;
    v.account = f.account;
    v.macAddress = f.mac;
    v.cpuName = f.cpu;
    v.cpuCount = f.count;
    v.clockMHz = f.mhz;
    v.memoryMB = f.memory;
    v.displayList = f.displays;
    v.resolution = f.resolution;
    v.osText = f.os;
    v.computerName = f.computer;
    return v;
}

// What the checker sends on a Chinese system: the fields are its code-page 936 bytes.
inline std::string CheckerPayload(const ReportFields& f) {
    return WireContract::BuildPayload(ContractValues(f), CodePage::IsCp936LeadByte);
}

// The same report from a client that sends UTF-8 and says so (charset=utf-8): the fields are UTF-8.
inline std::string Utf8Payload(const ReportFields& f) {
    return WireContract::BuildPayload(ContractValues(f), [](unsigned char) { return false; });
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/report-service-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made) ADD_FAILURE() << "mkdtemp failed";
        m_path = made ? made : "/tmp";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline std::unique_ptr<Service::Storage> OpenStorage(const std::string& path) {
    std::string error;
    auto storage = Service::OpenStorage(path, error);
    if (!storage) ADD_FAILURE() << "cannot open the store: " << error;
    return storage;
}

// The service over a database in a fresh folder, at a fixed time; `store` is a third connection for checks.
class ServiceFixture {
public:
    explicit ServiceFixture(bool requireRegistered = false, const std::string& token = "secret-token") {
        Service::ServiceOptions options;
        options.adminToken = token;
        options.requireRegistered = requireRegistered;
        service = std::make_unique<Service::ReportService>(OpenStorage(Path()), OpenStorage(Path()), options,
                                                           [this] { return now.load(); });
        store = OpenStorage(Path());
    }
    std::string Path() const { return database.db; }

    Service::HttpResponse Post(const std::string& path, const std::string& body,
                               const std::string& contentType = "Application/json") {
        Service::HttpRequest r;
        r.method = "POST";
        r.path = path;
        r.body = body;
        r.remote = "127.0.0.1";
        r.headers.emplace("content-type", contentType);
        return service->HandleAndWait(r);
    }
    // As the checker sends it: its code page, no charset.
    Service::HttpResponse Report(const std::string& body) { return Post(Service::kReportPath, body); }
    Service::HttpResponse ReportUtf8(const std::string& body) {
        return Post(Service::kReportPath, body, "application/json; charset=UTF-8");
    }
    Service::HttpResponse Get(const std::string& path, const std::string& token = "") {
        Service::HttpRequest r;
        r.method = "GET";
        r.path = path;
        r.remote = "127.0.0.1";
        if (!token.empty()) r.query.emplace("token", token);
        return service->HandleAndWait(r);
    }
    std::optional<Service::DashboardData> Dashboard() {
        service->Flush();
        return store->Dashboard();
    }
    std::optional<std::vector<Service::ReportRow>> Reports() {
        service->Flush();
        std::vector<Service::ReportRow> rows;
        if (!store->Export([&rows](const Service::ReportRow& row) {
                rows.push_back(row);
                return true;
            }))
            return std::nullopt;
        return rows;
    }

    TempDir dir;
    TestDatabase database{CurrentBackend(), dir.File("reports.db")};
    std::atomic<int64_t> now{1700000000};
    std::unique_ptr<Service::ReportService> service;
    std::unique_ptr<Service::Storage> store;
};
