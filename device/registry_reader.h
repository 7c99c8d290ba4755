#pragma once
// What the probes need of the registry: raw value bytes below HKEY_LOCAL_MACHINE and the names of a key's
// sub-keys. The Windows reader makes the real calls; tests feed recorded values.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace Device {

// The survey reads the 32-bit view, as a 32-bit program sees it; the OS name comes from the system's own.
enum class RegistryView { k32Bit, kNative };

class RegistryReader {
public:
    virtual ~RegistryReader() = default;
    // The value's bytes (narrow query: strings arrive in the ANSI code page), or nothing when the key does
    // not open, the value is missing, or it is longer than maxBytes.
    virtual std::optional<std::string> ReadA(const std::string& subKey, const std::string& name, size_t maxBytes,
                                             RegistryView view = RegistryView::k32Bit) const = 0;
    // The same through the wide query: strings arrive as UTF-16LE bytes.
    virtual std::optional<std::string> ReadW(const std::string& subKey, const std::u16string& name,
                                             size_t maxBytes) const = 0;
    // Names of the key's sub-keys in enumeration order; empty when the key does not open.
    virtual std::vector<std::string> SubKeyNames(const std::string& subKey) const = 0;
};

// Reads of texts that are cut to their field afterwards take this much, so a long value is not lost.
constexpr size_t kLongTextBytes = 4096;

}  // namespace Device
