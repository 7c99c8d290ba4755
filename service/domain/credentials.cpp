#include "service/domain/credentials.h"

#include <sodium.h>


namespace Service::Credentials {

namespace {

constexpr size_t kTokenBytes = 32;
constexpr size_t kHashBytes = 32;

std::string Hex(const unsigned char* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool IsArgon2id(const std::string& stored) {
    return stored.size() < crypto_pwhash_STRBYTES && stored.rfind(crypto_pwhash_argon2id_STRPREFIX, 0) == 0;
}

}  // namespace

bool Init() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

PasswordCost InteractiveCost() {
    return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}

PasswordCost MinimumCost() { return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN}; }

std::string PasswordProblem(std::string_view password) {
    if (password.size() > kMaxPasswordBytes)
        return "the password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
    size_t chars = 0;
    for (unsigned char c : password) {
        if (c < 0x20 || c == 0x7f) return "the password holds a control character";
        if ((c & 0xC0) != 0x80) ++chars;
    }
    if (chars < kMinPasswordChars)
        return "the password is shorter than " + std::to_string(kMinPasswordChars) + " characters";
    return {};
}

std::optional<std::string> HashPassword(std::string_view password, PasswordCost cost) {
    if (!Init()) return std::nullopt;
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, password.data(), password.size(), cost.operations, cost.memoryBytes,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        return std::nullopt;
    return std::string(out);
}

bool VerifyPassword(const std::string& stored, std::string_view password) {
    if (!Init() || !IsArgon2id(stored)) return false;
    return crypto_pwhash_str_verify(stored.c_str(), password.data(), password.size()) == 0;
}

void VerifyNothing(std::string_view password) {
    // One hash made at the interactive cost, kept for the life of the process.
    static const std::string dummy = [] {
        unsigned char seed[16];
        randombytes_buf(seed, sizeof seed);
        return HashPassword(Hex(seed, sizeof seed)).value_or(std::string());
    }();
    if (dummy.empty()) return;
    const int mismatch = crypto_pwhash_str_verify(dummy.c_str(), password.data(), password.size());
    (void)mismatch;
}

bool NeedsRehash(const std::string& stored, PasswordCost cost) {
    if (!Init() || !IsArgon2id(stored)) return true;
    return crypto_pwhash_str_needs_rehash(stored.c_str(), cost.operations, cost.memoryBytes) != 0;
}

std::string NewToken() {
    if (!Init()) return {};
    unsigned char bytes[kTokenBytes];
    randombytes_buf(bytes, sizeof bytes);
    char text[sodium_base64_ENCODED_LEN(kTokenBytes, sodium_base64_VARIANT_URLSAFE_NO_PADDING)];
    sodium_bin2base64(text, sizeof text, bytes, sizeof bytes, sodium_base64_VARIANT_URLSAFE_NO_PADDING);
    sodium_memzero(bytes, sizeof bytes);
    return text;
}

bool LooksLikeToken(std::string_view text) {
    if (text.size() != sodium_base64_ENCODED_LEN(kTokenBytes, sodium_base64_VARIANT_URLSAFE_NO_PADDING) - 1)
        return false;
    for (char c : text)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
            return false;
    // 43 characters carry 258 bits: the last one may only use the top four of its six.
    static const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    return (alphabet.find(text.back()) & 3) == 0;
}

std::string TokenHash(std::string_view token) {
    Init();
    unsigned char hash[kHashBytes];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(token.data()), token.size(),
                       nullptr, 0);
    return Hex(hash, sizeof hash);
}

std::string DeriveFromSecret(std::string_view secret, std::string_view purpose) {
    Init();
    // The key is the secret's own hash: any length of secret makes a key of the size BLAKE2b takes.
    unsigned char key[kHashBytes];
    crypto_generichash(key, sizeof key, reinterpret_cast<const unsigned char*>(secret.data()), secret.size(),
                       nullptr, 0);
    unsigned char out[kHashBytes];
    crypto_generichash(out, sizeof out, reinterpret_cast<const unsigned char*>(purpose.data()), purpose.size(), key,
                       sizeof key);
    sodium_memzero(key, sizeof key);
    return Hex(out, sizeof out);
}

bool SameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace Service::Credentials
