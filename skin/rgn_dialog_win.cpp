#include "skin/rgn_dialog.h"


#include "skin/skin_image.h"
#include "skin/skin_layout.h"

CRgnDialog::CRgnDialog(UINT templateId, CWnd* parent)
    : CDialog(templateId, parent), m_nCaptionHeight(::GetSystemMetrics(SM_CYCAPTION)) {}

CRgnDialog::CRgnDialog() : m_nCaptionHeight(::GetSystemMetrics(SM_CYCAPTION)) {}

CRgnDialog::~CRgnDialog() { m_imgBuffer.Destroy(); }

BEGIN_MESSAGE_MAP(CRgnDialog, CDialog)
        On<Msg::EraseBkgnd, &CRgnDialog::OnEraseBkgnd>(),
        On<Msg::Paint, &CRgnDialog::OnPaint>(),
        On<Msg::Size, &CRgnDialog::OnSize>(),
        On<Msg::LButtonDown, &CRgnDialog::OnLButtonDown>(),
        On<Msg::LButtonDblClk, &CRgnDialog::OnLButtonDblClk>(),
        On<Msg::LButtonUp, &CRgnDialog::OnLButtonUp>(),
        On<Msg::RButtonDown, &CRgnDialog::OnRButtonDown>(),
        On<Msg::RButtonUp, &CRgnDialog::OnRButtonDown>(),
        On<Msg::Create, &CRgnDialog::OnCreate>(),
        On<Msg::MouseMove, &CRgnDialog::OnMouseMove>(),
        On<Msg::MouseLeave, &CRgnDialog::OnMouseLeave>(),
        On<Msg::GetMinMaxInfo, &CRgnDialog::OnGetMinMaxInfo>(),
END_MESSAGE_MAP()

BOOL CRgnDialog::OnEraseBkgnd(HDC) { return TRUE; }

void CRgnDialog::OnPaint() {
    CPaintDC dc(this);
    PaintThroughBuffer(dc, m_imgBuffer, [this](HDC face) { DrawContent(face); });
}

void CRgnDialog::OnSize(UINT, int cx, int cy) {
    Default();
    ReshapeFromBuffer(m_hWnd, m_imgBuffer, m_nBufferWidth, m_nBufferHeight, cx, cy, m_clrRgnKey,
                      [this](HDC face) { DrawContent(face); });
    Invalidate(FALSE);
}

bool CRgnDialog::IsMaximized() const {
    WINDOWPLACEMENT placement{};
    return GetWindowPlacement(&placement) && placement.showCmd == SW_SHOWMAXIMIZED;
}

void CRgnDialog::OnLButtonDown(UINT, POINT point) {
    if (Skin::InDragBand(point.y, m_nCaptionHeight) && !IsMaximized()) {
        // The system's move loop runs as if the caption had been pressed; its message takes screen points.
        POINT screen = point;
        ClientToScreen(&screen);
        PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(screen.x, screen.y));
    }
    Default();
}

void CRgnDialog::OnLButtonDblClk(UINT, POINT point) {
    if (!m_bDblClkMaximize) return;
    if (Skin::InDragBand(point.y, m_nCaptionHeight)) {
        PostMessage(WM_SYSCOMMAND, IsMaximized() ? SC_RESTORE : SC_MAXIMIZE, 0);
        RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    Default();
}

void CRgnDialog::OnLButtonUp(UINT, POINT) { Default(); }

void CRgnDialog::OnRButtonDown(UINT, POINT) { Default(); }

int CRgnDialog::OnCreate(LPCREATESTRUCTW) { return Default() == -1 ? -1 : 0; }

void CRgnDialog::OnMouseMove(UINT, POINT) {
    if (!m_bTrackingMouse) {
        // USER's own TrackMouseEvent, not the common controls' forwarder: loading comctl32 for it would put
        // the common controls and their theming into every idle window's working set.
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, HOVER_DEFAULT};
        m_bTrackingMouse = ::TrackMouseEvent(&track) != FALSE;
    }
    Default();
}

void CRgnDialog::OnMouseLeave() {
    m_bTrackingMouse = false;
    Default();
}

void CRgnDialog::OnGetMinMaxInfo(MINMAXINFO* info) {
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    info->ptMaxSize.x = ::GetSystemMetrics(SM_CXSCREEN);
    info->ptMaxSize.y = work.bottom - work.top;
    Default();
}
