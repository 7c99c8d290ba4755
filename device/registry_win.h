#pragma once
// The registry as the survey reads it: values below HKEY_LOCAL_MACHINE, KEY_READ in the 32-bit view unless
// a view is named. Each read opens and closes its key.
#include <windows.h>

#include "device/registry_reader.h"

namespace Device {

// Reads a value into the buffer without asking its type; *size is the buffer's size on entry and the
// value's byte count on success. False when the key does not open or the read fails (also when the
// value is larger than the buffer).
bool ReadRegistryValueA(const char* subKey, const char* valueName, void* data, DWORD* size,
                        REGSAM view = KEY_WOW64_32KEY);
bool ReadRegistryValueW(const char* subKey, const wchar_t* valueName, void* data, DWORD* size);

class WindowsRegistry : public RegistryReader {
public:
    std::optional<std::string> ReadA(const std::string& subKey, const std::string& name, size_t maxBytes,
                                     RegistryView view) const override;
    std::optional<std::string> ReadW(const std::string& subKey, const std::u16string& name,
                                     size_t maxBytes) const override;
    std::vector<std::string> SubKeyNames(const std::string& subKey) const override;
};

}  // namespace Device
