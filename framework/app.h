#pragma once
// The application object: exactly one, a global constructed before the entry point runs. The entry point
// (framework/app_entry_win.cpp, linked only into the program) calls its InitInstance, and its Run unless
// InitInstance returns FALSE.
#include <windows.h>

#include <string>

class CWnd;

class CWinApp {
public:
    // Without a name the application is named after its executable file, without the extension.
    explicit CWinApp(LPCWSTR appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    // The message pump; returns ExitInstance's result when WM_QUIT arrives.
    virtual int Run();
    virtual int ExitInstance();

    // Names the registry key settings would live under. The program keeps no settings, so this only
    // records the name.
    void SetRegistryKey(LPCWSTR key);

    // There is no help file; the Help command does nothing.
    void OnHelp() {}

    HINSTANCE m_hInstance;
    // The main window while it exists; the framework clears it when the window is destroyed.
    CWnd* m_pMainWnd = nullptr;
    LPCWSTR m_pszAppName;
    LPCWSTR m_pszRegistryKey = nullptr;

private:
    std::wstring m_appName;
    std::wstring m_registryKey;
};

CWinApp* AfxGetApp();

// The application's name: the application object's, or the executable's file name without its extension.
std::wstring AfxGetAppName();

// A modal message box captioned with the application's name and owned by the active window of the
// application. With no icon in the type, OK and OK/Cancel boxes get the exclamation icon.
int AfxMessageBox(LPCWSTR text, UINT type = MB_OK, UINT helpId = 0);

// What the entry point runs: InitInstance, then Run or ExitInstance. Returns the process exit code.
int AfxWinMain(HINSTANCE instance, int showCommand);
