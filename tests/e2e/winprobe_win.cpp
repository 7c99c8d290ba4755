// winprobe.exe: reads the program's windows from inside the same Wine prefix, for the end-to-end tests.
// Every command prints UTF-8 lines and exits 0 on success, 1 when what it waits for does not happen.
//
//   winprobe wait TITLE [MS]        a visible top-level window titled TITLE: "hwnd x y w h" (window rect)
//   winprobe gone TITLE [MS]        no window titled TITLE any more
//   winprobe box CAPTION [MS]       a message box captioned CAPTION: its text
//   winprobe boxes CAPTION          how many message boxes with that caption are open
//   winprobe ok CAPTION             click the OK button of that message box
//   winprobe children TITLE         "id class x y w h visible text" per child window (screen coordinates)
//   winprobe focus TITLE            the control id of the focused window in TITLE's thread (0 if none)
//   winprobe names TITLE            "id class name" per child window, the name as Active Accessibility reads
//                                   it (AccessibleObjectFromWindow, get_accName); "-" for none
//   winprobe workarea TITLE         the work area of the monitor the window is on: "x y w h"
//   winprobe responds TITLE MS      1 when the window answers a message within MS, else 0
//   winprobe kill TITLE             end the process that owns the window
//   winprobe hold MS                keep a hidden window (and so Wine's desktop process) alive for up to MS,
//                                   or until 'winprobe release'
//   winprobe release                end a hold
//   winprobe screen                 the primary screen's size
//   winprobe resize W H             change the primary display mode
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring TextOf(HWND hwnd) {
    wchar_t buffer[1024] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 1000, &length);
    return buffer;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

struct Search {
    std::wstring title;
    bool messageBox;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(hwnd)) return TRUE;
    wchar_t title[512] = {};
    GetWindowTextW(hwnd, title, 512);
    if (search->title != title) return TRUE;
    if (search->messageBox && ClassOf(hwnd) != L"#32770") return TRUE;
    search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Find(const std::wstring& title, bool messageBox) {
    Search search{title, messageBox, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitFor(const std::wstring& title, bool messageBox, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> found = Find(title, messageBox);
        if (!found.empty()) return found.front();
        if (GetTickCount() - start >= ms) return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK PrintChild(HWND hwnd, LPARAM) {
    RECT r;
    GetWindowRect(hwnd, &r);
    std::printf("%d %s %ld %ld %ld %ld %d %s\n", GetDlgCtrlID(hwnd), Utf8(ClassOf(hwnd)).c_str(), r.left, r.top,
                r.right - r.left, r.bottom - r.top, IsWindowVisible(hwnd) ? 1 : 0, Utf8(TextOf(hwnd)).c_str());
    return TRUE;
}

BOOL CALLBACK PrintStatic(HWND hwnd, LPARAM) {
    if (ClassOf(hwnd) == L"Static") {
        const std::wstring text = TextOf(hwnd);
        if (!text.empty()) std::printf("%s\n", Utf8(text).c_str());
    }
    return TRUE;
}

// IAccessible's interface id, spelt out: the import library's symbol of that name links to a stub instead.
constexpr IID kIidAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

BOOL CALLBACK PrintName(HWND hwnd, LPARAM) {
    std::wstring name = L"-";
    IAccessible* accessible = nullptr;
    if (SUCCEEDED(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                             reinterpret_cast<void**>(&accessible))) &&
        accessible) {
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR text = nullptr;
        if (accessible->get_accName(self, &text) == S_OK && text) name = text;
        SysFreeString(text);
        accessible->Release();
    }
    std::printf("%d %s %s\n", GetDlgCtrlID(hwnd), Utf8(ClassOf(hwnd)).c_str(), Utf8(name).c_str());
    return TRUE;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring command = argv[1];
    const std::wstring name = argc > 2 ? argv[2] : L"";
    const DWORD ms = argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 10000;

    if (command == L"wait" || command == L"box") {
        HWND hwnd = WaitFor(name, command == L"box", ms);
        if (!hwnd) return 1;
        if (command == L"box") {
            EnumChildWindows(hwnd, PrintStatic, 0);
        } else {
            RECT r;
            GetWindowRect(hwnd, &r);
            std::printf("%p %ld %ld %ld %ld\n", static_cast<void*>(hwnd), r.left, r.top, r.right - r.left,
                        r.bottom - r.top);
        }
        return 0;
    }
    if (command == L"gone") {
        const DWORD start = GetTickCount();
        while (!Find(name, false).empty()) {
            if (GetTickCount() - start >= ms) return 1;
            Sleep(50);
        }
        return 0;
    }
    if (command == L"boxes") {
        std::printf("%u\n", static_cast<unsigned>(Find(name, true).size()));
        return 0;
    }
    if (command == L"ok") {
        HWND box = WaitFor(name, true, ms);
        if (!box) return 1;
        HWND button = GetDlgItem(box, IDOK);
        if (!button) button = GetDlgItem(box, IDCANCEL);
        if (!button) return 1;
        PostMessageW(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == L"children" || command == L"focus") {
        HWND hwnd = WaitFor(name, false, ms);
        if (!hwnd) return 1;
        if (command == L"children") {
            EnumChildWindows(hwnd, PrintChild, 0);
        } else {
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info);
            std::printf("%d %s\n", info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0,
                        info.hwndFocus ? Utf8(ClassOf(info.hwndFocus)).c_str() : "-");
        }
        return 0;
    }
    if (command == L"names") {
        HWND hwnd = WaitFor(name, false, ms);
        if (!hwnd) return 1;
        CoInitialize(nullptr);
        EnumChildWindows(hwnd, PrintName, 0);
        CoUninitialize();
        return 0;
    }
    if (command == L"workarea") {
        HWND hwnd = WaitFor(name, false, ms);
        if (!hwnd) return 1;
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (!GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &info)) return 1;
        const RECT& r = info.rcWork;
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    if (command == L"responds") {
        HWND hwnd = WaitFor(name, false, 2000);
        if (!hwnd) return 1;
        DWORD_PTR result = 0;
        const LRESULT answered = SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, ms, &result);
        std::printf("%d\n", answered ? 1 : 0);
        return 0;
    }
    if (command == L"kill") {
        HWND hwnd = WaitFor(name, false, 500);
        if (!hwnd) return 0;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!process) return 1;
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
        return 0;
    }
    if (command == L"hold") {
        // Wine's desktop process ends when no window is left and is started again by the next program that
        // needs it, inheriting that program's output; a holder started with nothing attached prevents that.
        const DWORD holdMs = argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 600000;
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"ZorvInspectorRelease");
        HWND hidden = CreateWindowExW(0, L"Static", L"zorv-e2e-holder", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                      nullptr, nullptr);
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < holdMs) {
            if (MsgWaitForMultipleObjects(1, &release, FALSE, 500, QS_ALLINPUT) == WAIT_OBJECT_0) break;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        DestroyWindow(hidden);
        CloseHandle(release);
        return 0;
    }
    if (command == L"release") {
        HANDLE release = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"ZorvInspectorRelease");
        if (release) {
            SetEvent(release);
            CloseHandle(release);
        }
        return 0;
    }
    if (command == L"screen") {
        std::printf("%d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        return 0;
    }
    if (command == L"resize" && argc > 3) {
        DEVMODEW mode{};
        mode.dmSize = sizeof mode;
        mode.dmPelsWidth = static_cast<DWORD>(_wtoi(argv[2]));
        mode.dmPelsHeight = static_cast<DWORD>(_wtoi(argv[3]));
        mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
        const LONG result = ChangeDisplaySettingsW(&mode, 0);
        std::printf("%ld\n", result);
        return result == DISP_CHANGE_SUCCESSFUL ? 0 : 1;
    }
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int rc = Run(argc, argv);
    std::fflush(stdout);
    return rc;
}
