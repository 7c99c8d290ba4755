#include "ui/zorv_downloader_dlg.h"

#include <shellapi.h>

#include <string>

#include "report/report_submit.h"
#include "res/resource.h"
#include "skin/skin_image.h"
#include "skin/skin_layout.h"
#include "text/wire_contract.h"

namespace {

constexpr COLORREF kLinkColour = RGB(220, 216, 215);
constexpr COLORREF kEditBack = RGB(42, 43, 42);
constexpr COLORREF kEditText = RGB(217, 217, 217);
namespace Layout = Skin::CheckDialog;
constexpr int kLinkX = Layout::kRegisterLink.x;
constexpr int kLinkY = Layout::kRegisterLink.y;
const wchar_t kLinkText[] = L"注册账号";
constexpr UINT kControlLayoutFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;

// The dialog's faces; a face that cannot be made falls back to a small SimSun.
CFont MakeFont(int height) {
    CFont font;
    if (!font.CreateFont(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, 0, 0, 0, FF_SWISS, L"微软雅黑"))
        font.CreateFont(11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, 0, 0, 0, FF_SWISS, L"宋体");
    return font;
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
      m_fontEdit(MakeFont(18)),
      m_fontLink(MakeFont(20)),
      m_checker(MakeSystemCheckEnvironment(), std::make_unique<CurlTransfer>(), m_display) {}

CZorvDownloaderDlg::~CZorvDownloaderDlg() = default;

const Framework::MessageMap* CZorvDownloaderDlg::GetThisMessageMap() {
    using namespace Framework::Msg;
    using Self = CZorvDownloaderDlg;
    static constexpr Framework::MessageMapEntry kEntries[] = {
        Framework::On<Paint, &Self::OnPaint>(),
        Framework::On<QueryDragIcon, &Self::OnQueryDragIcon>(),
        Framework::On<Framework::Msg::Create, &Self::OnCreate>(),
        Framework::On<WindowPosChanged, &Self::OnWindowPosChanged>(),
        ON_MESSAGE(UM_CLOSE_CLICKED, &Self::OnCloseClicked),
        ON_MESSAGE(UM_CHECK_CLICKED, &Self::OnCheckClicked),
        Framework::On<Close, &Self::OnClose>(),
        Framework::On<MouseLeave, &Self::OnMouseLeave>(),
        Framework::On<MouseMove, &Self::OnMouseMove>(),
        Framework::On<LButtonDown, &Self::OnLButtonDown>(),
    };
    static constexpr Framework::MessageMap kMap{&CRgnDialog::GetThisMessageMap, kEntries};
    return &kMap;
}

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

bool CZorvDownloaderDlg::CreateAccountBox(CCommEditEx& box, UINT id) {
    if (!box.CreateFramed(nullptr, nullptr, WS_CHILD | WS_VISIBLE, WS_VISIBLE | ES_AUTOHSCROLL, RECT{}, this, id, id))
        return false;
    box.m_nBorderWidth = 0;
    box.SetBackColor(kEditBack);
    box.m_clrText = kEditText;
    box.m_nEditHeight = 18;
    // The same bound registration and the service hold account names to.
    box.LimitEditText(static_cast<int>(WireContract::kAccountBoxUnits));
    box.EnableBoth(TRUE);
    box.SetEditFont(&m_fontEdit, TRUE);
    return true;
}

int CZorvDownloaderDlg::OnCreate(LPCREATESTRUCTW create) {
    if (CRgnDialog::OnCreate(create) == -1) return -1;
    SetWindowLongW(m_hWnd, GWL_STYLE, GetWindowLongW(m_hWnd, GWL_STYLE) | WS_MINIMIZEBOX);
    m_nCaptionHeight = Layout::kDragBand.height;
    LoadSkinImage(m_imgBackground, IDB_BACKGROUND);

    constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    if (!m_btnClose.Create(nullptr, nullptr, kButtonStyle, RECT{}, this, IDC_BTN_CLOSE)) return -1;
    m_btnClose.SetNotify(m_hWnd, UM_CLOSE_CLICKED);
    LoadSkinImage(m_imgCloseStrip, IDB_CLOSE_STRIP);
    m_btnClose.SetImage(m_imgCloseStrip);

    if (!m_btnCheck.Create(nullptr, nullptr, kButtonStyle, RECT{}, this, IDC_BTN_CHECK)) return -1;
    m_btnCheck.SetNotify(m_hWnd, UM_CHECK_CLICKED);
    LoadSkinImage(m_imgCheckStrip, IDB_CHECK_STRIP);
    m_btnCheck.SetImage(m_imgCheckStrip);

    if (!CreateAccountBox(m_editAccount, IDC_EDIT_ACCOUNT)) return -1;
    if (!CreateAccountBox(m_editConfirm, IDC_EDIT_CONFIRM)) return -1;
    return 0;
}

BOOL CZorvDownloaderDlg::OnInitDialog() {
    CRgnDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    m_bDblClkMaximize = false;
    SetWindowText(L"《Quillmere》检测器");
    SetWindowPos(nullptr, 0, 0, Layout::kDialog.width, Layout::kDialog.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
        const Skin::Placement p = Skin::Place(c.box, pos->cx, pos->cy);
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
    TextOutW(dc, kLinkX, kLinkY, kLinkText, length);
    SIZE extent{};
    GetTextExtentPoint32W(dc, kLinkText, length, &extent);
    m_rcLink = RECT{kLinkX, kLinkY, kLinkX + extent.cx, kLinkY + extent.cy};
    if (m_bLinkHover) {
        CPen pen;
        pen.CreatePen(PS_SOLID, 1, kLinkColour);
        CSelectObject selected(dc, pen);
        MoveToEx(dc, kLinkX, kLinkY + extent.cy + 1, nullptr);
        LineTo(dc, kLinkX + extent.cx, kLinkY + extent.cy + 1);
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
    SetCursor(LoadCursorW(nullptr, m_bLinkHover ? IDC_HAND : IDC_ARROW));
    if (m_bLinkHover != wasHover) Invalidate(FALSE);
    CRgnDialog::OnMouseMove(flags, point);
}

void CZorvDownloaderDlg::OnLButtonDown(UINT flags, POINT point) {
    if (PtInRect(&m_rcLink, point)) ShellExecuteW(nullptr, L"open", RegisterUrl(), nullptr, nullptr, SW_SHOWNORMAL);
    CRgnDialog::OnLButtonDown(flags, point);
}

BOOL CZorvDownloaderDlg::PreTranslateMessage(MSG* msg) {
    // Esc would end the dialog and Enter would press its default button: neither means anything here.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN)) return TRUE;
    return CRgnDialog::PreTranslateMessage(msg);
}
