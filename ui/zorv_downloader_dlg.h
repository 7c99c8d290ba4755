#pragma once
// The program's one window: the skinned check dialog with two account boxes, the check and close buttons
// and the registration link. It scales itself to its monitor's dots per inch: the layout table, the fonts
// and the artwork (drawn at 1x, 1.5x and 2x, the nearest one resampled for other scales).
#include <windows.h>

#include <memory>

#include "framework/gdi.h"
#include "report/checker.h"
#include "report/message_display.h"
#include "skin/comm_edit_ex.h"
#include "skin/comm_img_button.h"
#include "skin/rgn_dialog.h"

constexpr UINT UM_CLOSE_CLICKED = WM_USER + 100;
constexpr UINT UM_CHECK_CLICKED = WM_USER + 101;

class CZorvDownloaderDlg : public CRgnDialog {
public:
    CZorvDownloaderDlg();
    ~CZorvDownloaderDlg() override;

    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    DECLARE_MESSAGE_MAP()

    BOOL OnInitDialog() override;
    void DrawContent(HDC dc) override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    int OnCreate(LPCREATESTRUCTW create);
    void OnWindowPosChanged(WINDOWPOS* pos);
    LRESULT OnCloseClicked(WPARAM, LPARAM);
    LRESULT OnCheckClicked(WPARAM, LPARAM);
    void OnClose();
    void OnMouseLeave();
    void OnMouseMove(UINT flags, POINT point);
    void OnLButtonDown(UINT flags, POINT point);
    BOOL OnSetCursor(HWND window, UINT hitTest, UINT message);
    void OnDpiChanged(UINT dpi, const RECT* suggested);

private:
    bool CreateAccountBox(CCommEditEx& box, UINT id, LPCWSTR name);
    void ApplyScale(int dpi);

    HICON m_hIcon = nullptr;
    CImage m_imgBackground;
    CCommImgButton m_btnClose;
    CCommImgButton m_btnCheck;
    CCommEditEx m_editAccount;
    CCommEditEx m_editConfirm;
    CFont m_fontEdit;
    CFont m_fontLink;
    RECT m_rcLink{};
    bool m_bLinkHover = false;
    int m_nDpi = 96;  // the scale the window is laid out and drawn for
    CImage m_imgCloseStrip;
    CImage m_imgCheckStrip;
    MessageBoxDisplay m_display;
    Checker m_checker;
};
