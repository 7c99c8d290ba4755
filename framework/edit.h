#pragma once
// CEdit: a window object for a standard edit control.
#include "framework/wnd.h"

class CEdit : public CWnd {
public:
    // Creates an edit control (class "EDIT") as a child of the parent.
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    void LimitText(int count) { SendMessage(EM_LIMITTEXT, static_cast<WPARAM>(count), 0); }
    void SetSel(int start, int end) { SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end); }
    void ReplaceSel(LPCWSTR text) { SendMessage(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text)); }
};
