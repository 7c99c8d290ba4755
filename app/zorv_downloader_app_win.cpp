#include <windows.h>

#include <string>

#include "app/command_line.h"
#include "framework/app.h"
#include "ui/zorv_downloader_dlg.h"

class CZorvDownloaderApp : public CWinApp {
public:
    BOOL InitInstance() override;
};

CZorvDownloaderApp theApp;

BOOL CZorvDownloaderApp::InitInstance() {
    CWinApp::InitInstance();
    const std::string commandLine = GetCommandLineA();
    CommandLineOptions options;
    options.Parse(commandLine);
    OpenDebugConsole(options);
    SetRegistryKey(L"应用程序向导生成的本地应用程序");
    {
        CZorvDownloaderDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
    }
    // No message pump of our own: the process ends with the dialog.
    return FALSE;
}
