#include "device/wmi_query.h"

#include <gtest/gtest.h>

#include "tests/support/code_page.h"

namespace {

using Device::VariantValue;

VariantValue Signed(uint16_t type, int64_t v) { return {type, v, 0, 0, {}}; }
VariantValue Unsigned(uint16_t type, uint64_t v) { return {type, 0, v, 0, {}}; }
VariantValue Real(uint16_t type, double v) { return {type, 0, 0, v, {}}; }
VariantValue Text(const std::u16string& s) { return {Device::kVtBstr, 0, 0, 0, s}; }
VariantValue Type(uint16_t type) { return {type, 0, 0, 0, {}}; }

TEST(VariantToText, ProducedTexts) {
    TextEncodingScope scope(936);
    const struct {
        const char* label;
        VariantValue value;
        const char* expected;
    } cases[] = {
        {"VT_EMPTY", Type(Device::kVtEmpty), ""},
        {"VT_NULL", Type(Device::kVtNull), ""},
        {"VT_I2 -5", Signed(Device::kVtI2, -5), "-5"},
        {"VT_I4 min", Signed(Device::kVtI4, INT32_MIN), "-2147483648"},
        {"VT_R4 widened", Real(Device::kVtR4, 0.5f), "0.500000"},
        {"VT_R8 2.5", Real(Device::kVtR8, 2.5), "2.500000"},
        {"VT_DATE", Real(Device::kVtDate, 45000.25), "Date"},
        {"VT_BSTR in code page 936", Text(u"本地连接"), "\xB1\xBE\xB5\xD8\xC1\xAC\xBD\xD3"},
        {"VT_BSTR longer than any fixed buffer", Text(std::u16string(600, u'x')), nullptr},
        {"VT_BOOL -1", Signed(Device::kVtBool, -1), "True"},
        {"VT_BOOL 1", Signed(Device::kVtBool, 1), "False"},
        {"VT_BOOL 0", Signed(Device::kVtBool, 0), "False"},
        {"VT_I1 'A'", Signed(Device::kVtI1, 'A'), "A"},
        {"VT_I1 zero byte", Signed(Device::kVtI1, 0), ""},
        {"VT_UI1 200", Unsigned(Device::kVtUi1, 200), "200"},
        {"VT_UI2 65535", Unsigned(Device::kVtUi2, 65535), "65535"},
        {"VT_UI4 max", Unsigned(Device::kVtUi4, 4294967295u), "4294967295"},
        {"VT_I8 min", Signed(Device::kVtI8, INT64_MIN), "-9223372036854775808"},
        {"VT_UI8 max", Unsigned(Device::kVtUi8, UINT64_MAX), "18446744073709551615"},
        {"VT_ARRAY|VT_BSTR", Type(Device::kVtArray | Device::kVtBstr), "<array>"},
        {"VT_ARRAY|VT_BYREF", Type(Device::kVtArray | Device::kVtByRef | Device::kVtI4), "<array>"},
        {"VT_BYREF|VT_I4", Type(Device::kVtByRef | Device::kVtI4), "<reference>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::string out = "earlier";
        Device::VariantToText(&c.value, out);
        EXPECT_EQ(out, c.expected ? std::string(c.expected) : std::string(600, 'x'));
    }
}

TEST(VariantToText, TypesWithoutATextKeepEarlierOutput) {
    const uint16_t unchanged[] = {Device::kVtCy, Device::kVtDispatch, Device::kVtError, Device::kVtVariant,
                                  Device::kVtUnknown, Device::kVtDecimal, 15, 22 /* VT_INT */, 23 /* VT_UINT */,
                                  0xFFF};
    for (const uint16_t type : unchanged) {
        SCOPED_TRACE(type);
        std::string out = "earlier";
        const VariantValue value = Type(type);
        Device::VariantToText(&value, out);
        EXPECT_EQ(out, "earlier");
    }
    std::string out = "earlier";
    const VariantValue empty = Text(u"");
    Device::VariantToText(&empty, out);
    EXPECT_EQ(out, "earlier");
}

TEST(VariantToText, NullValueGivesEmptyText) {
    std::string out = "earlier";
    Device::VariantToText(nullptr, out);
    EXPECT_EQ(out, "");
}

TEST(WmiVersionGate, OnlyWindowsXpAndLaterConnect) {
    const struct {
        unsigned major, minor;
        bool supported;
    } cases[] = {{4, 0, false}, {4, 90, false}, {5, 0, false}, {5, 1, true}, {5, 2, true}, {6, 0, true}, {6, 3, true},
                 {10, 0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor);
        EXPECT_EQ(Device::WmiVersionSupported(c.major, c.minor), c.supported);
    }
}

TEST(WmiTypedReads, EachAcceptsOnlyItsTypes) {
    const struct {
        const char* label;
        VariantValue value;
        bool index, status, statusUI2;
        int32_t expected;
    } cases[] = {
        {"VT_I4 3", Signed(Device::kVtI4, 3), true, true, false, 3},
        {"VT_I4 -1", Signed(Device::kVtI4, -1), true, false, false, -1},
        {"VT_UI4 2", Unsigned(Device::kVtUi4, 2), false, true, false, 2},
        {"VT_UI2 2", Unsigned(Device::kVtUi2, 2), false, false, true, 2},
        {"VT_NULL", Type(Device::kVtNull), false, false, false, 0},
        {"VT_EMPTY", Type(Device::kVtEmpty), false, false, false, 0},
        {"VT_BSTR", Text(u"2"), false, false, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        int32_t index = 99, status = 99;
        uint16_t status16 = 99;
        EXPECT_EQ(Device::IndexFromValue(c.value, index), c.index);
        EXPECT_EQ(index, c.index ? c.expected : 0);
        EXPECT_EQ(Device::ConnectionStatusFromValue(c.value, status), c.status);
        EXPECT_EQ(status, c.status ? c.expected : 0);
        EXPECT_EQ(Device::ConnectionStatusUI2FromValue(c.value, status16), c.statusUI2);
        EXPECT_EQ(status16, c.statusUI2 ? c.expected : 0);
    }
}

}  // namespace
