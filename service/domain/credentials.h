#pragma once
// Staff secrets: passwords kept only as argon2id strings, tokens kept only as hashes, and every comparison
// of secrets in constant time. Built on libsodium, whose argon2id string carries its own salt and costs.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Service::Credentials {

// libsodium's start-up (once per process, from any thread); false when the system gives no randomness.
bool Init();

// What one password hash costs. The default is libsodium's interactive level (about a tenth of a second and
// 64 MiB here): a login waits for it once, a guesser for every guess.
struct PasswordCost {
    unsigned long long operations;
    size_t memoryBytes;
};
PasswordCost InteractiveCost();
// The least libsodium accepts: for tests only, where hundreds of hashes must stay quick.
PasswordCost MinimumCost();

constexpr size_t kMinPasswordChars = 12;
constexpr size_t kMaxPasswordBytes = 1024;
// Why a new password is refused (in English, for the command line); empty when it is acceptable.
std::string PasswordProblem(std::string_view password);

// The argon2id string ("$argon2id$v=19$m=…,t=…,p=1$salt$hash"); nothing when libsodium runs out of memory.
std::optional<std::string> HashPassword(std::string_view password, PasswordCost cost = InteractiveCost());
// Whether the password is the one stored. A stored text that is no argon2id string never matches.
bool VerifyPassword(const std::string& stored, std::string_view password);
// Spends the time of one verification and fails: a login for a name that does not exist takes as long as
// one with a wrong password, so the delay does not tell which names are staff.
void VerifyNothing(std::string_view password);
// Whether a stored hash was made with other costs than these (then it is renewed at the next login).
bool NeedsRehash(const std::string& stored, PasswordCost cost = InteractiveCost());

// 32 random bytes as 43 characters of unpadded base64url: a session cookie, a CSRF key.
std::string NewToken();
// Whether text has the shape NewToken gives (before any look-up is made with it).
bool LooksLikeToken(std::string_view text);
// What is stored for a token: BLAKE2b-256 of it, as 64 lower-case hex digits. A stolen table of these opens
// nothing: a token has 256 random bits, so no guessing finds one from its hash.
std::string TokenHash(std::string_view token);
// A value derived from a secret and a purpose (keyed BLAKE2b-256, hex): the same secret gives unrelated
// values for unrelated purposes.
std::string DeriveFromSecret(std::string_view secret, std::string_view purpose);

// Equal texts, compared in time that depends on their length only (sodium_memcmp).
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace Service::Credentials
