#include "app/command_line.h"

#include <windows.h>

#include <cstdio>

namespace {

// A GUI process started from Explorer has no standard output at all; one started from a shell or with its
// output redirected already has a usable one, and a new console would hide the log from that shell.
bool HasUsableStdout() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
    return GetFileType(out) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void OpenDebugConsole(const CommandLineOptions& options) {
    if (!options.Has("DebugWindow")) return;
    if (HasUsableStdout()) return;
    if (!AllocConsole()) return;
    SetConsoleTitleW(L"Tarnwick");
    // A failed reopen leaves that stream as it was; there is nobody to tell.
    (void)std::freopen("CONIN$", "r", stdin);
    (void)std::freopen("CONOUT$", "w", stdout);
    (void)std::freopen("CONOUT$", "w", stderr);
}
