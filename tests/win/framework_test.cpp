// The framework layer with real windows: message maps, binding at creation, the modal loop, the
// application object, message boxes, images and GDI owners.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "framework/app.h"
#include "framework/dialog.h"
#include "framework/edit.h"
#include "framework/gdi.h"
#include "framework/image.h"
#include "report/message_display.h"
#include "window_test_support.h"

namespace {

using WindowTest::DialogTemplate;

// Copying an owner of a GDI object must not compile.
static_assert(!std::is_copy_constructible_v<CRgn> && !std::is_copy_assignable_v<CRgn>);
static_assert(!std::is_copy_constructible_v<CFont> && !std::is_copy_assignable_v<CFont>);
static_assert(!std::is_copy_constructible_v<CBrush> && !std::is_copy_assignable_v<CBrush>);
static_assert(!std::is_copy_constructible_v<CImage>);
static_assert(std::is_convertible_v<const CImage&, CImageView>, "an owner can always be viewed");

constexpr UINT UM_FIRST = WM_APP + 1;
constexpr UINT UM_SECOND = WM_APP + 2;
constexpr UINT UM_UNMAPPED = WM_APP + 3;
constexpr UINT UM_THROW = WM_APP + 4;

// ---- message maps --------------------------------------------------------------------------------------

class BaseWindow : public CWnd {
public:
    std::vector<UINT> seen;  // the messages of creation, in order

protected:
    DECLARE_MESSAGE_MAP()

    LRESULT OnFirst(WPARAM, LPARAM) { return 1; }
    LRESULT OnSecond(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam + lParam); }
    LRESULT Record(WPARAM, LPARAM) {
        seen.push_back(lastMessage);
        return Default();
    }
    int OnCreate(LPCREATESTRUCTW) {
        seen.push_back(WM_CREATE);
        return static_cast<int>(Default());
    }
    // Both recorded messages share one handler, which needs to know which one it got.
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        lastMessage = message;
        return CWnd::WindowProc(message, wParam, lParam);
    }
    UINT lastMessage = 0;
};

BEGIN_MESSAGE_MAP(BaseWindow, CWnd)
    On<Msg::Message<UM_FIRST>, &BaseWindow::OnFirst>(),
    On<Msg::Message<UM_SECOND>, &BaseWindow::OnSecond>(),
    On<Msg::Message<WM_GETMINMAXINFO>, &BaseWindow::Record>(),
    On<Msg::Message<WM_NCCREATE>, &BaseWindow::Record>(),
    On<Msg::Create, &BaseWindow::OnCreate>(),
END_MESSAGE_MAP()

class DerivedWindow : public BaseWindow {
protected:
    DECLARE_MESSAGE_MAP()

    LRESULT OnFirstAgain(WPARAM, LPARAM) { return 10; }
    LRESULT OnThrow(WPARAM, LPARAM) { throw std::runtime_error("handler failed"); }
};

BEGIN_MESSAGE_MAP(DerivedWindow, BaseWindow)
    ON_MESSAGE(UM_FIRST, &DerivedWindow::OnFirstAgain),
    ON_MESSAGE(UM_THROW, &DerivedWindow::OnThrow),
END_MESSAGE_MAP()

struct DispatchCase {
    const char* label;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT expected;
};

std::ostream& operator<<(std::ostream& os, const DispatchCase& c) { return os << c.label; }

class MessageMapDispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(MessageMapDispatch, FindsTheMostDerivedRowOrDefaultProcessing) {
    DerivedWindow wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, L"maps", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr));
    const DispatchCase& c = GetParam();
    EXPECT_EQ(wnd.SendMessage(c.message, c.wParam, c.lParam), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageMapDispatch,
    ::testing::Values(DispatchCase{"derived_row_shadows_base_row", UM_FIRST, 0, 0, 10},
                      DispatchCase{"base_row_reached_through_chain", UM_SECOND, 3, 4, 7},
                      DispatchCase{"unmapped_gets_default_processing", UM_UNMAPPED, 1, 1, 0},
                      DispatchCase{"exception_stops_at_the_window_procedure", UM_THROW, 0, 0, 0}),
    [](const ::testing::TestParamInfo<DispatchCase>& info) { return std::string(info.param.label); });

TEST(WindowBinding, ObjectSeesTheFirstMessagesAndIsReleasedWithTheWindow) {
    BaseWindow wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, L"bind", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr));
    ASSERT_GE(wnd.seen.size(), 2u);
    // A top-level window's first message is WM_GETMINMAXINFO; WM_NCCREATE and WM_CREATE follow.
    EXPECT_EQ(wnd.seen.front(), static_cast<UINT>(WM_GETMINMAXINFO));
    EXPECT_NE(std::find(wnd.seen.begin(), wnd.seen.end(), static_cast<UINT>(WM_NCCREATE)), wnd.seen.end());
    EXPECT_EQ(wnd.seen.back(), static_cast<UINT>(WM_CREATE));
    HWND hwnd = wnd.m_hWnd;
    EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), &wnd);
    EXPECT_FALSE(wnd.CreateEx(0, nullptr, L"again", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr));  // bound once
    ASSERT_TRUE(wnd.DestroyWindow());
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_FALSE(::IsWindow(hwnd));
}

// ---- dialogs -------------------------------------------------------------------------------------------

constexpr UINT UM_FINISH = WM_APP + 20;
constexpr int kEditId = 500;

// Creates a child edit in OnCreate, then in OnInitDialog queues what the test asks for.
class ProbeDialog : public CDialog {
public:
    std::vector<std::string> events;
    struct Key {
        int controlId;  // of the window the key was for
        WPARAM key;
    };
    std::vector<Key> keysSeen;  // what PreTranslateMessage saw of WM_KEYDOWN
    bool swallowEscape = false;
    bool finishOnInit = true;
    bool failCreate = false;
    struct Post {
        bool toDialog;  // else to the child edit
        UINT message;
        WPARAM wParam;
    };
    std::vector<Post> toPost;
    CEdit edit;

    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_KEYDOWN) keysSeen.push_back({::GetDlgCtrlID(msg->hwnd), msg->wParam});
        if (swallowEscape && msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) return TRUE;
        return CDialog::PreTranslateMessage(msg);
    }

    BOOL OnInitDialog() override {
        events.push_back("init");
        for (const Post& p : toPost) ::PostMessageW(p.toDialog ? m_hWnd : edit.m_hWnd, p.message, p.wParam, 0);
        if (finishOnInit) PostMessage(UM_FINISH);
        SetTimer(m_hWnd, 1, 5000, nullptr);  // a dialog that never ends fails the test instead of hanging it
        return CDialog::OnInitDialog();
    }

protected:
    DECLARE_MESSAGE_MAP()

    int OnCreate(LPCREATESTRUCTW) {
        events.push_back("create");
        if (Default() == -1 || failCreate) return -1;
        return edit.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP, RECT{5, 5, 100, 25}, this, kEditId) ? 0 : -1;
    }
    LRESULT OnTimeout(WPARAM, LPARAM) {
        EndDialog(-2);
        return 0;
    }
    LRESULT OnFinish(WPARAM, LPARAM) {
        events.push_back("finish");
        EndDialog(77);
        return 0;
    }
};

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
    On<Msg::Create, &ProbeDialog::OnCreate>(),
    ON_MESSAGE(UM_FINISH, &ProbeDialog::OnFinish),
    ON_MESSAGE(WM_TIMER, &ProbeDialog::OnTimeout),
END_MESSAGE_MAP()

const DialogTemplate& PopupTemplate() {
    static const DialogTemplate tmpl(WS_POPUP | WS_VISIBLE, 120, 60, L"probe");
    return tmpl;
}

struct ModalCase {
    const char* label;
    bool swallowEscape;
    WPARAM key;           // a WM_KEYDOWN posted to the child edit; 0 for none
    bool closeRequest;    // a WM_CLOSE posted to the dialog
    INT_PTR expected;
};

std::ostream& operator<<(std::ostream& os, const ModalCase& c) { return os << c.label; }

class ModalLoop : public ::testing::TestWithParam<ModalCase> {};

TEST_P(ModalLoop, PreTranslatesKeysOfChildrenBeforeDialogNavigation) {
    const ModalCase& c = GetParam();
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.InitModalIndirect(PopupTemplate().get()));
    dialog.swallowEscape = c.swallowEscape;
    dialog.finishOnInit = !c.closeRequest;
    if (c.closeRequest) dialog.toPost.push_back({true, WM_CLOSE, 0});
    if (c.key) dialog.toPost.push_back({false, WM_KEYDOWN, c.key});
    const INT_PTR result = dialog.DoModal();

    EXPECT_EQ(result, c.expected);
    ASSERT_GE(dialog.events.size(), 2u);
    EXPECT_EQ(dialog.events[0], "create");
    EXPECT_EQ(dialog.events[1], "init");
    if (c.key) {
        ASSERT_FALSE(dialog.keysSeen.empty());
        EXPECT_EQ(dialog.keysSeen.front().key, c.key);
        EXPECT_EQ(dialog.keysSeen.front().controlId, kEditId) << "the key was for the child edit";
    }
    EXPECT_EQ(dialog.m_hWnd, nullptr) << "DoModal destroys the window";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModalLoop,
    ::testing::Values(ModalCase{"escape_swallowed_dialog_stays", true, VK_ESCAPE, false, 77},
                      ModalCase{"escape_passed_on_cancels", false, VK_ESCAPE, false, IDCANCEL},
                      ModalCase{"return_passed_on_confirms", false, VK_RETURN, false, IDOK},
                      ModalCase{"letter_passes_through", true, 'A', false, 77},
                      ModalCase{"close_request_cancels", false, 0, true, IDCANCEL}),
    [](const ::testing::TestParamInfo<ModalCase>& info) { return std::string(info.param.label); });

TEST(ModalLoopText, CharactersReachTheChildEdit) {
    class TextDialog : public ProbeDialog {
        LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
            if (message == UM_FINISH) edit.GetWindowText(text);
            return ProbeDialog::WindowProc(message, wParam, lParam);
        }

    public:
        std::wstring text;
    } dialog;
    ASSERT_TRUE(dialog.InitModalIndirect(PopupTemplate().get()));
    dialog.toPost = {{false, WM_CHAR, L'o'}, {false, WM_CHAR, L'k'}};
    EXPECT_EQ(dialog.DoModal(), 77);
    EXPECT_EQ(dialog.text, L"ok");
}

TEST(ModalLoopFailure, FailedCreationEndsAtOnceWithoutInitialisation) {
    ProbeDialog dialog;
    dialog.failCreate = true;
    ASSERT_TRUE(dialog.InitModalIndirect(PopupTemplate().get()));
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(dialog.events, std::vector<std::string>{"create"});
    CDialog missing(54321);
    EXPECT_EQ(missing.DoModal(), -1);  // no such template
}

// ---- application object ----------------------------------------------------------------------------------

class TestApp : public CWinApp {
public:
    explicit TestApp(BOOL init) : CWinApp(L"TestApp"), init_(init) {}
    BOOL InitInstance() override {
        CWinApp::InitInstance();
        SetRegistryKey(L"应用程序向导生成的本地应用程序");
        ++initCalls;
        if (init_) ::PostQuitMessage(0);
        return init_;
    }
    int ExitInstance() override { return 40 + initCalls; }
    int initCalls = 0;

private:
    BOOL init_;
};

TEST(Application, EntryRunsInitInstanceAndReturnsExitInstance) {
    for (BOOL init : {FALSE, TRUE}) {
        SCOPED_TRACE(init ? "InitInstance TRUE: pump until quit" : "InitInstance FALSE: no pump");
        TestApp app(init);
        ASSERT_EQ(AfxGetApp(), &app);
        EXPECT_EQ(AfxWinMain(::GetModuleHandleW(nullptr), SW_SHOW), 41);
        EXPECT_EQ(app.initCalls, 1);
        EXPECT_STREQ(app.m_pszRegistryKey, L"应用程序向导生成的本地应用程序");
    }
    EXPECT_EQ(AfxGetApp(), nullptr);
}

TEST(Application, MainWindowPointerClearedWhenTheWindowGoes) {
    TestApp app(FALSE);
    CWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, L"main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    app.m_pMainWnd = &wnd;
    wnd.DestroyWindow();
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}

// ---- message boxes -------------------------------------------------------------------------------------

struct BoxSeen {
    std::wstring caption;
    bool hasOk = false, hasCancel = false, exclamation = false;
};

// Watches for the box from another thread, reads it and presses OK.
BoxSeen ShowAndAnswer(const std::function<void()>& show) {
    BoxSeen seen;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        const HICON exclamation = ::LoadIconW(nullptr, IDI_EXCLAMATION);
        for (int i = 0; i < 500 && !done; ++i) {
            HWND box = ::FindWindowW(L"#32770", nullptr);
            if (box && ::GetWindowThreadProcessId(box, nullptr) != ::GetCurrentThreadId()) {
                wchar_t caption[128] = {};
                ::GetWindowTextW(box, caption, 128);
                seen.caption = caption;
                seen.hasOk = ::GetDlgItem(box, IDOK) != nullptr;
                seen.hasCancel = ::GetDlgItem(box, IDCANCEL) != nullptr;
                for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
                    if (reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0)) == exclamation) {
                        seen.exclamation = true;
                    }
                }
                ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            ::Sleep(10);
        }
    });
    show();
    done = true;
    watcher.join();
    return seen;
}

TEST(MessageBoxes, OkOnlyWithExclamationCaptionedWithTheProgramName) {
    int result = 0;
    const BoxSeen framework = ShowAndAnswer([&] { result = AfxMessageBox(L"账号不能为空"); });
    EXPECT_EQ(result, IDOK);
    const BoxSeen display = ShowAndAnswer([] { MessageBoxDisplay().ShowMessage(u"两次输入的账号不一致"); });
    for (const BoxSeen& seen : {framework, display}) {
        EXPECT_EQ(seen.caption, L"win_tests");
        EXPECT_TRUE(seen.hasOk);
        EXPECT_FALSE(seen.hasCancel);
        EXPECT_TRUE(seen.exclamation);
    }
}

// ---- images and GDI owners -------------------------------------------------------------------------------

TEST(Image, BufferIsBottomUpWithTheTopRowFirstThroughBits) {
    CImage image;
    ASSERT_TRUE(image.Create(3, 2, 32));
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_EQ(image.GetBPP(), 32);
    EXPECT_EQ(image.GetPitch(), -12);
    auto* top = static_cast<BYTE*>(image.GetBits());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top[0], 0) << "a new buffer is black";
    top[2] = 200;                       // red of (0, 0)
    top[image.GetPitch() + 4 + 1] = 90;  // green of (1, 1)
    HDC dc = image.GetDC();
    EXPECT_EQ(::GetPixel(dc, 0, 0), RGB(200, 0, 0));
    EXPECT_EQ(::GetPixel(dc, 1, 1), RGB(0, 90, 0));
    image.ReleaseDC();
}

TEST(Image, DCCallsNestAndTheLastReleaseFreesIt) {
    CImage image;
    ASSERT_TRUE(image.Create(4, 4, 32));
    HDC first = image.GetDC();
    HDC second = image.GetDC();
    EXPECT_EQ(first, second);
    image.ReleaseDC();
    EXPECT_EQ(::GetCurrentObject(first, OBJ_BITMAP), static_cast<HGDIOBJ>(static_cast<HBITMAP>(image)));
    image.ReleaseDC();
    EXPECT_EQ(::GetObjectType(first), 0u) << "the DC is gone with the last release";
}

TEST(Image, DrawStretchesTheSourceRectangle) {
    CImage source, target;
    ASSERT_TRUE(source.Create(2, 1, 32));
    ASSERT_TRUE(target.Create(8, 4, 32));
    HDC dc = source.GetDC();
    ::SetPixel(dc, 1, 0, RGB(10, 20, 30));
    source.ReleaseDC();
    HDC to = target.GetDC();
    EXPECT_TRUE(source.Draw(to, 2, 1, 4, 2, 1, 0, 1, 1));
    EXPECT_EQ(::GetPixel(to, 2, 1), RGB(10, 20, 30));
    EXPECT_EQ(::GetPixel(to, 5, 2), RGB(10, 20, 30));
    EXPECT_EQ(::GetPixel(to, 6, 2), RGB(0, 0, 0));
    EXPECT_EQ(::GetPixel(to, 1, 1), RGB(0, 0, 0));
    target.ReleaseDC();
}

TEST(Image, OwnedBitmapsAreDeletedViewedOnesAreNot) {
    HBITMAP owned;
    {
        CImage image;
        ASSERT_TRUE(image.Create(2, 2, 32));
        owned = image;
        {
            CImageView view(image);
            EXPECT_EQ(view.GetWidth(), 2);
            EXPECT_NE(view.GetDC(), nullptr);  // a view may leave its DC out: it goes with the view
        }
        EXPECT_EQ(::GetObjectType(owned), static_cast<DWORD>(OBJ_BITMAP)) << "a view leaves the bitmap alone";
        CImage moved(std::move(image));
        EXPECT_TRUE(image.IsNull());
        EXPECT_EQ(static_cast<HBITMAP>(moved), owned);
    }
    EXPECT_EQ(::GetObjectType(owned), 0u) << "the owner deletes it";
    CImage empty;
    EXPECT_FALSE(empty.Create(0, 5, 32));
    EXPECT_TRUE(empty.IsNull());
    EXPECT_EQ(empty.GetDC(), nullptr);
}

TEST(GdiOwners, MovingHandsOverTheObjectAndDestructionDeletesIt) {
    HRGN handle;
    {
        CRgn first;
        ASSERT_TRUE(first.CreateRectRgn(0, 0, 5, 5));
        handle = first;
        CRgn second(std::move(first));
        EXPECT_EQ(first.GetSafeHandle(), nullptr);
        EXPECT_EQ(second.GetSafeHandle(), handle);
        CBrush brush;
        ASSERT_TRUE(brush.CreateSolidBrush(RGB(1, 2, 3)));
        HBRUSH oldBrush = brush;
        ASSERT_TRUE(brush.CreateSolidBrush(RGB(4, 5, 6)));  // remaking deletes the old object
        EXPECT_EQ(::GetObjectType(oldBrush), 0u);
    }
    EXPECT_EQ(::GetObjectType(handle), 0u);
    CRgn detached;
    detached.CreateRectRgn(0, 0, 1, 1);
    HRGN kept = detached.Detach();
    EXPECT_EQ(::GetObjectType(kept), static_cast<DWORD>(OBJ_REGION));
    ::DeleteObject(kept);
}

}  // namespace
