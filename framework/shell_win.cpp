#include "framework/shell.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

#include "framework/handles.h"

namespace Framework {
namespace {

// The service that gives the desktop window's top-level browser (shlguid.h's SID_STopLevelBrowser).
constexpr GUID kTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};

// The shell's automation object of the desktop's folder view, which lives in the desktop process and so
// runs what it is asked to with the desktop user's token.
bool DesktopShellDispatch(ComPtr<IShellDispatch2>& out) {
    ComPtr<IShellWindows> windows;
    if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  reinterpret_cast<void**>(windows.Put()))))
        return false;
    VARIANT location;
    ::VariantInit(&location);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT empty;
    ::VariantInit(&empty);
    long desktopWindow = 0;
    ComPtr<IDispatch> desktop;
    if (windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH, desktop.Put()) !=
            S_OK ||
        !desktop)
        return false;
    ComPtr<IServiceProvider> services;
    ComPtr<IShellBrowser> browser;
    ComPtr<IShellView> view;
    ComPtr<IDispatch> background;
    ComPtr<IShellFolderViewDual> folderView;
    ComPtr<IDispatch> application;
    return SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(services.Put()))) &&
           SUCCEEDED(services->QueryService(kTopLevelBrowser, IID_IShellBrowser,
                                            reinterpret_cast<void**>(browser.Put()))) &&
           SUCCEEDED(browser->QueryActiveShellView(view.Put())) && view &&
           SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(background.Put()))) &&
           SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(folderView.Put()))) &&
           SUCCEEDED(folderView->get_Application(application.Put())) && application &&
           SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(out.Put())));
}

bool OpenThroughDesktop(LPCWSTR target) {
    ComPtr<IShellDispatch2> shell;
    if (!DesktopShellDispatch(shell)) return false;
    Bstr file(::SysAllocString(target));
    if (file.IsEmpty()) return false;
    VARIANT none;
    ::VariantInit(&none);
    VARIANT show;
    ::VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    return SUCCEEDED(shell->ShellExecute(file.Get(), none, none, none, show));
}

}  // namespace

bool ShellOpenAsUser(LPCWSTR target) {
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    bool opened = OpenThroughDesktop(target);
    if (!opened) {
        opened = reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", target, nullptr, nullptr, SW_SHOWNORMAL)) > 32;
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return opened;
}

}  // namespace Framework
