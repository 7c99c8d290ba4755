#include "skin/comm_img_button.h"


#include "skin/skin_image.h"

CCommImgButton::~CCommImgButton() { m_imgBuffer.Destroy(); }

BEGIN_MESSAGE_MAP(CCommImgButton, CWnd)
        On<Msg::Paint, &CCommImgButton::OnPaint>(),
        On<Msg::EraseBkgnd, &CCommImgButton::OnEraseBkgnd>(),
        On<Msg::MouseMove, &CCommImgButton::OnMouseMove>(),
        On<Msg::LButtonDown, &CCommImgButton::OnLButtonDown>(),
        On<Msg::LButtonUp, &CCommImgButton::OnLButtonUp>(),
        On<Msg::MouseLeave, &CCommImgButton::OnMouseLeave>(),
    On<Msg::CaptureChanged, &CCommImgButton::OnCaptureChanged>(),
        On<Msg::Show, &CCommImgButton::OnShowWindow>(),
        On<Msg::Size, &CCommImgButton::OnSize>(),
END_MESSAGE_MAP()

bool CCommImgButton::SetImage(const CImageView& strip) {
    if (strip.IsNull()) return false;
    m_image = strip;
    m_nCellWidth = m_image.GetWidth();
    m_nCellHeight = m_nCellCount > 0 ? m_image.GetHeight() / m_nCellCount : m_image.GetHeight();
    m_clrRgnKey = RGB(255, 255, 255);
    SetWindowPos(nullptr, 0, 0, m_nCellWidth, m_nCellHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Invalidate(FALSE);
    return true;
}

void CCommImgButton::SetNotify(HWND target, UINT message) {
    if (!::IsWindow(target)) return;
    m_hWndNotify = target;
    m_uNotifyMsg = message;
}

void CCommImgButton::DrawButton(HDC dc) {
    RECT client{};
    GetClientRect(&client);
    FillSolidRect(dc, client, m_clrBack);
    const COLORREF oldColor = ::SetTextColor(dc, m_clrText);
    CSelectObject font(dc, m_pFont ? m_pFont->GetSafeHandle() : nullptr);
    const int cell = Skin::ButtonCellIndex(m_nState, m_nCellCount);
    if (!m_image.IsNull() && cell >= 0) {
        m_image.Draw(dc, 0, 0, client.right, client.bottom, 0, cell * m_nCellHeight, m_nCellWidth, m_nCellHeight);
    }
    ::DrawTextW(dc, m_strText.c_str(), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    ::SetTextColor(dc, oldColor);
}

void CCommImgButton::OnPaint() {
    CPaintDC dc(this);
    PaintThroughBuffer(dc, m_imgBuffer, [this](HDC face) { DrawButton(face); });
}

BOOL CCommImgButton::OnEraseBkgnd(HDC) { return TRUE; }

void CCommImgButton::OnSize(UINT, int cx, int cy) {
    Default();
    ReshapeFromBuffer(m_hWnd, m_imgBuffer, m_nBufferWidth, m_nBufferHeight, cx, cy, m_clrRgnKey,
                      [this](HDC face) { DrawButton(face); });
    Invalidate(FALSE);
}

void CCommImgButton::SetState(int state) {
    if (state == m_nState) return;
    m_nState = state;
    Invalidate(FALSE);
}

void CCommImgButton::OnMouseMove(UINT, POINT) {
    if (!m_bTrackingMouse) {
        // USER's own TrackMouseEvent, not the common controls' forwarder: loading comctl32 for it would put
        // the common controls and their theming into every idle window's working set.
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, HOVER_DEFAULT};
        m_bTrackingMouse = ::TrackMouseEvent(&track) != FALSE;
    }
    SetState(Skin::ButtonStateAfterMove(m_nState));
    Default();
}

void CCommImgButton::OnLButtonDown(UINT, POINT) {
    SetState(Skin::ButtonStateAfterPress(m_nState));
    ::SetCapture(m_hWnd);
    Default();
}

void CCommImgButton::OnLButtonUp(UINT, POINT point) {
    if (m_nState != STATE_DISABLED) {
        RECT client{};
        GetClientRect(&client);
        const Skin::ButtonRelease release = Skin::ButtonStateAfterRelease(m_nState, ::PtInRect(&client, point));
        m_nState = release.state;
        Invalidate(FALSE);
        // Posted, so the owner handles the click after this message returns.
        if (release.clicked && ::IsWindow(m_hWndNotify)) ::PostMessageW(m_hWndNotify, m_uNotifyMsg, 0, 0);
    }
    ::ReleaseCapture();
    Default();
}

void CCommImgButton::OnMouseLeave() {
    m_bTrackingMouse = false;
    SetState(Skin::ButtonStateAfterLeave(m_nState));
}

// Capture taken away mid-press (a window popping up, a system key) ends the press without a click; the
// button's own release has left the pressed state before it lets capture go.
void CCommImgButton::OnCaptureChanged(HWND newCapture) {
    if (newCapture != m_hWnd && m_nState == STATE_PRESSED) SetState(Skin::ButtonStateAfterLeave(m_nState));
    Default();
}

void CCommImgButton::OnShowWindow(BOOL, UINT) { Default(); }
