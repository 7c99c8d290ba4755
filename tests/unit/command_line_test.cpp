#include "app/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using Options = std::map<std::string, std::string>;

struct ParseCase {
    const char* label;
    std::string line;  // what follows the program path
    Options expected;
    bool console;
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) { return os << c.label; }

class CommandLineTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineTable, StoresExactlyTheOptionsOfTheLine) {
    const ParseCase& c = GetParam();
    CommandLineOptions options;
    ASSERT_TRUE(options.Parse("C:\\Games\\ZorvDownloader.exe " + c.line));
    EXPECT_EQ(options.options(), c.expected);
    EXPECT_EQ(options.Has("DebugWindow"), c.console);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineTable,
    ::testing::Values(
        ParseCase{"dash", "-DebugWindow", {{"debugwindow", "1"}}, true},
        ParseCase{"slash_upper", "/DEBUGWINDOW", {{"debugwindow", "1"}}, true},
        ParseCase{"value_zero_still_counts", "-DebugWindow=0", {{"debugwindow", "0"}}, true},
        ParseCase{"double_dash", "--DebugWindow", {{"-debugwindow", "1"}}, false},
        ParseCase{"comma_joins_name", "-DebugWindow,x", {{"debugwindow,x", "1"}}, false},
        ParseCase{"quoted_is_skipped", "\"-DebugWindow\"", {}, false},
        ParseCase{"tab_is_no_separator", "-DebugWindow\t-x", {{"debugwindow\t-x", "1"}}, false},
        ParseCase{"leading_tab", "\t-DebugWindow", {{"debugwindow", "1"}}, true},
        ParseCase{"equals_in_value", "-a=b=c", {{"a", "b=c"}}, false},
        ParseCase{"quoted_value", "-a=\"b c\"", {{"a", "b c"}}, false},
        ParseCase{"unclosed_quote", "-a=\"b c", {{"a", "b c"}}, false},
        ParseCase{"closing_quote_ends_value", "-a=\"b\"-c", {{"a", "b"}, {"c", "1"}}, false},
        ParseCase{"empty_value", "-a= -b", {{"a", ""}, {"b", "1"}}, false},
        ParseCase{"empty_quotes_at_end", "-a=\"\"", {{"a", "\""}}, false},
        ParseCase{"empty_quotes_swallow_rest", "-a=\"\" -b", {{"a", "\" -b"}}, false},
        ParseCase{"later_wins", "-a -a=x", {{"a", "x"}}, false},
        ParseCase{"trailing_prefix_dropped", "-a -", {{"a", "1"}}, false},
        ParseCase{"trailing_open_quote_dropped", "-b -a=\"", {{"b", "1"}}, false},
        ParseCase{"option_inside_word", "x-y", {{"y", "1"}}, false},
        ParseCase{"case_folds_names_not_values", "-Name=MiXed", {{"name", "MiXed"}}, false}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.label); });

TEST(CommandLineProgramPath, QuotedPathWithDashDefinesNothing) {
    CommandLineOptions options;
    ASSERT_TRUE(options.Parse("\"C:\\my-games\\ZorvDownloader.exe\" -DebugWindow"));
    EXPECT_EQ(options.options(), (Options{{"debugwindow", "1"}}));
}

TEST(CommandLineProgramPath, UnquotedPathWithDashDefinesAStrayOption) {
    CommandLineOptions options;
    ASSERT_TRUE(options.Parse("C:\\my-games\\ZorvDownloader.exe"));
    EXPECT_EQ(options.options(), (Options{{"games\\zorvdownloader.exe", "1"}}));
}

TEST(CommandLineProgramPath, UnquotedPathWithSlashesDefinesOneOptionPerSlash) {
    CommandLineOptions options;
    ASSERT_TRUE(options.Parse("C:/Games/Zorv.exe"));
    // "/Games/Zorv.exe": the name runs to the next space, so the second slash is part of it.
    EXPECT_EQ(options.options(), (Options{{"games/zorv.exe", "1"}}));
}

TEST(CommandLineParse, EmptyLineStoresNothingAndSaysSo) {
    CommandLineOptions options;
    EXPECT_FALSE(options.Parse(""));
    EXPECT_TRUE(options.options().empty());
}

TEST(CommandLineParse, SetFlagAndSetValueFoldTheName) {
    CommandLineOptions options;
    options.SetValue("DebugWindow", "x");
    options.SetFlag("DEBUGWINDOW");
    EXPECT_EQ(options.options(), (Options{{"debugwindow", "1"}}));
    EXPECT_TRUE(options.Has("debugWINDOW"));
}

}  // namespace
