#include <windows.h>

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

std::wstring ConsoleTitle() {
    wchar_t title[256] = {};
    GetConsoleTitleW(title, 256);
    return title;
}

// Started from a shell (as CTest starts it), the process has a usable standard output: the log goes
// there and no console is opened.
TEST(DebugConsole, KeepsAUsableStandardOutput) {
    CommandLineOptions options;
    options.Parse("zorv.exe -DebugWindow");
    HANDLE before = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_NE(GetFileType(before), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    OpenDebugConsole(options);
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), before);
}

// Started from Explorer, a GUI process has no standard output: the option opens the console, and the
// console is titled and receives the streams.
TEST(DebugConsole, OpensATitledConsoleWhenThereIsNoOutput) {
    FreeConsole();
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    CommandLineOptions options;
    options.Parse("zorv.exe /debugwindow=0");
    OpenDebugConsole(options);
    EXPECT_NE(GetConsoleWindow(), nullptr);
    EXPECT_EQ(ConsoleTitle(), L"Tarnwick");
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(out, INVALID_HANDLE_VALUE);
    CloseHandle(out);
}

TEST(DebugConsole, WithoutTheOptionNothingChanges) {
    FreeConsole();
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    CommandLineOptions options;
    options.Parse("zorv.exe --DebugWindow \"-DebugWindow\"");
    OpenDebugConsole(options);
    EXPECT_EQ(GetConsoleWindow(), nullptr);
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), nullptr);
}

}  // namespace
