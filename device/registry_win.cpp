#include "device/registry_win.h"

#include "framework/handles.h"

namespace Device {
namespace {

// Opened for one read and closed before the read returns; an empty key when it does not open.
Framework::RegKey OpenKey(const char* subKey, REGSAM view) {
    Framework::RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS) key.Release();
    return key;
}

std::optional<std::string> Bytes(std::string buffer, bool read, DWORD size) {
    if (!read) return std::nullopt;
    buffer.resize(size);
    return buffer;
}

}  // namespace

bool ReadRegistryValueA(const char* subKey, const char* valueName, void* data, DWORD* size, REGSAM view) {
    const Framework::RegKey key = OpenKey(subKey, view);
    return key.Get() &&
           RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, static_cast<BYTE*>(data), size) == ERROR_SUCCESS;
}

bool ReadRegistryValueW(const char* subKey, const wchar_t* valueName, void* data, DWORD* size) {
    const Framework::RegKey key = OpenKey(subKey, KEY_WOW64_32KEY);
    return key.Get() &&
           RegQueryValueExW(key.Get(), valueName, nullptr, nullptr, static_cast<BYTE*>(data), size) == ERROR_SUCCESS;
}

std::optional<std::string> WindowsRegistry::ReadA(const std::string& subKey, const std::string& name, size_t maxBytes,
                                                  RegistryView view) const {
    std::string buffer(maxBytes, '\0');
    DWORD size = static_cast<DWORD>(maxBytes);
    const bool read = ReadRegistryValueA(subKey.c_str(), name.c_str(), &buffer[0], &size,
                                         view == RegistryView::kNative ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
    return Bytes(std::move(buffer), read, size);
}

std::optional<std::string> WindowsRegistry::ReadW(const std::string& subKey, const std::u16string& name,
                                                  size_t maxBytes) const {
    std::string buffer(maxBytes, '\0');
    DWORD size = static_cast<DWORD>(maxBytes);
    const bool read =
        ReadRegistryValueW(subKey.c_str(), reinterpret_cast<const wchar_t*>(name.c_str()), &buffer[0], &size);
    return Bytes(std::move(buffer), read, size);
}

std::vector<std::string> WindowsRegistry::SubKeyNames(const std::string& subKey) const {
    std::vector<std::string> names;
    const Framework::RegKey key = OpenKey(subKey.c_str(), KEY_WOW64_32KEY);
    DWORD count = 0;
    if (!key.Get() || RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0; i < count; ++i) {
        char name[260] = {};
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            names.emplace_back(name, length);
    }
    return names;
}

}  // namespace Device
