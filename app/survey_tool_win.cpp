// survey.exe: surveys this machine as a check would and prints the survey log, followed by what a reader
// chasing a wrong report also wants to see.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "device/network_adapters.h"
#include "report/checker.h"
#include "report/report_text.h"

int main() {
    LARGE_INTEGER frequency{}, start{}, end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const auto environment = MakeSystemCheckEnvironment();
    const auto survey = environment->TakeSurvey();
    QueryPerformanceCounter(&end);
    if (!survey) {
        std::fprintf(stderr, "the survey could not be taken\n");
        return 1;
    }

    // The record a check would send, assembled by the same code.
    const CheckReport report = AssembleReport(*survey, *environment);
    Device::NetworkAdapterList networks{};
    survey->GetNetworkAdapters(networks);
    WriteSurveyLog(report);

    std::printf("\nDisplay adapters: %d\n", report.displays.count);
    for (int i = 0; i < report.displays.count; ++i)
        std::printf("  %d: name \"%s\", chip \"%s\", %uMB\n", i, report.displays.adapters[i].name,
                    report.displays.adapters[i].chipType, report.displays.adapters[i].memoryMB);
    std::printf("Network adapters: %d\n", networks.count);
    for (int i = 0; i < networks.count; ++i) {
        const Device::NetworkAdapterInfo& a = networks.adapters[i];
        std::printf("  %d: \"%s\", MAC %s, type \"%s\", connection status %d%s\n", i, a.description, a.macAddress,
                    a.adapterType, a.connectionStatus, a.connectionStatus == 2 ? " (connected)" : "");
    }
    std::printf("Fixed disks: %uMB\n", report.memory.fixedDiskMB);
    std::printf("Survey time: %.0f ms\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
    return 0;
}
