#pragma once
// CCommEditEx: a single-line text box with free colours and a flat frame. The object's own window is a
// plain frame that paints a border and a background; the text lives in the inner edit control m_edit,
// kept vertically centred in the frame at m_nEditHeight, whose colours the frame supplies.
#include "framework/edit.h"
#include "framework/gdi.h"

class CCommEditEx : public CEdit {
public:
    CCommEditEx();

    // The frame is a plain window, not an edit control: CWnd's creation, not CEdit's.
    using CWnd::Create;
    using CWnd::CreateEx;

    // Creates the frame (with WS_CLIPSIBLINGS and WS_CLIPCHILDREN added, and a control parent, so the
    // dialog's Tab reaches a WS_TABSTOP inner edit) and the inner edit (with WS_CHILD added, empty until the
    // frame is sized). A window name names the box for assistive technology: it becomes the text of a hidden
    // label just before the edit, where Active Accessibility looks for an edit's name. True only when the
    // frame, the edit and any label exist.
    virtual BOOL CreateFramed(LPCWSTR className, LPCWSTR windowName, DWORD frameStyle, DWORD editStyle,
                              const RECT& rect, CWnd* parent, UINT frameId, UINT editId,
                              CCreateContext* context = nullptr);

    void SetBackColor(COLORREF color);
    void SetEditFont(CFont* font, BOOL redraw = TRUE);
    void LimitEditText(int count);
    // Enables or disables frame and edit together; true when both are now in that state.
    BOOL EnableBoth(BOOL enable = TRUE);

    COLORREF m_clrBorder = RGB(0, 0, 0);
    COLORREF m_clrBack = RGB(255, 255, 255);
    COLORREF m_clrText = RGB(0, 0, 0);
    CEdit m_edit;
    CWnd m_label;  // the hidden label that names the edit; none without a window name
    int m_nEditHeight = 12;
    int m_nBorderWidth = 1;
    CBrush m_brBack;

protected:
    DECLARE_MESSAGE_MAP()

    void OnPaint();
    void OnWindowPosChanged(WINDOWPOS* position);
    HBRUSH OnCtlColor(HDC dc, HWND child, UINT type);
    void OnSetFocus(HWND previous);
};
