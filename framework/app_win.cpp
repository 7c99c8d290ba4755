#include "framework/app.h"

#include "framework/wnd.h"

namespace {

CWinApp* g_app = nullptr;

std::wstring ExecutableName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length);
    const std::size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

}  // namespace

CWinApp::CWinApp(LPCWSTR appName)
    : m_hInstance(::GetModuleHandleW(nullptr)), m_appName(appName ? appName : ExecutableName()) {
    m_pszAppName = m_appName.c_str();
    if (!g_app) g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (m_pMainWnd && m_pMainWnd->PreTranslateMessage(&msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return ExitInstance();
}

int CWinApp::ExitInstance() { return 0; }

void CWinApp::SetRegistryKey(LPCWSTR key) {
    m_registryKey = key ? key : L"";
    m_pszRegistryKey = m_registryKey.c_str();
}

CWinApp* AfxGetApp() { return g_app; }

std::wstring AfxGetAppName() { return g_app ? std::wstring(g_app->m_pszAppName) : ExecutableName(); }

int AfxMessageBox(LPCWSTR text, UINT type, UINT /*helpId*/) {
    if ((type & MB_ICONMASK) == 0) {
        const UINT buttons = type & MB_TYPEMASK;
        if (buttons == MB_OK || buttons == MB_OKCANCEL) type |= MB_ICONEXCLAMATION;
    }
    // Owned by the application's window, so the box is modal to it and stays in front of it.
    HWND owner = ::GetActiveWindow();
    if (!owner && g_app && g_app->m_pMainWnd) owner = ::GetLastActivePopup(g_app->m_pMainWnd->m_hWnd);
    const std::wstring caption = AfxGetAppName();
    return ::MessageBoxW(owner, text, caption.c_str(), type);
}

int AfxWinMain(HINSTANCE instance, int /*showCommand*/) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->m_hInstance = instance;
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}
