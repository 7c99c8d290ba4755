// Regions cut from real DIB sections, compared rectangle by rectangle with what GDI reports, and with the
// straightforward construction: one CombineRgn per run.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "skin/skin_image.h"
#include "window_test_support.h"

namespace {

using WindowTest::Describe;
using WindowTest::RegionRects;

constexpr COLORREF kMagenta = RGB(255, 0, 255);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kGrey = RGB(90, 100, 110);

// The reference: scan the pixels through GDI, and combine each run into the result the moment it is found.
void PerRunRegion(const CImage& source, CRgn& out, int maxWidth, int maxHeight, COLORREF key) {
    const int w = std::min(source.GetWidth(), maxWidth), h = std::min(source.GetHeight(), maxHeight);
    out.CreateRectRgn(0, 0, 0, 0);
    HDC dc = source.GetDC();
    for (int y = 0; y < h; ++y) {
        int x = 0;
        while (x < w) {
            const int start = x;
            while (x < w && (::GetPixel(dc, x, y) & 0xFFFFFF) != (key & 0xFFFFFF)) ++x;
            if (x > start) {
                CRgn run;
                run.CreateRectRgn(start, y, x, y + 1);
                out.CombineRgn(out, run, RGN_OR);
            }
            ++x;
        }
    }
    source.ReleaseDC();
}

// The same reference over raw pixels (fast enough to time on the full face), as the program once did it.
void PerRunRegionFromBits(const CImage& source, CRgn& out, int maxWidth, int maxHeight, COLORREF key) {
    const int w = std::min(source.GetWidth(), maxWidth), h = std::min(source.GetHeight(), maxHeight);
    out.CreateRectRgn(0, 0, 0, 0);
    const auto* top = static_cast<const BYTE*>(source.GetBits());
    for (int y = 0; y < h; ++y) {
        const BYTE* row = top + static_cast<ptrdiff_t>(source.GetPitch()) * y;
        auto isKey = [&](int x) { return RGB(row[x * 4 + 2], row[x * 4 + 1], row[x * 4]) == (key & 0xFFFFFF); };
        int x = 0;
        while (x < w) {
            const int start = x;
            while (x < w && !isKey(x)) ++x;
            if (x > start) {
                HRGN run = ::CreateRectRgn(start, y, x, y + 1);
                ::CombineRgn(out, run, out, RGN_OR);
                ::DeleteObject(run);
            }
            ++x;
        }
    }
}

struct Hole {
    RECT rect;
    COLORREF color;
};

void Paint(CImage& image, COLORREF background, const std::vector<Hole>& holes) {
    HDC dc = image.GetDC();
    RECT all{0, 0, image.GetWidth(), image.GetHeight()};
    FillSolidRect(dc, all, background);
    for (const Hole& hole : holes) FillSolidRect(dc, hole.rect, hole.color);
    image.ReleaseDC();
    ::GdiFlush();
}

struct RegionCase {
    const char* label;
    int width, height, bitsPerPixel;
    std::vector<Hole> holes;
    COLORREF key;
    int maxWidth, maxHeight;
    std::vector<RECT> expected;  // as GetRegionData lists them
};

std::ostream& operator<<(std::ostream& os, const RegionCase& c) { return os << c.label; }

class ImageRegion : public ::testing::TestWithParam<RegionCase> {};

TEST_P(ImageRegion, IsExactlyTheNonKeyPixelsAndMatchesThePerRunConstruction) {
    const RegionCase& c = GetParam();
    CImage image;
    ASSERT_TRUE(image.Create(c.width, c.height, c.bitsPerPixel));
    Paint(image, kGrey, c.holes);

    CRgn fast, reference;
    ASSERT_TRUE(CreateImageRgn(image, fast, c.maxWidth, c.maxHeight, c.key));
    PerRunRegion(image, reference, c.maxWidth, c.maxHeight, c.key);

    const std::vector<RECT> rects = RegionRects(fast);
    EXPECT_EQ(Describe(rects), Describe(c.expected));
    EXPECT_EQ(Describe(RegionRects(reference)), Describe(c.expected));
    EXPECT_TRUE(::EqualRgn(fast, reference));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImageRegion,
    ::testing::Values(
        RegionCase{"opaque_is_the_full_rectangle", 7, 5, 32, {}, kMagenta, 7, 5, {{0, 0, 7, 5}}},
        RegionCase{"opaque_24_bit_source", 7, 5, 24, {}, kMagenta, 100, 100, {{0, 0, 7, 5}}},
        RegionCase{"magenta_hole",
                   6, 4, 32, {{{2, 1, 4, 3}, kMagenta}}, kMagenta, 6, 4,
                   {{0, 0, 6, 1}, {0, 1, 2, 3}, {4, 1, 6, 3}, {0, 3, 6, 4}}},
        RegionCase{"magenta_hole_24_bit",
                   6, 4, 24, {{{2, 1, 4, 3}, kMagenta}}, kMagenta, 6, 4,
                   {{0, 0, 6, 1}, {0, 1, 2, 3}, {4, 1, 6, 3}, {0, 3, 6, 4}}},
        RegionCase{"white_key_cuts_button_corners",
                   5, 3, 32, {{{0, 0, 1, 1}, kWhite}, {{4, 2, 5, 3}, kWhite}}, kWhite, 5, 3,
                   {{1, 0, 5, 1}, {0, 1, 5, 2}, {0, 2, 4, 3}}},
        RegionCase{"white_is_no_hole_for_magenta_key", 4, 2, 32, {{{1, 0, 2, 1}, kWhite}}, kMagenta, 4, 2,
                   {{0, 0, 4, 2}}},
        RegionCase{"key_column_splits_rows", 5, 3, 32, {{{2, 0, 3, 3}, kMagenta}}, kMagenta, 5, 3,
                   {{0, 0, 2, 3}, {3, 0, 5, 3}}},
        RegionCase{"row_of_keys_is_a_gap", 3, 3, 32, {{{0, 1, 3, 2}, kMagenta}}, kMagenta, 3, 3,
                   {{0, 0, 3, 1}, {0, 2, 3, 3}}},
        RegionCase{"max_size_below_the_image", 8, 6, 32, {{{5, 0, 8, 6}, kMagenta}}, kMagenta, 4, 3,
                   {{0, 0, 4, 3}}},
        RegionCase{"max_zero_is_empty", 8, 6, 32, {}, kMagenta, 0, 6, {}}),
    [](const ::testing::TestParamInfo<RegionCase>& info) { return std::string(info.param.label); });

// A face of the program's size with many runs: a rounded outline, a dotted band and scattered holes.
void PaintBusyFace(CImage& face) {
    Paint(face, kGrey, {});
    auto* top = static_cast<BYTE*>(face.GetBits());
    unsigned seed = 12345;
    for (int y = 0; y < face.GetHeight(); ++y) {
        BYTE* row = top + static_cast<ptrdiff_t>(face.GetPitch()) * y;
        for (int x = 0; x < face.GetWidth(); ++x) {
            seed = seed * 1103515245u + 12345u;
            const bool corner = (x < 6 && y < 6 && x + y < 6) || (x > 364 && y > 349);
            const bool dotted = y < 30 && x % 4 == 0;
            const bool scattered = (seed >> 16) % 23 == 0;
            if (corner || dotted || scattered) row[x * 4] = 255, row[x * 4 + 1] = 0, row[x * 4 + 2] = 255;
        }
    }
}

TEST(ImageRegionLarge, BusyFaceEqualsThePerRunConstruction) {
    CImage face;
    ASSERT_TRUE(face.Create(371, 356, 32));
    PaintBusyFace(face);
    CRgn fast, reference;
    ASSERT_TRUE(CreateImageRgn(face, fast, 371, 356, kMagenta));
    PerRunRegionFromBits(face, reference, 371, 356, kMagenta);
    EXPECT_TRUE(::EqualRgn(fast, reference));
    const std::vector<RECT> a = RegionRects(fast), b = RegionRects(reference);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE("rect " + std::to_string(i));
        EXPECT_TRUE(::EqualRect(&a[i], &b[i]));
    }
}

TEST(SkinImage, MissingResourceLeavesTheImageEmpty) {
    CImage image;
    ASSERT_TRUE(image.Create(4, 4, 32));
    EXPECT_FALSE(LoadSkinImage(image, 54321));
    EXPECT_TRUE(image.IsNull());
}

// Not a timed assertion: prints how long each construction takes for the program's 371 × 356 face.
double MedianMilliseconds(const std::function<void()>& run) {
    LARGE_INTEGER frequency, start, stop;
    ::QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        ::QueryPerformanceCounter(&start);
        run();
        ::QueryPerformanceCounter(&stop);
        times.push_back(1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart);
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

TEST(ImageRegionBenchmark, PrintsBothConstructionsForTheFace) {
    struct Face {
        const char* name;
        bool busy;
    };
    for (const Face& f : {Face{"opaque", false}, Face{"busy", true}}) {
        CImage face;
        ASSERT_TRUE(face.Create(371, 356, 32));
        if (f.busy) PaintBusyFace(face); else Paint(face, kGrey, {});
        const size_t runs = Skin::FindImageRuns(static_cast<const std::uint8_t*>(face.GetBits()), face.GetPitch(),
                                                371, 356, kMagenta).size();
        const double batched = MedianMilliseconds([&] {
            CRgn region;
            CreateImageRgn(face, region, 371, 356, kMagenta);
        });
        const double perRun = MedianMilliseconds([&] {
            CRgn region;
            PerRunRegionFromBits(face, region, 371, 356, kMagenta);
        });
        std::printf("[region 371x356 %s, %zu runs] ExtCreateRegion batches: %.3f ms, CombineRgn per run: %.3f ms "
                    "(median of 5)\n", f.name, runs, batched, perRun);
        EXPECT_GT(runs, 0u);
    }
}

}  // namespace
