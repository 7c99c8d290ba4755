#pragma once
// CCommImgButton: a push button drawn from a strip of four cells (normal, hover, pressed, disabled, top to
// bottom). It sizes itself to one cell, shapes itself from what it painted (pure white is cut out) and, on
// a press and release inside it, posts its owner's chosen message with both parameters 0. Its window text
// names it for assistive technology and is not drawn: the strip carries the caption.
#include <string>

#include "framework/gdi.h"
#include "framework/image.h"
#include "framework/wnd.h"
#include "skin/button_state.h"

class CCommImgButton : public CWnd {
public:
    static constexpr int STATE_NORMAL = Skin::STATE_NORMAL;
    static constexpr int STATE_PRESSED = Skin::STATE_PRESSED;
    static constexpr int STATE_HOVER = Skin::STATE_HOVER;
    static constexpr int STATE_DISABLED = Skin::STATE_DISABLED;

    CCommImgButton() = default;
    ~CCommImgButton() override;

    // Shows the strip and resizes the button to one cell. The button refers to the strip's bitmap without
    // owning it: the image must outlive the button. False, and nothing changes, for an empty image.
    bool SetImage(const CImageView& strip);
    // Where a click is posted; ignored unless the window exists.
    void SetNotify(HWND target, UINT message);
    // Renders the current state into the DC.
    void DrawButton(HDC dc);

    int GetState() const { return m_nState; }

protected:
    DECLARE_MESSAGE_MAP()

    void OnPaint();
    BOOL OnEraseBkgnd(HDC dc);
    void OnMouseMove(UINT flags, POINT point);
    void OnLButtonDown(UINT flags, POINT point);
    void OnLButtonUp(UINT flags, POINT point);
    void OnMouseLeave();
    void OnCaptureChanged(HWND newCapture);
    void OnShowWindow(BOOL show, UINT status);
    void OnSize(UINT type, int cx, int cy);

    int m_nCellWidth = 0;
    int m_nCellHeight = 0;
    CImageView m_image;  // borrowed: the strip belongs to whoever set it
    COLORREF m_clrBack = RGB(0, 0, 0);
    COLORREF m_clrText = RGB(0, 0, 0);
    COLORREF m_clrRgnKey = 0xFFFFFFFF;  // only red, green and blue take part: white
    std::wstring m_strText;
    CFont* m_pFont = nullptr;
    int m_nState = STATE_NORMAL;
    bool m_bTrackingMouse = false;
    UINT m_uNotifyMsg = 0;
    HWND m_hWndNotify = nullptr;
    int m_nCellCount = 4;
    CImage m_imgBuffer;
    int m_nBufferWidth = 0;
    int m_nBufferHeight = 0;

private:
    void SetState(int state);
};
