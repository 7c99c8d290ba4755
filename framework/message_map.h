#pragma once
// Message maps: one static table per window class, chained to its base class's table. Each row is made by
// On<Message, &Class::Handler>(), where Message is a cracker below that names the messages it takes and the
// one handler signature it accepts; it unpacks wParam and lParam into typed arguments. A handler with any
// other signature is a compile error, not a cast.
//
// A class says once that it has a map, and its source file writes the table:
//
//   class CMyDialog : public CDialog {
//       ...
//       DECLARE_MESSAGE_MAP()   // the table and the virtual accessor that returns it, together
//   };
//
//   BEGIN_MESSAGE_MAP(CMyDialog, CDialog)
//       On<Msg::Paint, &CMyDialog::OnPaint>(),
//       On<Msg::Message<UM_DONE>, &CMyDialog::OnDone>(),
//   END_MESSAGE_MAP()
//
// A table without the declaration does not compile, and neither does a class whose accessor is not its own,
// so no class can run its base class's map by mistake.
#include <windows.h>

#include <cstddef>
#include <type_traits>

class CWnd;

namespace Framework {

struct MessageMapEntry {
    UINT first;  // the messages this row takes, first to last inclusive
    UINT last;
    // Calls the handler; false when the row declines the message (a command row for another id).
    bool (*dispatch)(CWnd& wnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
};

struct MessageMap {
    using BaseAccessor = const MessageMap* (*)();

    constexpr explicit MessageMap(BaseAccessor baseMap) : base(baseMap), entries(nullptr), count(0) {}
    template <std::size_t N>
    constexpr MessageMap(BaseAccessor baseMap, const MessageMapEntry (&rows)[N])
        : base(baseMap), entries(rows), count(N) {}

    BaseAccessor base;  // the base class's table; null at the root
    const MessageMapEntry* entries;
    std::size_t count;
};

namespace Msg {

template <UINT First, UINT Last = First>
struct Range {
    static constexpr UINT kFirst = First;
    static constexpr UINT kLast = Last;
    static constexpr bool Accepts(UINT, WPARAM, LPARAM) { return true; }
};

inline POINT PointOf(LPARAM lParam) {
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

// void OnX()
template <UINT Id>
struct NoArguments : Range<Id> {
    template <class T>
    using Handler = void (T::*)();
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM, LPARAM) {
        (wnd.*handler)();
        return 0;
    }
};
using Paint = NoArguments<WM_PAINT>;
using MouseLeave = NoArguments<WM_MOUSELEAVE>;
using Close = NoArguments<WM_CLOSE>;
using Destroy = NoArguments<WM_DESTROY>;

// void OnX(UINT flags, POINT point), the point in client coordinates
template <UINT Id>
struct Mouse : Range<Id> {
    template <class T>
    using Handler = void (T::*)(UINT, POINT);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM wParam, LPARAM lParam) {
        (wnd.*handler)(static_cast<UINT>(wParam), PointOf(lParam));
        return 0;
    }
};
using MouseMove = Mouse<WM_MOUSEMOVE>;
using LButtonDown = Mouse<WM_LBUTTONDOWN>;
using LButtonUp = Mouse<WM_LBUTTONUP>;
using LButtonDblClk = Mouse<WM_LBUTTONDBLCLK>;
using RButtonDown = Mouse<WM_RBUTTONDOWN>;
using RButtonUp = Mouse<WM_RBUTTONUP>;

// int OnCreate(LPCREATESTRUCTW): 0 to go on, -1 to fail the creation
struct Create : Range<WM_CREATE> {
    template <class T>
    using Handler = int (T::*)(LPCREATESTRUCTW);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM, LPARAM lParam) {
        return (wnd.*handler)(reinterpret_cast<LPCREATESTRUCTW>(lParam));
    }
};

// BOOL OnEraseBkgnd(HDC): nonzero when the background is taken care of
struct EraseBkgnd : Range<WM_ERASEBKGND> {
    template <class T>
    using Handler = BOOL (T::*)(HDC);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM wParam, LPARAM) {
        return (wnd.*handler)(reinterpret_cast<HDC>(wParam));
    }
};

// void OnSize(UINT type, int cx, int cy)
struct Size : Range<WM_SIZE> {
    template <class T>
    using Handler = void (T::*)(UINT, int, int);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM wParam, LPARAM lParam) {
        (wnd.*handler)(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        return 0;
    }
};

// void OnGetMinMaxInfo(MINMAXINFO*)
struct GetMinMaxInfo : Range<WM_GETMINMAXINFO> {
    template <class T>
    using Handler = void (T::*)(MINMAXINFO*);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM, LPARAM lParam) {
        (wnd.*handler)(reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    }
};

// void OnWindowPosChanged(WINDOWPOS*)
struct WindowPosChanged : Range<WM_WINDOWPOSCHANGED> {
    template <class T>
    using Handler = void (T::*)(WINDOWPOS*);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM, LPARAM lParam) {
        (wnd.*handler)(reinterpret_cast<WINDOWPOS*>(lParam));
        return 0;
    }
};

// void OnShowWindow(BOOL show, UINT status)
struct Show : Range<WM_SHOWWINDOW> {
    template <class T>
    using Handler = void (T::*)(BOOL, UINT);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM wParam, LPARAM lParam) {
        (wnd.*handler)(static_cast<BOOL>(wParam), static_cast<UINT>(lParam));
        return 0;
    }
};

// void OnSetFocus(HWND previous)
struct SetFocus : Range<WM_SETFOCUS> {
    template <class T>
    using Handler = void (T::*)(HWND);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM wParam, LPARAM) {
        (wnd.*handler)(reinterpret_cast<HWND>(wParam));
        return 0;
    }
};

// BOOL OnSetCursor(HWND window, UINT hitTest, UINT mouseMessage): TRUE when the cursor is set
struct SetCursor : Range<WM_SETCURSOR> {
    template <class T>
    using Handler = BOOL (T::*)(HWND, UINT, UINT);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM wParam, LPARAM lParam) {
        return (wnd.*handler)(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam));
    }
};

// void OnCaptureChanged(HWND newCapture)
struct CaptureChanged : Range<WM_CAPTURECHANGED> {
    template <class T>
    using Handler = void (T::*)(HWND);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM, LPARAM lParam) {
        (wnd.*handler)(reinterpret_cast<HWND>(lParam));
        return 0;
    }
};

// void OnDpiChanged(UINT dpi, const RECT* suggested): the window's monitor scale changed; suggested is the
// system's proposal for the window rectangle at the new scale, in screen coordinates
struct DpiChanged : Range<0x02E0> {  // WM_DPICHANGED, which older headers lack
    template <class T>
    using Handler = void (T::*)(UINT, const RECT*);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM wParam, LPARAM lParam) {
        (wnd.*handler)(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    }
};

// HCURSOR OnQueryDragIcon()
struct QueryDragIcon : Range<WM_QUERYDRAGICON> {
    template <class T>
    using Handler = HCURSOR (T::*)();
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM, LPARAM) {
        return reinterpret_cast<LRESULT>((wnd.*handler)());
    }
};

// HBRUSH OnCtlColor(HDC dc, HWND child, UINT type): every WM_CTLCOLOR* a child sends; type is CTLCOLOR_EDIT,
// CTLCOLOR_STATIC and so on.
struct CtlColor : Range<WM_CTLCOLORMSGBOX, WM_CTLCOLORSTATIC> {
    template <class T>
    using Handler = HBRUSH (T::*)(HDC, HWND, UINT);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT message, WPARAM wParam, LPARAM lParam) {
        return reinterpret_cast<LRESULT>(
            (wnd.*handler)(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), message - WM_CTLCOLORMSGBOX));
    }
};

// void OnX(): a button click or menu command with this id
template <UINT Id>
struct Command : Range<WM_COMMAND> {
    static constexpr bool Accepts(UINT, WPARAM wParam, LPARAM) {
        return LOWORD(wParam) == Id && (HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == 1);
    }
    template <class T>
    using Handler = void (T::*)();
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM, LPARAM) {
        (wnd.*handler)();
        return 0;
    }
};

// LRESULT OnX(WPARAM, LPARAM): a message of the program's own
template <UINT Id>
struct Message : Range<Id> {
    template <class T>
    using Handler = LRESULT (T::*)(WPARAM, LPARAM);
    template <class T>
    static LRESULT Call(T& wnd, Handler<T> handler, UINT, WPARAM wParam, LPARAM lParam) {
        return (wnd.*handler)(wParam, lParam);
    }
};

}  // namespace Msg

template <class>
struct MemberOf;
template <class Class, class Function>
struct MemberOf<Function Class::*> {
    using Type = Class;
};

template <class Message, auto Handler>
bool Dispatch(CWnd& wnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    using Window = typename MemberOf<decltype(Handler)>::Type;
    if (!Message::Accepts(message, wParam, lParam)) return false;
    result = Message::Call(static_cast<Window&>(wnd), Handler, message, wParam, lParam);
    return true;
}

template <class Message, auto Handler>
constexpr MessageMapEntry On() {
    using Window = typename MemberOf<decltype(Handler)>::Type;
    static_assert(std::is_same_v<decltype(Handler), typename Message::template Handler<Window>>,
                  "the handler's signature does not match the message");
    return MessageMapEntry{Message::kFirst, Message::kLast, &Dispatch<Message, Handler>};
}

}  // namespace Framework

// The map's two halves in a class: the table (static, named by derived classes' tables as their base) and the
// virtual accessor the dispatcher calls. What follows the macro in the class is protected.
#define DECLARE_MESSAGE_MAP()                                      \
protected:                                                         \
    static const ::Framework::MessageMap* GetThisMessageMap();     \
    const ::Framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

// The table of theClass, whose rows are chained to baseClass's table; rows go between the two macros.
#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                        \
    const ::Framework::MessageMap* theClass::GetThisMessageMap() {                                    \
        static_assert(std::is_base_of_v<baseClass, theClass> && !std::is_same_v<baseClass, theClass>, \
                      "the base of a message map must be the class's base class");                   \
        static_assert(std::is_same_v<decltype(&theClass::GetMessageMap),                              \
                                     const ::Framework::MessageMap* (theClass::*)() const>,           \
                      "the class must declare its map with DECLARE_MESSAGE_MAP()");                   \
        using TheBaseClass = baseClass;                                                               \
        namespace Msg = ::Framework::Msg;                                                             \
        using ::Framework::On;                                                                        \
        static constexpr ::Framework::MessageMapEntry kEntries[] = {
#define END_MESSAGE_MAP()                                                                   \
        };                                                                                  \
        static constexpr ::Framework::MessageMap kMap{&TheBaseClass::GetThisMessageMap, kEntries}; \
        return &kMap;                                                                       \
    }

// The one MFC-style alias: ON_MESSAGE(UM_X, &CMyDialog::OnX) for a message of the program's own.
#define ON_MESSAGE(message, handler) ::Framework::On<::Framework::Msg::Message<(message)>, handler>()
