#include "framework/wnd.h"

#include <utility>

#include "framework/app.h"

namespace {

constexpr wchar_t kObjectProperty[] = L"Zorv.CWnd";
constexpr wchar_t kDefaultClass[] = L"ZorvWnd";

// The object waiting for the next window this thread creates.
thread_local CWnd* t_pendingBinding = nullptr;

LPCWSTR DefaultWindowClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = AfxGetInstanceHandle();
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kDefaultClass;
        return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered ? kDefaultClass : nullptr;
}

}  // namespace

HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleW(nullptr); }

// ---- binding at creation ----------------------------------------------------------------------------------

CreationBinding::CreationBinding(CWnd& wnd) : m_pPrevious(std::exchange(t_pendingBinding, &wnd)) {
    m_hHook = ::SetWindowsHookExW(WH_CBT, &CbtProc, nullptr, ::GetCurrentThreadId());
}

CreationBinding::~CreationBinding() {
    if (m_hHook) ::UnhookWindowsHookEx(m_hHook);
    t_pendingBinding = m_pPrevious;
}

LRESULT CALLBACK CreationBinding::CbtProc(int code, WPARAM wParam, LPARAM lParam) {
    // The first window created in the scope is the object's; windows it creates in turn (a dialog's controls)
    // are not, unless a nested scope names their own object.
    if (code == HCBT_CREATEWND && t_pendingBinding) {
        std::exchange(t_pendingBinding, nullptr)->Bind(reinterpret_cast<HWND>(wParam));
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void CWnd::Bind(HWND hwnd) {
    m_hWnd = hwnd;
    ::SetPropW(hwnd, kObjectProperty, this);
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::WindowProcThunk)));
}

void CWnd::Unbind() {
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    ::RemovePropW(m_hWnd, kObjectProperty);
    if (CWinApp* app = AfxGetApp(); app && app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
    m_hWnd = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
    return hwnd ? static_cast<CWnd*>(::GetPropW(hwnd, kObjectProperty)) : nullptr;
}

CWnd::~CWnd() {
    // A window that outlives its object would call into freed memory; by now only CWnd's own (empty) map
    // is reachable, so the last messages get default processing.
    if (m_hWnd) ::DestroyWindow(m_hWnd);
}

// ---- creation ---------------------------------------------------------------------------------------------

BOOL CWnd::Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                  CCreateContext* context) {
    return CWnd::CreateEx(0, className, windowName, style | WS_CHILD, rect, parent, id, context);
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect,
                    CWnd* parent, UINT id, LPVOID param) {
    return CWnd::CreateEx(exStyle, className, windowName, style, rect.left, rect.top, rect.right - rect.left,
                          rect.bottom - rect.top, parent ? parent->m_hWnd : nullptr,
                          reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), param);
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                    int height, HWND parent, HMENU idOrMenu, LPVOID param) {
    if (m_hWnd) return FALSE;
    if (!className && !(className = DefaultWindowClass())) return FALSE;
    HWND hwnd = nullptr;
    {
        CreationBinding binding(*this);
        if (!binding.IsActive()) return FALSE;
        hwnd = ::CreateWindowExW(exStyle, className, windowName, style, x, y, width, height, parent, idOrMenu,
                                 AfxGetInstanceHandle(), param);
    }
    if (hwnd && m_hWnd != hwnd) {  // created but never bound: no object would see its messages
        ::DestroyWindow(hwnd);
        return FALSE;
    }
    return hwnd != nullptr;
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

// ---- messages ---------------------------------------------------------------------------------------------

const Framework::MessageMap* CWnd::GetThisMessageMap() {
    static constexpr Framework::MessageMap kMap{nullptr};
    return &kMap;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CALLBACK CWnd::WindowProcThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = FromHandlePermanent(hwnd);
    if (!wnd) return ::DefWindowProcW(hwnd, message, wParam, lParam);

    const CurrentMessage outer = std::exchange(wnd->m_current, CurrentMessage{message, wParam, lParam});
    LRESULT result = 0;
    try {
        result = wnd->WindowProc(message, wParam, lParam);
    } catch (...) {
        // No exception may unwind through the system's frames; the message gets its default processing.
        result = wnd->Default();
    }
    wnd->m_current = outer;

    if (message == WM_NCDESTROY) {
        wnd->Unbind();
        wnd->PostNcDestroy();
    }
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    for (const Framework::MessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (std::size_t i = 0; i < map->count; ++i) {
            const Framework::MessageMapEntry& entry = map->entries[i];
            LRESULT result = 0;
            if (message >= entry.first && message <= entry.last &&
                entry.dispatch(*this, message, wParam, lParam, result)) {
                return result;
            }
        }
    }
    return Default();
}

LRESULT CWnd::Default() {
    return ::CallWindowProcW(m_pfnSuper, m_hWnd, m_current.message, m_current.wParam, m_current.lParam);
}

// ---- window state -----------------------------------------------------------------------------------------

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int width, int height, UINT flags) {
    return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, width, height, flags);
}

BOOL CWnd::GetWindowPlacement(WINDOWPLACEMENT* placement) const {
    placement->length = sizeof(WINDOWPLACEMENT);
    return ::GetWindowPlacement(m_hWnd, placement);
}

namespace {

// Where a width × height window goes centred on `over`, kept inside `work`.
POINT CentredInside(const RECT& over, const RECT& work, int width, int height) {
    auto axis = [](LONG overLow, LONG overHigh, LONG workLow, LONG workHigh, int size) {
        LONG at = overLow + (overHigh - overLow - size) / 2;
        if (at + size > workHigh) at = workHigh - size;
        if (at < workLow) at = workLow;
        return at;
    };
    return POINT{axis(over.left, over.right, work.left, work.right, width),
                 axis(over.top, over.bottom, work.top, work.bottom, height)};
}

// The monitor the shell asked the program to open on, if it named one (STARTF_USEMONITOR, which the
// headers of older systems lack).
constexpr DWORD kStartOnMonitor = 0x00000400;

HMONITOR StartMonitor() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    if (!(startup.dwFlags & kStartOnMonitor)) return nullptr;
    auto* monitor = reinterpret_cast<HMONITOR>(startup.hStdOutput);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    return ::GetMonitorInfoW(monitor, &info) ? monitor : nullptr;
}

}  // namespace

void CWnd::CenterWindow() {
    RECT window{};
    if (!::GetWindowRect(m_hWnd, &window)) return;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    const bool overOwner = owner && ::IsWindowVisible(owner) && !::IsIconic(owner);
    HMONITOR monitor = overOwner ? ::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST) : StartMonitor();
    if (!monitor) monitor = ::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoW(monitor, &info)) return;
    RECT over = info.rcWork;
    if (overOwner) ::GetWindowRect(owner, &over);
    const POINT at = CentredInside(over, info.rcWork, window.right - window.left, window.bottom - window.top);
    ::SetWindowPos(m_hWnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::GetWindowText(std::wstring& text) const {
    text.assign(static_cast<std::size_t>(::GetWindowTextLengthW(m_hWnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(m_hWnd, text.data(), static_cast<int>(text.size()))));
}
