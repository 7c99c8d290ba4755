#pragma once
// Shared by the service tests: a throw-away database folder and reports as the checker writes them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "service/service.h"
#include "service/store.h"
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

// A store in a fresh folder and the service in front of it, at a fixed time.
class ServiceFixture {
public:
    explicit ServiceFixture(bool requireRegistered = false, const std::string& token = "secret-token") {
        std::string error;
        store = Service::Store::Open(dir.File("reports.db"), error);
        if (!store) ADD_FAILURE() << "cannot open the store: " << error;
        service = std::make_unique<Service::ReportService>(
            *store, Service::ServiceOptions{token, requireRegistered}, [this] { return now; });
    }

    Service::HttpResponse Post(const std::string& path, const std::string& body,
                               const std::string& contentType = "Application/json") {
        Service::HttpRequest r;
        r.method = "POST";
        r.path = path;
        r.body = body;
        r.headers.emplace("content-type", contentType);
        r.remote = "127.0.0.1";
        return service->Handle(r);
    }
    // As the checker posts it; a UTF-8 client adds charset=utf-8.
    Service::HttpResponse Report(const std::string& body, const std::string& contentType = "Application/json") {
        return Post(Service::kReportPath, body, contentType);
    }
    Service::HttpResponse Get(const std::string& path, const std::string& token = "") {
        Service::HttpRequest r;
        r.method = "GET";
        r.path = path;
        r.remote = "127.0.0.1";
        if (!token.empty()) r.query.emplace("token", token);
        return service->Handle(r);
    }

    TempDir dir;
    int64_t now = 1700000000;
    std::unique_ptr<Service::Store> store;
    std::unique_ptr<Service::ReportService> service;
};
