// report-service-seed DB COUNT: fills a database with COUNT distinct accepted reports through the storage
// interface (so the dashboard's kept figures are filled exactly as the service fills them), in large batches.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "service/domain/rules.h"
#include "service/storage/sqlite/sqlite_storage.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: report-service-seed DB COUNT\n");
        return 2;
    }
    const long count = std::atol(argv[2]);
    std::string error;
    auto storage = Service::OpenSqliteStorage(argv[1], error);
    if (!storage) {
        std::fprintf(stderr, "report-service-seed: %s\n", error.c_str());
        return 1;
    }
    const char* cpus[] = {"Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz", "AMD Ryzen 5 3600 6-Core Processor",
                          "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"};
    const char* displays[] = {"GeForce GTX 960;NVIDIA GeForce GTX 960;2048;0", "Radeon RX 580;Radeon RX 580 Series;8192;0",
                              "Intel HD;Intel(R) HD Graphics;512;0"};
    Service::Batch batch;
    for (long i = 0; i < count; ++i) {
        Service::Report r;
        r.account = "seed" + std::to_string(i);
        char mac[32];
        std::snprintf(mac, sizeof mac, "02-%02lX-%02lX-%02lX-%02lX-%02lX", (i >> 32) & 255, (i >> 24) & 255,
                      (i >> 16) & 255, (i >> 8) & 255, i & 255);
        r.mac = mac;
        r.cpuName = cpus[i % 3];
        r.cpuCount = 4 + 2 * (i % 4);
        r.clockMHz = 2800 + (i % 9) * 100;
        r.memoryMB = std::to_string(4096 << (i % 3));
        r.displays = displays[(i / 3) % 3];
        r.resolution = i % 2 ? "1920 x 1080" : "1366 x 768";
        r.os = i % 5 ? "Windows 10 Pro 64-Bit" : "Windows 7 Professional 64-Bit";
        r.computerName = "PC" + std::to_string(i);
        std::string raw = "{\"param\":[\"" + r.account + "\"]}";
        // A test of several days.
        batch.reports.push_back(Service::Prepare(std::move(r), std::move(raw), "127.0.0.1", 1700000000 + i / 50));
        if (batch.reports.size() == 20000 || i + 1 == count) {
            if (!storage->Apply(batch)) {
                std::fprintf(stderr, "report-service-seed: %s\n", storage->LastError().c_str());
                return 1;
            }
            batch.reports.clear();
        }
    }
    return 0;
}
