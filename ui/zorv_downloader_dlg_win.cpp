#include "ui/zorv_downloader_dlg.h"

#include <string>
#include <utility>

#include "framework/shell.h"
#include "report/report_submit.h"
#include "res/resource.h"
#include "skin/skin_image.h"
#include "skin/skin_layout.h"

namespace {

constexpr COLORREF kLinkColour = RGB(220, 216, 215);
constexpr COLORREF kEditBack = RGB(42, 43, 42);
constexpr COLORREF kEditText = RGB(217, 217, 217);
namespace Layout = Skin::CheckDialog;
const wchar_t kLinkText[] = L"注册账号";
constexpr UINT kControlLayoutFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;

// The dialog's faces, at the window's scale; a face that cannot be made falls back to a small SimSun.
CFont MakeFont(int height, int dpi) {
    CFont font;
    if (!font.CreateFont(Skin::Scale(height, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, 0, 0, 0, FF_SWISS,
                         L"微软雅黑"))
        font.CreateFont(Skin::Scale(11, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, 0, 0, 0, FF_SWISS, L"宋体");
    return font;
}

// The scale of the window's monitor: the window's own where the system has per-monitor scaling (Windows 10
// 1607 and later), the system's otherwise.
int WindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && window) {
        if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : Skin::kBaseDpi;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : Skin::kBaseDpi;
}

std::u16string InnerText(CCommEditEx& box) {
    std::wstring text;
    box.m_edit.GetWindowText(text);
    return std::u16string(text.begin(), text.end());
}

}  // namespace

CZorvDownloaderDlg::CZorvDownloaderDlg()
    : CRgnDialog(IDD_CHECK_DIALOG, nullptr),
      m_hIcon(LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDI_APP))),
      m_fontEdit(MakeFont(18, Skin::kBaseDpi)),
      m_fontLink(MakeFont(20, Skin::kBaseDpi)),
      m_checker(MakeSystemCheckEnvironment(), std::make_unique<CurlTransfer>(), m_display) {}

CZorvDownloaderDlg::~CZorvDownloaderDlg() = default;

BEGIN_MESSAGE_MAP(CZorvDownloaderDlg, CRgnDialog)
    On<Msg::Paint, &CZorvDownloaderDlg::OnPaint>(),
    On<Msg::QueryDragIcon, &CZorvDownloaderDlg::OnQueryDragIcon>(),
    On<Msg::Create, &CZorvDownloaderDlg::OnCreate>(),
    On<Msg::WindowPosChanged, &CZorvDownloaderDlg::OnWindowPosChanged>(),
    ON_MESSAGE(UM_CLOSE_CLICKED, &CZorvDownloaderDlg::OnCloseClicked),
    ON_MESSAGE(UM_CHECK_CLICKED, &CZorvDownloaderDlg::OnCheckClicked),
    On<Msg::Close, &CZorvDownloaderDlg::OnClose>(),
    On<Msg::MouseLeave, &CZorvDownloaderDlg::OnMouseLeave>(),
    On<Msg::MouseMove, &CZorvDownloaderDlg::OnMouseMove>(),
    On<Msg::LButtonDown, &CZorvDownloaderDlg::OnLButtonDown>(),
    On<Msg::SetCursor, &CZorvDownloaderDlg::OnSetCursor>(),
    On<Msg::DpiChanged, &CZorvDownloaderDlg::OnDpiChanged>(),
END_MESSAGE_MAP()

void CZorvDownloaderDlg::OnPaint() {
    if (!IsIconic()) {
        CRgnDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    RECT client;
    GetClientRect(&client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
}

HCURSOR CZorvDownloaderDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

bool CZorvDownloaderDlg::CreateAccountBox(CCommEditEx& box, UINT id, LPCWSTR name) {
    // Tab and Shift+Tab move between the two boxes, the only stops; the name is what a screen reader says.
    if (!box.CreateFramed(nullptr, name, WS_CHILD | WS_VISIBLE, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, RECT{}, this,
                          id, id))
        return false;
    box.m_nBorderWidth = 0;
    box.SetBackColor(kEditBack);
    box.m_clrText = kEditText;
    box.LimitEditText(64);
    box.EnableBoth(TRUE);
    return true;
}

// Everything whose size follows the monitor's scale: the artwork, the fonts, the drag band and the inner
// edits' height. The new pieces are set before the old ones go, so no control ever draws with a deleted one.
void CZorvDownloaderDlg::ApplyScale(int dpi) {
    m_nDpi = dpi;
    const auto scaled = [dpi](int value) { return Skin::Scale(value, dpi); };
    m_nCaptionHeight = scaled(Layout::kDragBand.height);
    LoadSkinImage(m_imgBackground, IDB_BACKGROUND, dpi, scaled(Layout::kDialog.width), scaled(Layout::kDialog.height));
    const struct {
        CCommImgButton& button;
        CImage& strip;
        UINT id;
        Skin::Box cell;
    } buttons[] = {{m_btnClose, m_imgCloseStrip, IDB_CLOSE_STRIP, Layout::kCloseButton},
                   {m_btnCheck, m_imgCheckStrip, IDB_CHECK_STRIP, Layout::kCheckButton}};
    for (const auto& b : buttons) {
        CImage strip;
        LoadSkinImage(strip, b.id, dpi, scaled(b.cell.width), 4 * scaled(b.cell.height));
        b.button.SetImage(strip);  // the button borrows the bitmap, which the move below keeps
        b.strip = std::move(strip);
    }
    CFont edit = MakeFont(18, dpi);
    for (CCommEditEx* box : {&m_editAccount, &m_editConfirm}) {
        box->m_nEditHeight = scaled(18);
        box->SetEditFont(&edit, TRUE);
    }
    m_fontEdit = std::move(edit);
    m_fontLink = MakeFont(20, dpi);
}

int CZorvDownloaderDlg::OnCreate(LPCREATESTRUCTW create) {
    if (CRgnDialog::OnCreate(create) == -1) return -1;
    SetWindowLongW(m_hWnd, GWL_STYLE, GetWindowLongW(m_hWnd, GWL_STYLE) | WS_MINIMIZEBOX);

    constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    // The captions are part of the artwork; the window texts name the buttons for assistive technology.
    if (!m_btnClose.Create(nullptr, L"关闭", kButtonStyle, RECT{}, this, IDC_BTN_CLOSE)) return -1;
    m_btnClose.SetNotify(m_hWnd, UM_CLOSE_CLICKED);

    if (!m_btnCheck.Create(nullptr, L"点击检测", kButtonStyle, RECT{}, this, IDC_BTN_CHECK)) return -1;
    m_btnCheck.SetNotify(m_hWnd, UM_CHECK_CLICKED);

    if (!CreateAccountBox(m_editAccount, IDC_EDIT_ACCOUNT, L"账号")) return -1;
    if (!CreateAccountBox(m_editConfirm, IDC_EDIT_CONFIRM, L"确认账号")) return -1;
    ApplyScale(WindowDpi(m_hWnd));
    return 0;
}

BOOL CZorvDownloaderDlg::OnInitDialog() {
    CRgnDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    m_bDblClkMaximize = false;
    SetWindowText(L"《Quillmere》检测器");
    SetWindowPos(nullptr, 0, 0, Skin::Scale(Layout::kDialog.width, m_nDpi), Skin::Scale(Layout::kDialog.height, m_nDpi),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // TRUE: the dialog manager puts the caret in the first tab stop, the account box.
    return TRUE;
}

void CZorvDownloaderDlg::OnWindowPosChanged(WINDOWPOS* pos) {
    Default();
    if ((pos->flags & SWP_NOSIZE) && !(pos->flags & SWP_SHOWWINDOW)) return;
    const struct {
        HWND control;
        Skin::Box box;
    } controls[] = {{m_btnClose, Layout::kCloseButton},
                    {m_btnCheck, Layout::kCheckButton},
                    {m_editAccount, Layout::kAccountEdit},
                    {m_editConfirm, Layout::kConfirmEdit}};
    HDWP batch = BeginDeferWindowPos(0);
    for (const auto& c : controls) {
        const Skin::Placement p = Skin::Place(Skin::ScaleBox(c.box, m_nDpi), pos->cx, pos->cy);
        batch = DeferWindowPos(batch, c.control, nullptr, p.x, p.y, p.width, p.height, kControlLayoutFlags);
    }
    EndDeferWindowPos(batch);
}

void CZorvDownloaderDlg::DrawContent(HDC dc) {
    RECT client;
    GetClientRect(&client);
    FillSolidRect(dc, client, RGB(255, 255, 255));
    m_imgBackground.Draw(dc, 0, 0, m_imgBackground.GetWidth(), m_imgBackground.GetHeight(), 0, 0,
                         m_imgBackground.GetWidth(), m_imgBackground.GetHeight());

    CSelectObject font(dc, m_fontLink);
    const COLORREF previousColour = SetTextColor(dc, kLinkColour);
    const int length = static_cast<int>(wcslen(kLinkText));
    const int x = Skin::Scale(Layout::kRegisterLink.x, m_nDpi);
    const int y = Skin::Scale(Layout::kRegisterLink.y, m_nDpi);
    TextOutW(dc, x, y, kLinkText, length);
    SIZE extent{};
    GetTextExtentPoint32W(dc, kLinkText, length, &extent);
    m_rcLink = RECT{x, y, x + extent.cx, y + extent.cy};
    if (m_bLinkHover) {
        const int line = Skin::Scale(1, m_nDpi);
        CPen pen;
        pen.CreatePen(PS_SOLID, line, kLinkColour);
        CSelectObject selected(dc, pen);
        MoveToEx(dc, x, y + extent.cy + line, nullptr);
        LineTo(dc, x + extent.cx, y + extent.cy + line);
    }
    SetTextColor(dc, previousColour);
}

LRESULT CZorvDownloaderDlg::OnCloseClicked(WPARAM, LPARAM) {
    OnOK();
    return 0;
}

LRESULT CZorvDownloaderDlg::OnCheckClicked(WPARAM, LPARAM) {
    m_checker.Check(InnerText(m_editAccount), InnerText(m_editConfirm));
    return 0;
}

void CZorvDownloaderDlg::OnClose() { Default(); }

void CZorvDownloaderDlg::OnMouseLeave() {
    if (m_bLinkHover) {
        m_bLinkHover = false;
        Invalidate(FALSE);
    }
    CRgnDialog::OnMouseLeave();
}

void CZorvDownloaderDlg::OnMouseMove(UINT flags, POINT point) {
    const bool wasHover = m_bLinkHover;
    m_bLinkHover = PtInRect(&m_rcLink, point) != FALSE;
    if (m_bLinkHover != wasHover) Invalidate(FALSE);
    CRgnDialog::OnMouseMove(flags, point);
}

void CZorvDownloaderDlg::OnLButtonDown(UINT flags, POINT point) {
    if (PtInRect(&m_rcLink, point)) Framework::ShellOpenAsUser(RegisterUrl());
    CRgnDialog::OnLButtonDown(flags, point);
}

// Asked before every mouse message, a click included: the hand stays over the link until the pointer leaves
// it, where setting it on mouse moves alone lost it to the class's arrow at each click.
BOOL CZorvDownloaderDlg::OnSetCursor(HWND window, UINT hitTest, UINT) {
    POINT point{};
    if (window == m_hWnd && hitTest == HTCLIENT && ::GetCursorPos(&point) && ::ScreenToClient(m_hWnd, &point) &&
        PtInRect(&m_rcLink, point)) {
        ::SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
    }
    return static_cast<BOOL>(Default());
}

// Moved to a monitor of another scale: everything is made again for it, and the window takes the size the
// scale gives at the place the system suggests.
void CZorvDownloaderDlg::OnDpiChanged(UINT dpi, const RECT* suggested) {
    ApplyScale(static_cast<int>(dpi));
    SetWindowPos(nullptr, suggested->left, suggested->top, Skin::Scale(Layout::kDialog.width, m_nDpi),
                 Skin::Scale(Layout::kDialog.height, m_nDpi), SWP_NOZORDER | SWP_NOACTIVATE);
    Invalidate(FALSE);
}

BOOL CZorvDownloaderDlg::PreTranslateMessage(MSG* msg) {
    // Esc would end the dialog and Enter would press its default button: neither means anything here.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN)) return TRUE;
    return CRgnDialog::PreTranslateMessage(msg);
}
