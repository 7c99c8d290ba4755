#include "service/app/staff_cli.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "service/domain/credentials.h"
#include "service/storage/storage.h"

namespace Service {

const char* const kStaffUsage =
    "usage: report-service staff add NAME --role viewer|support|admin [--db DB] [--password-stdin]\n"
    "       report-service staff passwd NAME [--db DB] [--password-stdin]\n"
    "       report-service staff disable NAME [--db DB]\n"
    "       report-service staff list [--db DB]\n"
    "\n"
    "Staff accounts for the admin pages. viewer sees the dashboard; support also searches, opens account and\n"
    "machine pages, revokes, restores, erases and exports; admin also manages staff and reads the audit log.\n"
    "The password is asked at the terminal, or read as one line of standard input with --password-stdin;\n"
    "it is stored as an argon2id hash only. NAME: 1 to 32 of a-z, 0-9, '.', '_', '-'.\n";

std::optional<StaffCommand> ParseStaffCommand(const std::vector<std::string>& args, std::string& error) {
    StaffCommand command;
    if (args.empty()) {
        error = "staff wants add, passwd, disable or list";
        return std::nullopt;
    }
    const std::string& verb = args[0];
    if (verb == "add") command.verb = StaffCommand::Verb::Add;
    else if (verb == "passwd") command.verb = StaffCommand::Verb::Passwd;
    else if (verb == "disable") command.verb = StaffCommand::Verb::Disable;
    else if (verb == "list") command.verb = StaffCommand::Verb::List;
    else {
        error = "unknown staff command " + verb;
        return std::nullopt;
    }
    const bool named = command.verb != StaffCommand::Verb::List;
    const bool withPassword = command.verb == StaffCommand::Verb::Add || command.verb == StaffCommand::Verb::Passwd;
    bool haveName = false, haveRole = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](const char* option) -> const std::string* {
            if (i + 1 >= args.size()) {
                error = std::string(option) + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        if (arg == "--db") {
            const std::string* v = value("--db");
            if (!v) return std::nullopt;
            command.db = *v;
        } else if (arg == "--role") {
            if (command.verb != StaffCommand::Verb::Add) {
                error = "--role belongs to staff add";
                return std::nullopt;
            }
            const std::string* v = value("--role");
            if (!v) return std::nullopt;
            const auto role = ParseRole(*v);
            if (!role) {
                error = "--role wants viewer, support or admin, not " + *v;
                return std::nullopt;
            }
            command.role = *role;
            haveRole = true;
        } else if (arg == "--password-stdin") {
            if (!withPassword) {
                error = "--password-stdin belongs to staff add and staff passwd";
                return std::nullopt;
            }
            command.passwordFromStdin = true;
        } else if (arg == "--password" || arg.rfind("--password=", 0) == 0) {
            error = "a password is never given on the command line: it is asked, or read with --password-stdin";
            return std::nullopt;
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (named && !haveName) {
            const auto name = StaffName(arg);
            if (!name) {
                error = "not a staff name: " + arg + " (1 to 32 of a-z, 0-9, '.', '_', '-'; not token or console)";
                return std::nullopt;
            }
            command.name = *name;
            haveName = true;
        } else {
            error = "unexpected " + arg;
            return std::nullopt;
        }
    }
    if (named && !haveName) {
        error = "staff " + verb + " needs a NAME";
        return std::nullopt;
    }
    if (command.verb == StaffCommand::Verb::Add && !haveRole) {
        error = "staff add needs --role viewer, support or admin";
        return std::nullopt;
    }
    if (command.db.empty()) {
        error = "--db must not be empty";
        return std::nullopt;
    }
    return command;
}

std::optional<std::string> ReadPasswordLine(int fd, std::string& error) {
    std::string line;
    bool any = false;
    // One byte at a time: nothing past the line is taken from the descriptor.
    for (;;) {
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("cannot read the password: ") + std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0) {
            if (!any) {
                error = "no password given";
                return std::nullopt;
            }
            break;
        }
        any = true;
        if (c == '\n') break;
        if (line.size() > Credentials::kMaxPasswordBytes) {
            error = "the password is longer than " + std::to_string(Credentials::kMaxPasswordBytes) + " bytes";
            return std::nullopt;
        }
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > Credentials::kMaxPasswordBytes) {
        error = "the password is longer than " + std::to_string(Credentials::kMaxPasswordBytes) + " bytes";
        return std::nullopt;
    }
    return line;
}

namespace {

// What a Ctrl-C during the prompt must put back before the program ends.
int g_ttyFd = -1;
struct termios g_saved;

extern "C" void RestoreAndRaise(int signo) {
    if (g_ttyFd >= 0) tcsetattr(g_ttyFd, TCSAFLUSH, &g_saved);
    signal(signo, SIG_DFL);
    raise(signo);
}

class EchoOff {
public:
    explicit EchoOff(int fd) : m_fd(fd) {
        if (tcgetattr(fd, &g_saved) != 0) return;
        struct termios quiet = g_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        g_ttyFd = fd;
        struct sigaction action {};
        action.sa_handler = RestoreAndRaise;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &m_old[i]);
        m_ok = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (g_ttyFd < 0) return;
        tcsetattr(m_fd, TCSAFLUSH, &g_saved);
        g_ttyFd = -1;
        for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &m_old[i], nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool Ok() const { return m_ok; }

private:
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    int m_fd;
    bool m_ok = false;
    struct sigaction m_old[3] {};
};

void Say(int fd, const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = write(fd, text, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

std::optional<std::string> AskOnce(int fd, const char* prompt, std::string& error) {
    std::optional<std::string> line;
    {
        // Echo off before the prompt: whatever is typed once the prompt shows stays unseen.
        EchoOff quiet(fd);
        if (!quiet.Ok()) {
            error = "the terminal's echo cannot be turned off";
            return std::nullopt;
        }
        Say(fd, prompt);
        line = ReadPasswordLine(fd, error);
    }
    Say(fd, "\n");  // the typed line feed was not echoed either
    return line;
}

}  // namespace

std::optional<std::string> ReadPasswordFromTerminal(int ttyFd, bool confirm, std::string& error) {
    if (!isatty(ttyFd)) {
        error = "there is no terminal to ask on: give the password with --password-stdin";
        return std::nullopt;
    }
    auto first = AskOnce(ttyFd, "Password: ", error);
    if (!first || !confirm) return first;
    auto second = AskOnce(ttyFd, "Password again: ", error);
    if (!second) return std::nullopt;
    if (!Credentials::SameSecret(*first, *second)) {
        error = "the two passwords differ";
        return std::nullopt;
    }
    return first;
}

int RunStaffCommand(const StaffCommand& command, StaffStore& store, const PasswordSource& password,
                    const std::string& systemUser, int64_t now, std::ostream& out, std::ostream& err) {
    using Verb = StaffCommand::Verb;
    if (command.verb == Verb::List) {
        const auto all = store.ListStaff();
        if (!all) {
            err << "report-service: cannot read the staff: " << store.LastError() << "\n";
            return 1;
        }
        for (const auto& a : *all) {
            out << a.name << "\t" << RoleName(a.role) << "\t" << (a.disabled ? "disabled" : "active") << "\t"
                << FormatUtc(a.createdAt, "%Y-%m-%d %H:%M") << " UTC\n";
        }
        if (all->empty()) out << "no staff yet: report-service staff add NAME --role admin\n";
        return 0;
    }
    const std::string by = "by " + (systemUser.empty() ? std::string("?") : systemUser);
    StaffWrite result = StaffWrite::Failed;
    if (command.verb == Verb::Disable) {
        result = store.Disable(command.name, MakeAuditEntry(now, kConsoleActor, "local", AuditAction::StaffDisable,
                                                            command.name, by));
    } else {
        std::string error;
        const auto typed = password(true, error);
        if (!typed) {
            err << "report-service: " << error << "\n";
            return 1;
        }
        if (const std::string problem = Credentials::PasswordProblem(*typed); !problem.empty()) {
            err << "report-service: " << problem << "\n";
            return 1;
        }
        const auto hash = Credentials::HashPassword(*typed);
        if (!hash) {
            err << "report-service: cannot hash the password (out of memory)\n";
            return 1;
        }
        if (command.verb == Verb::Add) {
            StaffAccount account{command.name, command.role, *hash, false, now};
            result = store.AddStaff(account, MakeAuditEntry(now, kConsoleActor, "local", AuditAction::StaffAdd,
                                                            command.name, by + ", role " + RoleName(command.role)));
        } else {
            result = store.SetPassword(command.name, *hash, MakeAuditEntry(now, kConsoleActor, "local",
                                                                           AuditAction::StaffPasswd, command.name, by));
        }
    }
    switch (result) {
        case StaffWrite::Done:
            out << (command.verb == Verb::Add      ? "added "
                    : command.verb == Verb::Passwd ? "new password for "
                                                   : "disabled ")
                << command.name << (command.verb == Verb::Add ? std::string(" (") + RoleName(command.role) + ")" : "")
                << (command.verb == Verb::Add ? "" : "; its sessions have ended") << "\n";
            return 0;
        case StaffWrite::Exists:
            err << "report-service: staff " << command.name << " exists already\n";
            return 1;
        case StaffWrite::Missing:
            err << "report-service: there is no staff " << command.name << "\n";
            return 1;
        case StaffWrite::Failed:
            break;
    }
    err << "report-service: the database refused: " << store.LastError() << "\n";
    return 1;
}

int StaffMain(const std::vector<std::string>& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        std::cout << kStaffUsage;
        return 0;
    }
    std::string error;
    const auto command = ParseStaffCommand(args, error);
    if (!command) {
        std::cerr << "report-service: " << error << "\n\n" << kStaffUsage;
        return 2;
    }
    if (!Credentials::Init()) {
        std::cerr << "report-service: no source of random numbers\n";
        return 1;
    }
    if (!IsPostgresUrl(command->db)) {
        std::error_code ec;
        const auto parent = std::filesystem::path(command->db).parent_path();
        if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    }
    auto store = OpenStaffStore(command->db, error);
    if (!store) {
        std::cerr << "report-service: cannot use the database: " << error << "\n";
        return 1;
    }
    const PasswordSource password = [&](bool confirm, std::string& why) -> std::optional<std::string> {
        if (command->passwordFromStdin) return ReadPasswordLine(STDIN_FILENO, why);
        const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (tty < 0) {
            why = "there is no terminal to ask on: give the password with --password-stdin";
            return std::nullopt;
        }
        auto typed = ReadPasswordFromTerminal(tty, confirm, why);
        close(tty);
        return typed;
    };
    // Who ran it, as the system knows them (and who used sudo to become root).
    std::string user;
    if (const passwd* pw = getpwuid(getuid())) user = pw->pw_name;
    if (const char* sudo = std::getenv("SUDO_USER"); sudo && *sudo) user += std::string(" (sudo ") + sudo + ")";
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return RunStaffCommand(*command, *store, password, user, now, std::cout, std::cerr);
}

}  // namespace Service
