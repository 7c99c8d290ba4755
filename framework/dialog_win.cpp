#include "framework/dialog.h"

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

BOOL CDialog::InitModalIndirect(const DLGTEMPLATE* dialogTemplate, CWnd* parent) {
    m_lpDialogTemplate = dialogTemplate;
    m_pParentWnd = parent;
    return dialogTemplate != nullptr;
}

const DLGTEMPLATE* CDialog::ResolveTemplate() const {
    if (m_lpDialogTemplate) return m_lpDialogTemplate;
    HINSTANCE instance = AfxGetInstanceHandle();
    HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(m_nIDTemplate), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    HGLOBAL loaded = resource ? ::LoadResource(instance, resource) : nullptr;
    return loaded ? static_cast<const DLGTEMPLATE*>(::LockResource(loaded)) : nullptr;
}

BOOL CDialog::CreateFromTemplate(const DLGTEMPLATE* dialogTemplate, HWND owner) {
    if (m_hWnd || !dialogTemplate) return FALSE;
    HWND hwnd = nullptr;
    {
        CreationBinding binding(*this);
        if (!binding.IsActive()) return FALSE;
        hwnd = ::CreateDialogIndirectParamW(AfxGetInstanceHandle(), dialogTemplate, owner, &CDialog::DialogProc,
                                            reinterpret_cast<LPARAM>(this));
    }
    if (hwnd && m_hWnd != hwnd) {
        ::DestroyWindow(hwnd);
        return FALSE;
    }
    return hwnd != nullptr;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    m_nIDTemplate = templateId;
    m_lpDialogTemplate = nullptr;
    m_pParentWnd = parent;
    return CreateFromTemplate(ResolveTemplate(), parent ? parent->m_hWnd : nullptr);
}

BOOL CDialog::CreateIndirect(const DLGTEMPLATE* dialogTemplate, CWnd* parent) {
    m_pParentWnd = parent;
    return CreateFromTemplate(dialogTemplate, parent ? parent->m_hWnd : nullptr);
}

INT_PTR CDialog::DoModal() {
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    const bool ownerDisabled = owner && ::IsWindowEnabled(owner);
    if (ownerDisabled) ::EnableWindow(owner, FALSE);

    m_nModalResult = -1;
    m_bContinueModal = true;
    if (CreateFromTemplate(ResolveTemplate(), owner)) {
        RunModalLoop();
        // Hidden before the owner is enabled again, so the owner, not some other window, gets activated.
        if (m_hWnd) {
            ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                           SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        }
    }
    m_bContinueModal = false;
    if (ownerDisabled) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    DestroyWindow();
    return m_nModalResult;
}

void CDialog::RunModalLoop() {
    if (m_bContinueModal && !IsWindowVisible()) {
        ShowWindow(SW_SHOWNORMAL);
        UpdateWindow();
    }
    MSG msg;
    while (m_bContinueModal) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            // A quit request ends the run and is left for the loop outside.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (PreTranslateForDialog(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// Messages of the dialog's own windows go first to the PreTranslateMessage of each object from the target
// window up to the dialog, then to the dialog manager's keyboard navigation.
bool CDialog::PreTranslateForDialog(MSG& msg) {
    if (!m_hWnd || (msg.hwnd != m_hWnd && !::IsChild(m_hWnd, msg.hwnd))) return false;
    for (HWND hwnd = msg.hwnd; hwnd; hwnd = (hwnd == m_hWnd) ? nullptr : ::GetParent(hwnd)) {
        CWnd* wnd = FromHandlePermanent(hwnd);
        if (wnd && wnd->PreTranslateMessage(&msg)) return true;
    }
    return ::IsDialogMessageW(m_hWnd, &msg) != FALSE;
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    m_bContinueModal = false;
    // Wakes the modal loop even when it is waiting in GetMessage (EndDialog called from a sent message).
    ::PostMessageW(nullptr, WM_NULL, 0, 0);
}

void CDialog::PostNcDestroy() {
    // A window destroyed by someone else ends the modal run too.
    m_bContinueModal = false;
}

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    // Everything else reaches the object through its message map before the dialog manager sees it.
    if (message != WM_INITDIALOG) return FALSE;
    RECT before{};
    ::GetWindowRect(hwnd, &before);
    BOOL result = TRUE;
    try {
        result = reinterpret_cast<CDialog*>(lParam)->OnInitDialog();
    } catch (...) {
    }
    // A top-level dialog that neither its template nor its initialisation placed is centred, over its owner
    // or on the work area, before it is first shown.
    RECT after{};
    ::GetWindowRect(hwnd, &after);
    const LONG style = ::GetWindowLongW(hwnd, GWL_STYLE);
    if (!(style & WS_CHILD) && !::IsWindowVisible(hwnd) && !(style & (DS_ABSALIGN | DS_CENTER)) &&
        after.left == before.left && after.top == before.top) {
        if (CWnd* wnd = FromHandlePermanent(hwnd)) wnd->CenterWindow();
    }
    return result;
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
        On<Msg::Command<IDOK>, &CDialog::OnOK>(),
        On<Msg::Command<IDCANCEL>, &CDialog::OnCancel>(),
END_MESSAGE_MAP()
