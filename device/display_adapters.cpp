#include "device/display_adapters.h"

#include "text/field_text.h"
#include "text/text_encoding.h"

namespace Device {

uint32_t VideoMemoryMB(const std::optional<std::string>& qwMemorySize, const std::optional<std::string>& memorySize) {
    // The 32-bit value saturates near 4 GB (or 2 GB) on modern cards; the 64-bit one does not. Some drivers
    // write it as 0 (or a few bytes), which says nothing about the card: then the 32-bit value stands.
    if (qwMemorySize && !qwMemorySize->empty()) {
        const uint64_t bytes = FieldText::LittleEndian(*qwMemorySize);
        if (bytes >= 0x100000) return static_cast<uint32_t>(bytes >> 20);
    }
    const uint32_t value = static_cast<uint32_t>(FieldText::LittleEndian(memorySize.value_or("")));
    return value >= 0x100000 ? value >> 20 : value;
}

void QueryDisplayAdapters(DisplayAdapterList& list, const DisplayDeviceEnumerator& enumerate,
                          const RegistryReader& registry) {
    for (uint32_t index = 0;; ++index) {
        const std::optional<DisplayDeviceRow> row = enumerate(index);
        if (!row) return;
        if (!row->attachedToDesktop) continue;
        if (list.count >= kMaxDisplayAdapters) return;
        const size_t at = row->deviceKey.find("System\\");
        if (at == std::string::npos) continue;
        const std::string subKey = row->deviceKey.substr(at);
        DisplayAdapterInfo& entry = list.adapters[list.count];
        entry.memoryMB = VideoMemoryMB(registry.ReadA(subKey, "HardwareInformation.qwMemorySize", 8),
                                       registry.ReadA(subKey, "HardwareInformation.MemorySize", 4));
        auto text = [&](const char16_t* name) {
            return TextEncoding::Utf16ToAnsi(FieldText::WideText(registry.ReadW(subKey, name, 128).value_or("")));
        };
        FieldText::CopyToField(entry.name, text(u"HardwareInformation.AdapterString"));
        FieldText::CopyToField(entry.chipType, text(u"HardwareInformation.ChipType"));
        ++list.count;
    }
}

}  // namespace Device
