// The shaped dialog base as a real modeless dialog: buffer, window region, drag band, maximising.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "framework/gdi.h"
#include "skin/rgn_dialog.h"
#include "window_test_support.h"

namespace {

using WindowTest::DialogTemplate;
using WindowTest::TakePosted;

// Paints a grey face with an optional magenta hole.
class FaceDialog : public CRgnDialog {
public:
    RECT hole{0, 0, 0, 0};
    int draws = 0;

    int bufferWidth() const { return m_nBufferWidth; }
    int bufferHeight() const { return m_nBufferHeight; }
    bool tracking() const { return m_bTrackingMouse; }
    void SetBand(int height) { m_nCaptionHeight = height; }
    void SetDoubleClickMaximize(bool on) { m_bDblClkMaximize = on; }

protected:
    void DrawContent(HDC dc) override {
        ++draws;
        RECT client{};
        GetClientRect(&client);
        FillSolidRect(dc, client, RGB(60, 70, 80));
        FillSolidRect(dc, hole, RGB(255, 0, 255));
    }
};

class ShapedDialog : public ::testing::Test {
protected:
    void SetUp() override {
        static const DialogTemplate tmpl(WS_POPUP | WS_VISIBLE, 100, 60);
        ASSERT_TRUE(dialog.CreateIndirect(tmpl.get()));
        dialog.SetBand(30);
        Resize(200, 150);
    }
    void TearDown() override { dialog.DestroyWindow(); }

    void Resize(int width, int height) {
        dialog.SetWindowPos(nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void Press(UINT message, int x, int y) { dialog.SendMessage(message, MK_LBUTTON, MAKELPARAM(x, y)); }

    FaceDialog dialog;
};

TEST_F(ShapedDialog, BufferGrowsAndNeverShrinks) {
    struct Step {
        int width, height, bufferWidth, bufferHeight;
    };
    for (const Step& s : {Step{200, 150, 200, 150}, Step{100, 300, 200, 300}, Step{50, 50, 200, 300},
                          Step{250, 100, 250, 300}}) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
        Resize(s.width, s.height);
        EXPECT_EQ(dialog.bufferWidth(), s.bufferWidth);
        EXPECT_EQ(dialog.bufferHeight(), s.bufferHeight);
    }
}

TEST_F(ShapedDialog, RegionIsRebuiltFromTheFaceOnEveryResize) {
    dialog.hole = RECT{10, 10, 20, 20};
    Resize(201, 150);
    CRgn shape;
    shape.CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(dialog.m_hWnd, shape), ERROR);
    EXPECT_EQ(WindowTest::Describe(WindowTest::RegionRects(shape)),
              "(0,0)-(201,10) (0,10)-(10,20) (20,10)-(201,20) (0,20)-(201,150) ");

    dialog.hole = RECT{30, 30, 40, 40};
    Resize(150, 120);  // smaller: the buffer stays, the region is still rebuilt
    ASSERT_NE(::GetWindowRgn(dialog.m_hWnd, shape), ERROR);
    EXPECT_TRUE(::PtInRegion(shape, 15, 15)) << "the old hole is painted over";
    EXPECT_FALSE(::PtInRegion(shape, 35, 35)) << "the new hole is cut out";
    EXPECT_TRUE(::PtInRegion(shape, 149, 119));
}

TEST_F(ShapedDialog, FaceWithoutMagentaGivesARectangularWindow) {
    CRgn shape;
    shape.CreateRectRgn(0, 0, 0, 0);
    ASSERT_EQ(::GetWindowRgn(dialog.m_hWnd, shape), SIMPLEREGION);
    RECT box{};
    ::GetRgnBox(shape, &box);
    const RECT expected{0, 0, 200, 150};
    EXPECT_TRUE(::EqualRect(&box, &expected));
}

struct BandCase {
    const char* label;
    int y;
    bool drags;
};

std::ostream& operator<<(std::ostream& os, const BandCase& c) { return os << c.label; }

class ShapedDialogBand : public ShapedDialog, public ::testing::WithParamInterface<BandCase> {};

TEST_P(ShapedDialogBand, PressInTheBandStartsTheSystemMove) {
    TakePosted(dialog.m_hWnd, WM_NCLBUTTONDOWN);
    Press(WM_LBUTTONDOWN, 50, GetParam().y);
    const std::vector<MSG> posted = TakePosted(dialog.m_hWnd, WM_NCLBUTTONDOWN);
    ASSERT_EQ(posted.size(), GetParam().drags ? 1u : 0u);
    if (posted.empty()) return;
    EXPECT_EQ(posted[0].wParam, static_cast<WPARAM>(HTCAPTION));
    POINT screen{50, GetParam().y};
    dialog.ClientToScreen(&screen);
    EXPECT_EQ(posted[0].lParam, MAKELPARAM(screen.x, screen.y));
}

INSTANTIATE_TEST_SUITE_P(Table, ShapedDialogBand,
                         ::testing::Values(BandCase{"top_row", 0, true}, BandCase{"at_band_height", 30, true},
                                           BandCase{"one_pixel_lower", 31, false},
                                           BandCase{"far_below", 140, false}),
                         [](const ::testing::TestParamInfo<BandCase>& info) { return std::string(info.param.label); });

TEST_F(ShapedDialog, NoDragWhileMaximised) {
    dialog.ShowWindow(SW_MAXIMIZE);
    ASSERT_TRUE(::IsZoomed(dialog.m_hWnd));
    TakePosted(dialog.m_hWnd, WM_NCLBUTTONDOWN);
    Press(WM_LBUTTONDOWN, 50, 5);
    EXPECT_TRUE(TakePosted(dialog.m_hWnd, WM_NCLBUTTONDOWN).empty());
    dialog.ShowWindow(SW_RESTORE);
}

// Delivers the posted system commands, as the message loop would.
void DeliverSystemCommands(HWND hwnd, std::vector<WPARAM>& commands) {
    for (MSG& m : TakePosted(hwnd, WM_SYSCOMMAND)) {
        commands.push_back(m.wParam & 0xFFF0);
        ::DispatchMessageW(&m);
    }
}

TEST_F(ShapedDialog, DoubleClickInTheBandMaximisesAndRestores) {
    std::vector<WPARAM> commands;
    Press(WM_LBUTTONDBLCLK, 50, 10);
    DeliverSystemCommands(dialog.m_hWnd, commands);
    EXPECT_TRUE(::IsZoomed(dialog.m_hWnd));
    Press(WM_LBUTTONDBLCLK, 50, 10);
    DeliverSystemCommands(dialog.m_hWnd, commands);
    EXPECT_FALSE(::IsZoomed(dialog.m_hWnd));
    EXPECT_EQ(commands, (std::vector<WPARAM>{SC_MAXIMIZE, SC_RESTORE}));

    Press(WM_LBUTTONDBLCLK, 50, 31);  // below the band
    DeliverSystemCommands(dialog.m_hWnd, commands);
    EXPECT_EQ(commands.size(), 2u);
}

TEST_F(ShapedDialog, DoubleClickDoesNothingWhenSwitchedOff) {
    dialog.SetDoubleClickMaximize(false);
    std::vector<WPARAM> commands;
    Press(WM_LBUTTONDBLCLK, 50, 10);
    DeliverSystemCommands(dialog.m_hWnd, commands);
    EXPECT_TRUE(commands.empty());
    EXPECT_FALSE(::IsZoomed(dialog.m_hWnd));
}

TEST_F(ShapedDialog, MaximisedSizeIsScreenWidthByWorkAreaHeight) {
    MINMAXINFO info{};
    info.ptMaxSize = POINT{1, 1};
    info.ptMaxTrackSize = POINT{1234, 567};
    dialog.SendMessage(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(info.ptMaxSize.x, ::GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(info.ptMaxSize.y, work.bottom - work.top);
    EXPECT_EQ(info.ptMaxTrackSize.x, 1234) << "other fields keep their values";
    EXPECT_EQ(info.ptMaxTrackSize.y, 567);
}

TEST_F(ShapedDialog, MouseMoveRequestsALeaveNotificationOnce) {
    EXPECT_FALSE(dialog.tracking());
    dialog.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(dialog.tracking());
    dialog.SendMessage(WM_MOUSELEAVE);
    EXPECT_FALSE(dialog.tracking());
}

TEST_F(ShapedDialog, PaintingDrawsTheFaceWithoutErasing) {
    EXPECT_EQ(dialog.SendMessage(WM_ERASEBKGND, 0, 0), TRUE);
    const int before = dialog.draws;
    dialog.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_GT(dialog.draws, before);
}

}  // namespace
