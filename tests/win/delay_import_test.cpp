// bcrypt.dll is loaded on libcurl's first call into it, not with the program (see CMakeLists.txt); so are
// COM, OLE Automation, the shell, IP Helper and Winsock (cmake/delay-imports.cmake).
#include <windows.h>
#include <bcrypt.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

// The DLLs this program imports the ordinary way, read from its own import directory.
std::vector<std::string> StaticImports() {
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    if (directory.VirtualAddress == 0) return names;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        names.push_back(name);
    }
    return names;
}

TEST(DelayImport, BcryptIsNotImportedAtStartButWorksOnFirstCall) {
    const std::vector<std::string> imports = StaticImports();
    ASSERT_FALSE(imports.empty());
    for (const std::string& name : imports) EXPECT_NE(name, "bcrypt.dll");
    unsigned char bytes[16] = {};
    EXPECT_EQ(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG), 0);
    EXPECT_NE(GetModuleHandleW(L"bcrypt.dll"), nullptr);
}

TEST(DelayImport, NoDllThatOnlyACheckOrTheLinkNeedsIsImportedAtStart) {
    const std::vector<std::string> imports = StaticImports();
    ASSERT_FALSE(imports.empty());
    for (const char* dll : {"ole32.dll", "oleaut32.dll", "shell32.dll", "iphlpapi.dll", "ws2_32.dll", "comctl32.dll"}) {
        for (const std::string& name : imports) EXPECT_NE(name, dll);
    }
}

}  // namespace
