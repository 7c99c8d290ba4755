// The identity keys: spellings a person would call the same give one key, different ones do not.
#include <gtest/gtest.h>

#include "service/domain/identity.h"

namespace {

using namespace Service;

TEST(Identity, AccountKeys) {
    const struct {
        const char* spelling;
        const char* key;
    } cases[] = {
        {"player1", "player1"},
        {"Player1", "player1"},
        {"ＰＬＡＹＥＲ１", "player1"},              // full-width forms
        {"\u3000player1\u00A0 \t", "player1"},      // Unicode white space around
        {"play\u200Ber1", "player1"},               // zero-width space
        {"\uFEFFplayer1\u200D", "player1"},          // byte-order mark, zero-width joiner
        {"pla\u00ADyer1", "player1"},               // soft hyphen
        {"play\x01" "er1\x7f", "player1"},           // control characters
        {"play er1", "play er1"},                   // a blank inside is part of the name
        {"Straße", "strasse"},
        {"玩家一", "玩家一"},
        {"\u200B\u3000", ""},                      // nothing visible
        {"\xFF", ""},                              // not UTF-8
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spelling);
        EXPECT_EQ(Identity::AccountKey(c.spelling), c.key);
    }
}

TEST(Identity, MacKeys) {
    const struct {
        const char* mac;
        const char* key;
    } cases[] = {
        {"00-11-22-33-44-AA", "0011223344AA"}, {"00:11:22:33:44:aa", "0011223344AA"},
        {"001122 3344aa", "0011223344AA"},     {"0011.2233.44Aa", "0011223344AA"},
        {"", ""},                              {"00-00-00-00-00-00", ""},
        {"ff-ff-ff-ff-ff-ff", ""},             {"00-11-22-33-44", ""},
        {"00-11-22-33-44-55-66", ""},          {"00-11-22-33-44-GG", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mac);
        EXPECT_EQ(Identity::MacKey(c.mac), c.key);
    }
}

TEST(Identity, FingerprintsFoldCaseButKeepFieldsApart) {
    Report a;
    a.cpuName = "Intel CPU";
    a.displays = "Chip;Name;1024;0";
    a.computerName = "PC01";
    Report b = a;
    b.cpuName = "INTEL cpu";
    b.computerName = "ｐｃ01";
    EXPECT_EQ(Identity::Fingerprint(a), Identity::Fingerprint(b));
    b = a;
    b.cpuName = "Intel CPUChip";
    b.displays = ";Name;1024;0";
    EXPECT_NE(Identity::Fingerprint(a), Identity::Fingerprint(b));
}

}  // namespace
