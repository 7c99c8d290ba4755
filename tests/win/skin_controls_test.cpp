// The image button and the styled edit box as real windows under a host window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "skin/comm_edit_ex.h"
#include "skin/comm_img_button.h"
#include "window_test_support.h"

namespace {

using WindowTest::ChildRect;
using WindowTest::HostWindow;
using WindowTest::Pump;
using WindowTest::TakePosted;

constexpr UINT UM_CLICKED = WM_USER + 101;

// ---- image button ----------------------------------------------------------------------------------------

class Button : public CCommImgButton {
public:
    void ForceState(int state) { m_nState = state; }
};

class ImageButton : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(host.m_hWnd, nullptr);
        ASSERT_TRUE(button.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  RECT{0, 0, 0, 0}, &host, 102));
        ASSERT_TRUE(strip.Create(126, 108, 32));
        ASSERT_TRUE(button.SetImage(strip));
        button.SetNotify(host.m_hWnd, UM_CLICKED);
        TakePosted(host.m_hWnd, UM_CLICKED);
    }

    // Delivered through the queue and the window procedure, as the system delivers mouse input.
    void Mouse(UINT message, int x, int y) {
        ::PostMessageW(button.m_hWnd, message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0, MAKELPARAM(x, y));
        MSG msg;
        while (::PeekMessageW(&msg, button.m_hWnd, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }

    HostWindow host;
    Button button;
    CImage strip;
};

SIZE ClientSize(HWND hwnd) {
    RECT r{};
    ::GetClientRect(hwnd, &r);
    return SIZE{r.right, r.bottom};
}

TEST_F(ImageButton, SizesItselfToOneCellOfTheStrip) {
    struct StripCase {
        int width, height;
        SIZE expected;
    };
    for (const StripCase& c : {StripCase{126, 108, {126, 27}}, StripCase{20, 80, {20, 20}}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        CImage other;
        ASSERT_TRUE(other.Create(c.width, c.height, 32));
        EXPECT_TRUE(button.SetImage(other));
        const SIZE size = ClientSize(button.m_hWnd);
        EXPECT_EQ(size.cx, c.expected.cx);
        EXPECT_EQ(size.cy, c.expected.cy);
        button.SetImage(strip);  // the button must not refer to a strip that goes away
    }
}

TEST_F(ImageButton, EmptyImageIsRefusedAndTheSizeKept) {
    CImage empty;
    EXPECT_FALSE(button.SetImage(empty));
    const SIZE size = ClientSize(button.m_hWnd);
    EXPECT_EQ(size.cx, 126);
    EXPECT_EQ(size.cy, 27);
}

TEST_F(ImageButton, WhitePixelsOfTheNormalCellAreCutOut) {
    // A white top-left pixel in the normal cell; the hover cell below is plain.
    CImage cornered;
    ASSERT_TRUE(cornered.Create(20, 80, 32));
    HDC dc = cornered.GetDC();
    FillSolidRect(dc, RECT{0, 0, 20, 80}, RGB(0, 128, 128));
    ::SetPixel(dc, 0, 0, RGB(255, 255, 255));
    ::SetPixel(dc, 5, 25, RGB(255, 255, 255));  // in the hover cell: no effect on the shape
    cornered.ReleaseDC();
    button.SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(button.SetImage(cornered));
    CRgn shape;
    shape.CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(button.m_hWnd, shape), ERROR);
    EXPECT_FALSE(::PtInRegion(shape, 0, 0));
    EXPECT_TRUE(::PtInRegion(shape, 1, 0));
    EXPECT_TRUE(::PtInRegion(shape, 5, 5));
    EXPECT_TRUE(::PtInRegion(shape, 19, 19));
    button.SetImage(strip);
}

struct ClickCase {
    const char* label;
    bool press;
    POINT release;
    int notifications;
    int finalState;
};

std::ostream& operator<<(std::ostream& os, const ClickCase& c) { return os << c.label; }

class ImageButtonClick : public ImageButton, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(ImageButtonClick, PostsOneNotificationOnlyForAPressAndReleaseInside) {
    const ClickCase& c = GetParam();
    if (c.press) {
        Mouse(WM_LBUTTONDOWN, 60, 13);
        EXPECT_EQ(button.GetState(), CCommImgButton::STATE_PRESSED);
        EXPECT_EQ(::GetCapture(), button.m_hWnd);
    }
    Mouse(WM_LBUTTONUP, c.release.x, c.release.y);
    const std::vector<MSG> posted = TakePosted(host.m_hWnd, UM_CLICKED);
    ASSERT_EQ(static_cast<int>(posted.size()), c.notifications);
    for (const MSG& m : posted) {
        EXPECT_EQ(m.wParam, 0u);
        EXPECT_EQ(m.lParam, 0);
    }
    EXPECT_EQ(button.GetState(), c.finalState);
    EXPECT_NE(::GetCapture(), button.m_hWnd);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImageButtonClick,
    ::testing::Values(ClickCase{"press_release_inside", true, {60, 13}, 1, CCommImgButton::STATE_HOVER},
                      ClickCase{"release_at_last_pixel", true, {125, 26}, 1, CCommImgButton::STATE_HOVER},
                      ClickCase{"release_outside_right", true, {126, 13}, 0, CCommImgButton::STATE_NORMAL},
                      ClickCase{"release_outside_above", true, {60, -3}, 0, CCommImgButton::STATE_NORMAL},
                      ClickCase{"release_without_press", false, {60, 13}, 0, CCommImgButton::STATE_HOVER}),
    [](const ::testing::TestParamInfo<ClickCase>& info) { return std::string(info.param.label); });

TEST_F(ImageButton, LeavingBetweenPressAndReleaseCancelsTheClick) {
    Mouse(WM_LBUTTONDOWN, 60, 13);
    ::SendMessageW(button.m_hWnd, WM_MOUSELEAVE, 0, 0);
    Mouse(WM_LBUTTONUP, 60, 13);
    EXPECT_TRUE(TakePosted(host.m_hWnd, UM_CLICKED).empty());
}

TEST_F(ImageButton, DisabledIgnoresPressAndRelease) {
    button.ForceState(CCommImgButton::STATE_DISABLED);
    Mouse(WM_LBUTTONDOWN, 60, 13);
    Mouse(WM_LBUTTONUP, 60, 13);
    EXPECT_TRUE(TakePosted(host.m_hWnd, UM_CLICKED).empty());
    EXPECT_EQ(button.GetState(), CCommImgButton::STATE_DISABLED);
}

TEST_F(ImageButton, SetNotifyWithANonWindowKeepsTheTarget) {
    CWnd gone;
    ASSERT_TRUE(gone.CreateEx(0, nullptr, L"gone", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr));
    HWND stale = gone.m_hWnd;
    gone.DestroyWindow();
    button.SetNotify(stale, UM_CLICKED + 1);
    button.SetNotify(nullptr, UM_CLICKED + 2);
    Mouse(WM_LBUTTONDOWN, 10, 10);
    Mouse(WM_LBUTTONUP, 10, 10);
    EXPECT_EQ(TakePosted(host.m_hWnd, UM_CLICKED).size(), 1u);
    EXPECT_TRUE(TakePosted(host.m_hWnd, UM_CLICKED + 1).empty());
    EXPECT_TRUE(TakePosted(host.m_hWnd, UM_CLICKED + 2).empty());
}

// ---- styled edit box -------------------------------------------------------------------------------------

class StyledEdit : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(box.CreateFramed(nullptr, nullptr, WS_CHILD | WS_VISIBLE, WS_VISIBLE | ES_AUTOHSCROLL,
                                     RECT{0, 0, 0, 0}, &host, 103, 103));
    }
    HostWindow host;
    CCommEditEx box;
};

struct GeometryCase {
    const char* label;
    int border, editHeight, width, height;
    RECT expected;  // the inner edit in the frame's client coordinates
};

std::ostream& operator<<(std::ostream& os, const GeometryCase& c) { return os << c.label; }

class StyledEditGeometry : public StyledEdit, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(StyledEditGeometry, InnerEditFollowsARealResize) {
    const GeometryCase& c = GetParam();
    box.m_nBorderWidth = c.border;
    box.m_nEditHeight = c.editHeight;
    box.SetWindowPos(nullptr, 98, 73, c.width, c.height, SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT inner = ChildRect(box.m_edit.m_hWnd);
    EXPECT_TRUE(::EqualRect(&inner, &c.expected))
        << "got (" << inner.left << "," << inner.top << ")-(" << inner.right << "," << inner.bottom << ")";
}

INSTANTIATE_TEST_SUITE_P(Table, StyledEditGeometry,
                         ::testing::Values(GeometryCase{"check_dialog_values", 0, 18, 124, 20, {0, 1, 124, 19}},
                                           GeometryCase{"initial_values", 1, 12, 124, 20, {1, 4, 123, 16}},
                                           GeometryCase{"odd_height_rounds_down", 0, 18, 124, 21, {0, 1, 124, 19}}),
                         [](const ::testing::TestParamInfo<GeometryCase>& info) {
                             return std::string(info.param.label);
                         });

TEST_F(StyledEdit, MovingWithoutResizingLeavesTheInnerEdit) {
    box.m_nBorderWidth = 0;
    box.m_nEditHeight = 18;
    box.SetWindowPos(nullptr, 98, 73, 124, 20, SWP_NOZORDER | SWP_NOACTIVATE);
    box.m_nBorderWidth = 5;  // would move the edit if the layout ran again
    box.SetWindowPos(nullptr, 98, 108, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT inner = ChildRect(box.m_edit.m_hWnd);
    const RECT expected{0, 1, 124, 19};
    EXPECT_TRUE(::EqualRect(&inner, &expected));
    box.SetWindowPos(nullptr, 0, 0, 124, 21, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(ChildRect(box.m_edit.m_hWnd).left, 5) << "a resize lays it out again";
}

TEST_F(StyledEdit, LimitRefusesThe65thCharacter) {
    for (int limit : {0, 64}) {
        SCOPED_TRACE(limit ? "limited to 64" : "unlimited");
        box.m_edit.SetWindowText(L"");
        if (limit) box.LimitEditText(limit);
        for (int i = 0; i < 65; ++i) ::SendMessageW(box.m_edit.m_hWnd, WM_CHAR, L'a' + i % 26, 1);
        EXPECT_EQ(box.m_edit.GetWindowTextLength(), limit ? 64 : 65);
    }
}

COLORREF BrushColor(HBRUSH brush) {
    LOGBRUSH info{};
    ::GetObjectW(brush, sizeof info, &info);
    return info.lbColor;
}

TEST_F(StyledEdit, ColoursTheInnerEditThroughEveryColourRequest) {
    box.SetBackColor(RGB(42, 43, 42));
    box.m_clrText = RGB(217, 217, 217);
    CEdit stranger;  // another child of the frame, with another id
    ASSERT_TRUE(stranger.Create(WS_CHILD, RECT{0, 0, 10, 10}, &box, 999));
    HDC dc = ::GetDC(box.m_hWnd);
    for (UINT message : {WM_CTLCOLOREDIT, WM_CTLCOLORSTATIC}) {
        SCOPED_TRACE(message == WM_CTLCOLOREDIT ? "edit" : "static (read-only or disabled)");
        ::SetBkColor(dc, RGB(1, 1, 1));
        ::SetTextColor(dc, RGB(2, 2, 2));
        const auto brush = reinterpret_cast<HBRUSH>(
            ::SendMessageW(box.m_hWnd, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(box.m_edit.m_hWnd)));
        EXPECT_EQ(brush, box.m_brBack.GetSafeHandle());
        EXPECT_EQ(BrushColor(brush), RGB(42, 43, 42));
        EXPECT_EQ(::GetBkColor(dc), RGB(42, 43, 42));
        EXPECT_EQ(::GetTextColor(dc), RGB(217, 217, 217));

        const auto other = reinterpret_cast<HBRUSH>(
            ::SendMessageW(box.m_hWnd, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(stranger.m_hWnd)));
        EXPECT_NE(other, box.m_brBack.GetSafeHandle()) << "another child gets the default colours";
        EXPECT_NE(::GetBkColor(dc), RGB(42, 43, 42));
        EXPECT_NE(::GetTextColor(dc), RGB(217, 217, 217));
    }
    ::ReleaseDC(box.m_hWnd, dc);
}

TEST_F(StyledEdit, EnableBothSwitchesFrameAndEditTogether) {
    EXPECT_TRUE(box.EnableBoth(FALSE));
    EXPECT_FALSE(box.IsWindowEnabled());
    EXPECT_FALSE(box.m_edit.IsWindowEnabled());
    EXPECT_TRUE(box.EnableBoth(TRUE));
    EXPECT_TRUE(box.IsWindowEnabled());
    EXPECT_TRUE(box.m_edit.IsWindowEnabled());
}

TEST(StyledEditCreation, WithoutAParentWindowNothingIsCreated) {
    CWnd noWindow;
    CCommEditEx box;
    EXPECT_FALSE(box.CreateFramed(nullptr, nullptr, WS_CHILD, WS_VISIBLE, RECT{0, 0, 5, 5}, &noWindow, 1, 1));
    EXPECT_EQ(box.m_edit.m_hWnd, nullptr);
}

}  // namespace
