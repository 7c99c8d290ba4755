#pragma once
// CDialog: a dialog made from a template, run modally by DoModal or created modeless by Create. The dialog
// object is bound to its window at creation, so its message map sees WM_NCCREATE and WM_CREATE before
// OnInitDialog runs; default processing is the dialog manager's.
#include "framework/wnd.h"

class CDialog : public CWnd {
public:
    CDialog() = default;
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    // A template in memory instead of a resource; for DoModal.
    BOOL InitModalIndirect(const DLGTEMPLATE* dialogTemplate, CWnd* parent = nullptr);

    // Creates the dialog, runs its modal loop and destroys it. Returns the result given to EndDialog, or
    // -1 when the dialog could not be created.
    virtual INT_PTR DoModal();

    // Modeless creation; the caller destroys the window.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    BOOL CreateIndirect(const DLGTEMPLATE* dialogTemplate, CWnd* parent = nullptr);

    // Ends the modal run with this result once the current message has been handled.
    void EndDialog(int result);

    // WM_INITDIALOG: TRUE lets the dialog manager set the focus.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

protected:
    DECLARE_MESSAGE_MAP()
    void PostNcDestroy() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    const DLGTEMPLATE* ResolveTemplate() const;
    BOOL CreateFromTemplate(const DLGTEMPLATE* dialogTemplate, HWND owner);
    void RunModalLoop();
    bool PreTranslateForDialog(MSG& msg);

    UINT m_nIDTemplate = 0;
    const DLGTEMPLATE* m_lpDialogTemplate = nullptr;
    CWnd* m_pParentWnd = nullptr;
    INT_PTR m_nModalResult = -1;
    bool m_bContinueModal = false;
};
