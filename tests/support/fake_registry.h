#pragma once
// A registry made of recorded values, for the probes' portable logic. Values keep their raw bytes; a read
// with a smaller limit than the value fails, as the platform's does.
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "device/registry_reader.h"

class FakeRegistry : public Device::RegistryReader {
public:
    void Set(const std::string& subKey, const std::string& name, const std::string& bytes,
             Device::RegistryView view = Device::RegistryView::k32Bit) {
        m_values[{view, subKey, name}] = bytes;
    }
    // Narrow text as the narrow query returns it: the ANSI bytes and a terminator.
    void SetText(const std::string& subKey, const std::string& name, const std::string& text,
                 Device::RegistryView view = Device::RegistryView::k32Bit) {
        Set(subKey, name, text + std::string(1, '\0'), view);
    }
    void SetSubKeys(const std::string& subKey, std::vector<std::string> names) { m_subKeys[subKey] = std::move(names); }

    std::optional<std::string> ReadA(const std::string& subKey, const std::string& name, size_t maxBytes,
                                     Device::RegistryView view) const override {
        const auto it = m_values.find({view, subKey, name});
        if (it == m_values.end() || it->second.size() > maxBytes) return std::nullopt;
        return it->second;
    }
    std::optional<std::string> ReadW(const std::string& subKey, const std::u16string& name,
                                     size_t maxBytes) const override {
        return ReadA(subKey, std::string(name.begin(), name.end()), maxBytes, Device::RegistryView::k32Bit);
    }
    std::vector<std::string> SubKeyNames(const std::string& subKey) const override {
        const auto it = m_subKeys.find(subKey);
        return it == m_subKeys.end() ? std::vector<std::string>{} : it->second;
    }

private:
    std::map<std::tuple<Device::RegistryView, std::string, std::string>, std::string> m_values;
    std::map<std::string, std::vector<std::string>> m_subKeys;
};

// UTF-16LE bytes of a text, without a terminator (as display drivers store their strings).
inline std::string Utf16Bytes(const std::u16string& text) {
    std::string bytes;
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// Little-endian bytes of a number, `width` of them.
inline std::string LittleEndianBytes(uint64_t value, size_t width) {
    std::string bytes;
    for (size_t i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}
