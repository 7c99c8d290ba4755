// The staff command line: what it takes, and that a typed password is never shown on the terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "service/app/staff_cli.h"

namespace {

using namespace Service;

TEST(StaffCommandLine, Parses) {
    const struct {
        std::vector<std::string> args;
        const char* shown;  // verb name role db stdin, or nullptr when refused
    } cases[] = {
        {{"add", "Ann", "--role", "support"}, "add ann support var/reports.db 0"},
        {{"add", "--db", "postgresql://u@h:5432/d", "ann", "--role", "admin", "--password-stdin"},
         "add ann admin postgresql://u@h:5432/d 1"},
        {{"passwd", "ann", "--password-stdin"}, "passwd ann viewer var/reports.db 1"},
        {{"disable", "ann", "--db", "x.db"}, "disable ann viewer x.db 0"},
        {{"list"}, "list  viewer var/reports.db 0"},
        {{}, nullptr},
        {{"remove", "ann"}, nullptr},
        {{"add", "ann"}, nullptr},                                  // a role must be chosen
        {{"add", "ann", "--role", "root"}, nullptr},
        {{"add", "ann", "--role"}, nullptr},
        {{"add", "token", "--role", "admin"}, nullptr},
        {{"add", "ann", "bob", "--role", "admin"}, nullptr},
        {{"passwd"}, nullptr},
        {{"passwd", "ann", "--role", "admin"}, nullptr},
        {{"passwd", "ann", "--password", "hunter2hunter2"}, nullptr},
        {{"passwd", "ann", "--password=hunter2hunter2"}, nullptr},
        {{"disable", "ann", "--password-stdin"}, nullptr},
        {{"list", "ann"}, nullptr},
        {{"list", "--db", ""}, nullptr},
        {{"list", "--verbose"}, nullptr},
    };
    const char* verbs[] = {"add", "passwd", "disable", "list"};
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        std::string error;
        const auto command = ParseStaffCommand(c.args, error);
        ASSERT_EQ(command.has_value(), c.shown != nullptr) << error;
        if (!command) {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(error.find("hunter2"), std::string::npos);
            continue;
        }
        EXPECT_EQ(std::string(verbs[static_cast<int>(command->verb)]) + " " + command->name + " " +
                      RoleName(command->role) + " " + command->db + " " + (command->passwordFromStdin ? "1" : "0"),
                  c.shown);
    }
}

std::optional<std::string> FromPipe(const std::string& input, std::string& error, std::string* rest = nullptr) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fds[1]);
    auto line = ReadPasswordLine(fds[0], error);
    if (rest) {
        char buffer[64];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        rest->assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    }
    close(fds[0]);
    return line;
}

TEST(StaffCommandLine, PasswordFromStandardInput) {
    std::string error, rest;
    EXPECT_EQ(FromPipe("correct horse\r\nnext line", error, &rest), "correct horse");
    EXPECT_EQ(rest, "next line");  // nothing past the line is taken
    EXPECT_EQ(FromPipe("no line feed", error), "no line feed");
    EXPECT_EQ(FromPipe("\n", error), "");
    EXPECT_FALSE(FromPipe("", error));
    EXPECT_EQ(FromPipe(std::string(1024, 'p') + "\r\n", error), std::string(1024, 'p'));
    error.clear();
    EXPECT_FALSE(FromPipe(std::string(1025, 'p') + "\n", error));
    EXPECT_EQ(error.find("ppp"), std::string::npos);
}

// What the terminal shows (the pseudo-terminal's master side) until it has shown text, or for at most 5 s;
// with no text, until it has been quiet for a tenth of a second.
std::string ShownUntil(int master, const std::string& text) {
    std::string shown;
    char buffer[256];
    pollfd p{master, POLLIN, 0};
    for (int i = 0; i < 50 && (text.empty() || shown.find(text) == std::string::npos); ++i) {
        if (poll(&p, 1, 100) <= 0) {
            if (text.empty()) break;  // nothing more to come
            continue;
        }
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        shown.append(buffer, static_cast<size_t>(n));
    }
    return shown;
}

void Type(int master, const std::string& line) {
    ASSERT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
}

TEST(StaffCommandLine, PasswordAtTheTerminalIsNotEchoed) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int tty = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0);

    for (const bool same : {true, false}) {
        SCOPED_TRACE(same);
        std::optional<std::string> password;
        std::string error;
        std::thread asker([&] { password = ReadPasswordFromTerminal(tty, true, error); });
        std::string shown = ShownUntil(master, "Password: ");
        Type(master, "correct horse battery\n");
        shown += ShownUntil(master, "Password again: ");
        Type(master, same ? "correct horse battery\n" : "other one\n");
        asker.join();
        shown += ShownUntil(master, "");
        EXPECT_EQ(password.has_value(), same) << error;
        if (same && password) {
            EXPECT_EQ(*password, "correct horse battery");
        }
        EXPECT_NE(shown.find("Password again: "), std::string::npos) << shown;
        EXPECT_EQ(shown.find("horse"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("other"), std::string::npos) << shown;
        struct termios after {};
        ASSERT_EQ(tcgetattr(tty, &after), 0);
        EXPECT_TRUE(after.c_lflag & ECHO);  // back on
    }
    // Typed with the echo on, the terminal shows it: the checks above are not blind.
    Type(master, "visible\n");
    EXPECT_NE(ShownUntil(master, "visible").find("visible"), std::string::npos);
    close(tty);
    close(master);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string error;
    EXPECT_FALSE(ReadPasswordFromTerminal(fds[0], false, error));
    EXPECT_NE(error.find("--password-stdin"), std::string::npos);
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
