// Passwords, tokens and sessions: what is stored never opens anything, and time alone ends a session.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "service/domain/credentials.h"
#include "service/domain/session.h"

namespace {

using namespace Service;
namespace C = Service::Credentials;
namespace S = Service::Sessions;

TEST(Passwords, HashIsSaltedArgon2idAndVerifiesOnlyItsPassword) {
    const std::string password = "correct horse battery";
    const auto a = C::HashPassword(password, C::MinimumCost());
    const auto b = C::HashPassword(password, C::MinimumCost());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->rfind("$argon2id$", 0), 0u);
    EXPECT_NE(*a, *b);  // a salt each
    EXPECT_EQ(a->find(password), std::string::npos);
    EXPECT_TRUE(C::VerifyPassword(*a, password));
    for (const char* wrong : {"", "correct horse batter", "correct horse battery ", "Correct horse battery"}) {
        SCOPED_TRACE(wrong);
        EXPECT_FALSE(C::VerifyPassword(*a, wrong));
    }
    // A password with a NUL inside is compared whole, not up to the NUL.
    const std::string withNul("abcdefghijkl\0mn", 15);
    const auto c = C::HashPassword(withNul, C::MinimumCost());
    EXPECT_FALSE(C::VerifyPassword(*c, "abcdefghijkl"));
    EXPECT_TRUE(C::VerifyPassword(*c, withNul));
}

TEST(Passwords, StoredTextsThatAreNotArgon2idNeverMatch) {
    const auto good = *C::HashPassword("correct horse battery", C::MinimumCost());
    std::string argon2i = good;
    argon2i.replace(0, 10, "$argon2i$");
    for (const std::string& stored : {std::string(), std::string("correct horse battery"), good.substr(0, good.size() - 4),
                                      argon2i, good + std::string(200, 'A')}) {
        SCOPED_TRACE(stored);
        EXPECT_FALSE(C::VerifyPassword(stored, "correct horse battery"));
        EXPECT_TRUE(C::NeedsRehash(stored));
    }
}

TEST(Passwords, InteractiveCostIsWhatIsStoredAndRenewsCheaperHashes) {
    const auto strong = *C::HashPassword("correct horse battery");
    EXPECT_NE(strong.find("$m=65536,t=2,p=1$"), std::string::npos) << strong;
    EXPECT_TRUE(C::VerifyPassword(strong, "correct horse battery"));
    EXPECT_FALSE(C::NeedsRehash(strong));
    EXPECT_TRUE(C::NeedsRehash(*C::HashPassword("correct horse battery", C::MinimumCost())));
}

TEST(Passwords, Problems) {
    const struct {
        std::string password;
        bool ok;
    } cases[] = {
        {"", false},
        {"elevenchars", false},
        {"twelve chars", true},
        {"密码密码密码密码密码密码", true},      // twelve characters, 36 bytes
        {"密码密码密码密码密码密", false},        // eleven
        {"twelve\tchars", false},
        {"twelve chars\n", false},
        {std::string(1024, 'x'), true},
        {std::string(1025, 'x'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        EXPECT_EQ(C::PasswordProblem(c.password).empty(), c.ok) << C::PasswordProblem(c.password);
    }
}

TEST(Tokens, AreRandomShapedAndStoredAsTheirHash) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string t = C::NewToken();
        ASSERT_TRUE(C::LooksLikeToken(t)) << t;
        ASSERT_TRUE(seen.insert(t).second);
    }
    // BLAKE2b-256 of the empty text, as published with the algorithm.
    EXPECT_EQ(C::TokenHash(""), "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8");
    const std::string t = *seen.begin();
    EXPECT_EQ(C::TokenHash(t).size(), 64u);
    EXPECT_NE(C::TokenHash(t), C::TokenHash(t.substr(1)));
    for (const std::string& bad : {t.substr(1), t + "A", t.substr(0, 42) + "=", t.substr(0, 42) + "B", std::string(43, '.')}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(C::LooksLikeToken(bad));
    }
}

TEST(Sessions, EndAfterThirtyIdleMinutesOrTwelveHours) {
    const int64_t login = 1'000'000;
    const struct {
        int64_t lastSeen, now;
        S::SessionState state;
    } cases[] = {
        {login, login, S::SessionState::Live},
        {login, login + 1799, S::SessionState::Live},
        {login, login + 1800, S::SessionState::Idle},
        {login + 40000, login + 41799, S::SessionState::Live},
        {login + 43000, login + 43199, S::SessionState::Live},
        {login + 43000, login + 43200, S::SessionState::Expired},  // used a moment ago, but twelve hours old
        {login, login + 50000, S::SessionState::Expired},
        {login, login - 3600, S::SessionState::Live},               // the clock went back
        {login - 5000, login + 1000, S::SessionState::Live},        // a last use before the login counts as the login
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lastSeen - login << " " << c.now - login);
        const S::SessionRecord s{"h", "ann", login, c.lastSeen};
        EXPECT_EQ(S::Check(s, c.now), c.state);
    }
    // Live exactly until EndsAt, whatever the record.
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        const S::SessionRecord s{"h", "ann", login, login + static_cast<int64_t>(random() % 50000)};
        const int64_t now = s.lastSeenAt + static_cast<int64_t>(random() % 4000);
        ASSERT_EQ(S::Check(s, now) == S::SessionState::Live, now < S::EndsAt(s)) << s.lastSeenAt << " " << now;
    }
}

TEST(Sessions, TouchedAtMostOncePerMinuteWhileLive) {
    const S::SessionRecord s{"h", "ann", 1000, 1000};
    EXPECT_FALSE(S::NeedsTouch(s, 1059));
    EXPECT_TRUE(S::NeedsTouch(s, 1060));
    EXPECT_FALSE(S::NeedsTouch(s, 1000 + S::kIdleSeconds));
}

TEST(Sessions, EveryLoginIsANewTokenAndOnlyItsHashIsKept) {
    const auto a = S::Start("ann", 5000), b = S::Start("ann", 5000);
    EXPECT_NE(a.token, b.token);
    EXPECT_TRUE(C::LooksLikeToken(a.token));
    EXPECT_EQ(a.record.tokenHash, C::TokenHash(a.token));
    EXPECT_EQ(a.record.staff, "ann");
    EXPECT_EQ(a.record.createdAt, 5000);
    EXPECT_EQ(a.record.lastSeenAt, 5000);
    EXPECT_EQ(S::SessionCookie(a.token),
              "zorv_staff=" + a.token + "; Path=/; Max-Age=43200; HttpOnly; Secure; SameSite=Strict");
    EXPECT_EQ(S::ClearedCookie(), "zorv_staff=; Path=/; Max-Age=0; HttpOnly; Secure; SameSite=Strict");
}

TEST(Sessions, CsrfTokenBelongsToItsSessionAlone) {
    const auto a = S::Start("ann", 0), b = S::Start("ann", 0);
    const std::string csrf = S::CsrfToken(a.token);
    EXPECT_TRUE(S::CsrfValid(a.token, csrf));
    EXPECT_EQ(S::CsrfToken(a.token), csrf);
    // Neither the cookie nor what the database holds is the form's token, nor gives it.
    EXPECT_NE(csrf, a.token);
    EXPECT_NE(csrf, a.record.tokenHash);
    std::string flipped = csrf;
    flipped[10] = flipped[10] == '0' ? '1' : '0';
    for (const std::string& wrong : {std::string(), S::CsrfToken(b.token), flipped, csrf.substr(1), csrf + "0",
                                     a.token, a.record.tokenHash}) {
        SCOPED_TRACE(wrong);
        EXPECT_FALSE(S::CsrfValid(a.token, wrong));
    }
    EXPECT_FALSE(S::CsrfValid("", S::CsrfToken("")));  // no session, no form
}

TEST(Sessions, LoginFormsPostedFromThisSiteOnly) {
    const struct {
        const char* origin;
        bool present;
        const char* host;
        bool ok;
    } cases[] = {
        {"https://report.example.com", true, "report.example.com", true},
        {"http://127.0.0.1:8360", true, "127.0.0.1:8360", true},
        {"https://Report.Example.com", true, "report.example.COM", true},
        {"", false, "report.example.com", true},  // no Origin header at all
        {"null", true, "report.example.com", false},
        {"", true, "report.example.com", false},
        {"https://evil.example", true, "report.example.com", false},
        {"https://report.example.com.evil.example", true, "report.example.com", false},
        {"https://report.example.com:8443", true, "report.example.com", false},
        {"https://report.example.com", true, "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(S::PostedFromHere(c.origin, c.host, c.present), c.ok) << c.origin << " -> " << c.host;
}

}  // namespace
