#pragma once
// CRgnDialog: the base of skinned dialogs. A derived dialog paints its whole face in DrawContent; the base
// paints it through an off-screen buffer, cuts the window's shape from it (pure magenta is cut out) after
// every resize, moves the window by a band at the top, maximises on a double-click there, and asks for
// WM_MOUSELEAVE whenever the pointer comes in.
#include "framework/dialog.h"
#include "framework/image.h"

class CRgnDialog : public CDialog {
public:
    explicit CRgnDialog(UINT templateId, CWnd* parent = nullptr);
    // For a template given with InitModalIndirect or CreateIndirect.
    CRgnDialog();
    ~CRgnDialog() override;

protected:
    // Paints every visible pixel of the face, in client coordinates. Called on every paint with the
    // background mode already transparent, and after every resize, where it decides the window's shape.
    virtual void DrawContent(HDC dc) = 0;

    DECLARE_MESSAGE_MAP()

    BOOL OnEraseBkgnd(HDC dc);
    void OnPaint();
    void OnSize(UINT type, int cx, int cy);
    void OnLButtonDown(UINT flags, POINT point);
    void OnLButtonDblClk(UINT flags, POINT point);
    void OnLButtonUp(UINT flags, POINT point);
    void OnRButtonDown(UINT flags, POINT point);
    int OnCreate(LPCREATESTRUCTW create);
    void OnMouseMove(UINT flags, POINT point);
    void OnMouseLeave();
    void OnGetMinMaxInfo(MINMAXINFO* info);

    CImage m_imgBuffer;
    int m_nBufferWidth = 0;
    int m_nBufferHeight = 0;
    bool m_bTrackingMouse = false;
    int m_nCaptionHeight;
    COLORREF m_clrRgnKey = RGB(255, 0, 255);
    bool m_bDblClkMaximize = true;

private:
    bool IsMaximized() const;
};
