#pragma once
// CWnd: one C++ object bound to one window, from the window's creation to its WM_NCDESTROY. The binding is
// made before the window's first message (WM_NCCREATE, or WM_GETMINMAXINFO for top-level windows), so every
// message of the window reaches the object's message map; what the map does not take goes to the window's
// original procedure (Default()).
#include <windows.h>

#include <string>

#include "framework/message_map.h"

struct CCreateContext;  // the framework passes it through to the window untouched

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // The object bound to a window, or null.
    static CWnd* FromHandlePermanent(HWND hwnd);

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // Creation. A null class name means the framework's default window class (double-clicks, arrow cursor,
    // no background brush). Fails when the object already has a window.
    virtual BOOL Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                        CCreateContext* context = nullptr);
    virtual BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                          int height, HWND parent, HMENU idOrMenu, LPVOID param = nullptr);
    virtual BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect,
                          CWnd* parent, UINT id, LPVOID param = nullptr);
    BOOL DestroyWindow();

    // Called for messages of this window (and its children) in a modal loop before they are dispatched;
    // TRUE means the message is used up.
    virtual BOOL PreTranslateMessage(MSG* msg);

    void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
    void GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
    void ClientToScreen(LPPOINT point) const { ::ClientToScreen(m_hWnd, point); }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void InvalidateRect(const RECT* rect, BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, rect, erase); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    BOOL RedrawWindow(const RECT* rect = nullptr, HRGN region = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE) {
        return ::RedrawWindow(m_hWnd, rect, region, flags);
    }
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int width, int height, UINT flags);
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) {
        return ::MoveWindow(m_hWnd, x, y, width, height, repaint);
    }
    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL GetWindowPlacement(WINDOWPLACEMENT* placement) const;
    // Centres a top-level window over its owner when the owner is shown, otherwise on the work area of the
    // monitor the program was started on (the one the shell named, else the window's own); either way it
    // is kept inside that monitor's work area, its top-left corner first when it is larger.
    void CenterWindow();
    int SetWindowRgn(HRGN region, BOOL redraw) { return ::SetWindowRgn(m_hWnd, region, redraw); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }

    void SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
    int GetWindowText(LPWSTR buffer, int size) const { return ::GetWindowTextW(m_hWnd, buffer, size); }
    void GetWindowText(std::wstring& text) const;
    int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
    void SetFont(HFONT font, BOOL redraw = TRUE) {
        ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
    }
    HICON SetIcon(HICON icon, BOOL big) {
        return reinterpret_cast<HICON>(
            ::SendMessageW(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
    }

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }

    HWND m_hWnd = nullptr;

protected:
    // The message map of this class, and the virtual accessor the dispatcher uses. Every class with a map
    // declares both; its table names the base class's GetThisMessageMap as its base.
    static const Framework::MessageMap* GetThisMessageMap();
    virtual const Framework::MessageMap* GetMessageMap() const { return GetThisMessageMap(); }

    // Looks the message up in the map chain; what no row takes gets Default().
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The window's original processing of the message being handled, with its original arguments.
    LRESULT Default();
    // Called after the window is gone and the object released it.
    virtual void PostNcDestroy() {}

private:
    friend struct CreationBinding;

    struct CurrentMessage {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    };

    void Bind(HWND hwnd);
    void Unbind();
    static LRESULT CALLBACK WindowProcThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    WNDPROC m_pfnSuper = nullptr;
    CurrentMessage m_current;
};

// Binds the next window this thread creates to the object, for as long as the scope lives. Creations nest:
// a window made while another is being created gets its own scope.
struct CreationBinding {
    explicit CreationBinding(CWnd& wnd);
    ~CreationBinding();
    CreationBinding(const CreationBinding&) = delete;
    CreationBinding& operator=(const CreationBinding&) = delete;

    bool IsActive() const { return m_hHook != nullptr; }

private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);

    HHOOK m_hHook = nullptr;
    CWnd* m_pPrevious = nullptr;
};

// BeginPaint/EndPaint for one WM_PAINT.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    operator HDC() const { return m_hDC; }

    PAINTSTRUCT m_ps{};
    HDC m_hDC = nullptr;

private:
    HWND m_hWnd;
};

HINSTANCE AfxGetInstanceHandle();
