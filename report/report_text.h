#pragma once
// The two texts every passing check produces from the same values: the readable survey log and the
// one-line JSON payload. Both are narrow text in the ANSI code page.
#include <cstdio>
#include <string>

#include "report/check_report.h"

std::string FormatOsText(const Device::OsInfo& os);
std::string TrimmedCpuName(const Device::CpuInfo& cpu);
std::string BuildDisplayList(const Device::DisplayAdapterList& displays);
std::string FormatSurveyLog(const CheckReport& report);
void WriteSurveyLog(const CheckReport& report, std::FILE* out = stdout);
// The report payload of the wire contract (text/wire_contract.h), escaped by the system code page's rules.
std::string BuildReportJson(const CheckReport& report);
