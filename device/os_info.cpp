#include "device/os_info.h"

#include <cstdlib>

#include "text/field_text.h"

namespace Device {

int16_t BitnessOf(unsigned nativeArchitecture) { return nativeArchitecture == 9 ? 64 : 32; }

std::string CorrectedProductName(const std::string& productName, const std::string& buildNumber,
                                 const std::string& installationType) {
    static const std::string kTen = "Windows 10";
    if (productName.compare(0, kTen.size(), kTen) != 0) return productName;
    if (installationType == "Server" || productName.find("Server") != std::string::npos) return productName;
    char* end = nullptr;
    const unsigned long build = std::strtoul(buildNumber.c_str(), &end, 10);
    if (buildNumber.empty() || *end != '\0' || build < 22000) return productName;
    return "Windows 11" + productName.substr(kTen.size());
}

OsInfo ReadOsInfo(const RegistryReader& registry, unsigned nativeArchitecture) {
    auto text = [&](const char* name) {
        return FieldText::NarrowText(registry.ReadA(kCurrentVersionKey, name, kLongTextBytes, RegistryView::kNative).value_or(""));
    };
    OsInfo os{};
    FieldText::CopyToField(os.productName,
                CorrectedProductName(text("ProductName"), text("CurrentBuildNumber"), text("InstallationType")));
    os.bitness = BitnessOf(nativeArchitecture);
    return os;
}

}  // namespace Device
