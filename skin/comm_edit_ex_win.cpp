#include "skin/comm_edit_ex.h"

#include "skin/skin_layout.h"

static_assert(Skin::kSwpNoSize == SWP_NOSIZE && Skin::kSwpShowWindow == SWP_SHOWWINDOW);

CCommEditEx::CCommEditEx() { m_brBack.CreateSolidBrush(m_clrBack); }

BEGIN_MESSAGE_MAP(CCommEditEx, CEdit)
        On<Msg::Paint, &CCommEditEx::OnPaint>(),
        On<Msg::WindowPosChanged, &CCommEditEx::OnWindowPosChanged>(),
        On<Msg::CtlColor, &CCommEditEx::OnCtlColor>(),
        On<Msg::SetFocus, &CCommEditEx::OnSetFocus>(),
END_MESSAGE_MAP()

BOOL CCommEditEx::CreateFramed(LPCWSTR className, LPCWSTR windowName, DWORD frameStyle, DWORD editStyle,
                               const RECT& rect, CWnd* parent, UINT frameId, UINT editId, CCreateContext* context) {
    const BOOL frame = CreateEx(WS_EX_CONTROLPARENT, className, windowName,
                                frameStyle | WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, rect, parent, frameId, context);
    // Created before the edit, so it precedes the edit among the frame's children.
    const BOOL label = !windowName || m_label.CreateEx(0, L"Static", windowName, WS_CHILD | SS_NOPREFIX, RECT{}, this,
                                                       static_cast<UINT>(-1));
    // Without a frame the edit has no parent and fails too; every result decides.
    const BOOL edit = m_edit.Create(editStyle | WS_CHILD, RECT{0, 0, 0, 0}, this, editId);
    return frame && label && edit;
}

void CCommEditEx::SetBackColor(COLORREF color) {
    m_clrBack = color;
    m_brBack.CreateSolidBrush(color);
}

void CCommEditEx::SetEditFont(CFont* font, BOOL redraw) {
    m_edit.SetFont(font ? font->GetSafeHandle() : nullptr, redraw);
}

void CCommEditEx::LimitEditText(int count) { m_edit.LimitText(count); }

BOOL CCommEditEx::EnableBoth(BOOL enable) {
    EnableWindow(enable);
    m_edit.EnableWindow(enable);
    const bool wanted = enable != FALSE;
    return (IsWindowEnabled() != FALSE) == wanted && (m_edit.IsWindowEnabled() != FALSE) == wanted;
}

void CCommEditEx::OnPaint() {
    CPaintDC dc(this);
    RECT rect{};
    GetClientRect(&rect);
    FillSolidRect(dc, rect, m_clrBorder);
    ::InflateRect(&rect, -m_nBorderWidth, -m_nBorderWidth);
    FillSolidRect(dc, rect, m_clrBack);
}

void CCommEditEx::OnWindowPosChanged(WINDOWPOS* position) {
    Default();
    if (!Skin::PositionChangeNeedsLayout(position->flags) || !m_edit.m_hWnd) return;
    const Skin::Placement inner = Skin::InnerEditPlacement(position->cx, position->cy, m_nBorderWidth, m_nEditHeight);
    HDWP batch = ::BeginDeferWindowPos(0);
    if (batch) {
        batch = ::DeferWindowPos(batch, m_edit.m_hWnd, nullptr, inner.x, inner.y, inner.width, inner.height,
                                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    }
    if (batch) ::EndDeferWindowPos(batch);
}

HBRUSH CCommEditEx::OnCtlColor(HDC dc, HWND child, UINT) {
    // Every kind of colour request (a read-only edit asks as a static) gets the box's colours.
    const auto standard = reinterpret_cast<HBRUSH>(Default());
    if (!m_edit.m_hWnd || ::GetDlgCtrlID(child) != m_edit.GetDlgCtrlID()) return standard;
    ::SetBkColor(dc, m_clrBack);
    ::SetTextColor(dc, m_clrText);
    return m_brBack;
}

// The frame holds no text: focus given to it (by the dialog's keyboard navigation, which knows nothing of
// the inner edit) goes on to the edit, so typing is never lost.
void CCommEditEx::OnSetFocus(HWND) {
    if (m_edit.m_hWnd) ::SetFocus(m_edit.m_hWnd);
}
