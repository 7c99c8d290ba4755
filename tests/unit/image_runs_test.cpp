#include "skin/image_runs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Skin {
// Failures name the rectangles.
void PrintTo(const PixelRect& r, std::ostream* os) {
    *os << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
}
}  // namespace Skin

namespace {

using Skin::PixelRect;

constexpr std::uint32_t kMagenta = 0xFF00FF;  // 0x00BBGGRR
constexpr std::uint32_t kWhite = 0xFFFFFF;

// A picture drawn as text, one string per row from the top: '#' grey, 'M' magenta, 'W' white, 'm' almost
// magenta (red 254), 'A' magenta whose fourth byte is set. Stored bottom-up with padded rows, as a 32-bit
// DIB section stores it, so the scan must walk a negative pitch.
class Picture {
public:
    explicit Picture(const std::vector<std::string>& rows)
        : width_(static_cast<int>(rows.empty() ? 0 : rows[0].size())), height_(static_cast<int>(rows.size())),
          stride_(width_ * 4 + 8), bytes_(static_cast<size_t>(stride_) * height_ + 1, 0xCD) {
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                std::uint8_t* p = Pixel(x, y);
                switch (rows[y][x]) {
                    case 'M': Set(p, 255, 0, 255, 0); break;
                    case 'A': Set(p, 255, 0, 255, 0xFF); break;
                    case 'W': Set(p, 255, 255, 255, 0); break;
                    case 'm': Set(p, 254, 0, 255, 0); break;
                    default: Set(p, 128, 128, 128, 0); break;
                }
            }
        }
    }
    const std::uint8_t* TopRow() const { return bytes_.data() + static_cast<size_t>(stride_) * (height_ - 1); }
    std::ptrdiff_t Pitch() const { return -stride_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    std::uint8_t* Pixel(int x, int y) { return bytes_.data() + static_cast<size_t>(stride_) * (height_ - 1 - y) + x * 4; }
    static void Set(std::uint8_t* p, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t fourth) {
        p[0] = b;
        p[1] = g;
        p[2] = r;
        p[3] = fourth;
    }
    int width_, height_, stride_;
    std::vector<std::uint8_t> bytes_;
};

struct RunsCase {
    const char* label;
    std::vector<std::string> rows;
    std::uint32_t key;
    int maxWidth;  // the scan's limits; -1 for the picture's own
    int maxHeight;
    std::vector<PixelRect> expected;
};

std::ostream& operator<<(std::ostream& os, const RunsCase& c) { return os << c.label; }

class ImageRuns : public ::testing::TestWithParam<RunsCase> {};

TEST_P(ImageRuns, AreExactlyTheNonKeyStretchesOfEachRow) {
    const RunsCase& c = GetParam();
    const Picture picture(c.rows);
    const int width = c.maxWidth < 0 ? picture.width() : std::min(c.maxWidth, picture.width());
    const int height = c.maxHeight < 0 ? picture.height() : std::min(c.maxHeight, picture.height());
    EXPECT_EQ(Skin::FindImageRuns(picture.TopRow(), picture.Pitch(), width, height, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImageRuns,
    ::testing::Values(
        RunsCase{"no_key_one_run_per_row", {"####", "####", "####"}, kMagenta, -1, -1,
                 {{0, 0, 4, 1}, {0, 1, 4, 2}, {0, 2, 4, 3}}},
        RunsCase{"key_at_x0_starts_at_1", {"M###", "####"}, kMagenta, -1, -1, {{1, 0, 4, 1}, {0, 1, 4, 2}}},
        RunsCase{"run_reaching_the_end_ends_at_width", {"##M#"}, kMagenta, -1, -1, {{0, 0, 2, 1}, {3, 0, 4, 1}}},
        RunsCase{"key_column_splits_every_row", {"#M##", "#M##"}, kMagenta, -1, -1,
                 {{0, 0, 1, 1}, {2, 0, 4, 1}, {0, 1, 1, 2}, {2, 1, 4, 2}}},
        RunsCase{"row_of_only_keys_adds_nothing", {"##", "MM", "##"}, kMagenta, -1, -1, {{0, 0, 2, 1}, {0, 2, 2, 3}}},
        RunsCase{"adjacent_keys_make_no_empty_run", {"#MM#"}, kMagenta, -1, -1, {{0, 0, 1, 1}, {3, 0, 4, 1}}},
        RunsCase{"last_pixel_key", {"###M"}, kMagenta, -1, -1, {{0, 0, 3, 1}}},
        RunsCase{"fourth_byte_ignored", {"#A#"}, kMagenta, -1, -1, {{0, 0, 1, 1}, {2, 0, 3, 1}}},
        RunsCase{"near_key_is_not_key", {"#m#"}, kMagenta, -1, -1, {{0, 0, 3, 1}}},
        RunsCase{"white_key_of_buttons", {"W##W", "#WW#"}, kWhite, -1, -1,
                 {{1, 0, 3, 1}, {0, 1, 1, 2}, {3, 1, 4, 2}}},
        RunsCase{"key_top_byte_ignored", {"W#"}, 0xFFFFFFFF, -1, -1, {{1, 0, 2, 1}}},
        RunsCase{"magenta_is_no_key_for_buttons", {"M#"}, kWhite, -1, -1, {{0, 0, 2, 1}}},
        RunsCase{"max_width_cuts_the_rows", {"####M", "#####"}, kMagenta, 3, -1, {{0, 0, 3, 1}, {0, 1, 3, 2}}},
        RunsCase{"max_height_cuts_the_rows", {"###", "#M#", "###"}, kMagenta, -1, 1, {{0, 0, 3, 1}}},
        RunsCase{"max_width_zero_is_empty", {"###"}, kMagenta, 0, -1, {}},
        RunsCase{"max_height_zero_is_empty", {"###"}, kMagenta, -1, 0, {}}),
    [](const ::testing::TestParamInfo<RunsCase>& info) { return std::string(info.param.label); });

TEST(ImageRunsMemory, TopDownAndBottomUpRowsGiveTheSameRuns) {
    // The same two rows, once top-down (positive pitch) and once bottom-up (negative pitch).
    const std::uint8_t grey[4] = {128, 128, 128, 0}, key[4] = {255, 0, 255, 0};
    std::vector<std::uint8_t> topDown, bottomUp;
    auto append = [](std::vector<std::uint8_t>& to, const std::uint8_t* px) { to.insert(to.end(), px, px + 4); };
    append(topDown, key), append(topDown, grey);   // row 0: key, grey
    append(topDown, grey), append(topDown, grey);  // row 1: grey, grey
    append(bottomUp, grey), append(bottomUp, grey);
    append(bottomUp, key), append(bottomUp, grey);
    const std::vector<PixelRect> expected{{1, 0, 2, 1}, {0, 1, 2, 2}};
    EXPECT_EQ(Skin::FindImageRuns(topDown.data(), 8, 2, 2, kMagenta), expected);
    EXPECT_EQ(Skin::FindImageRuns(bottomUp.data() + 8, -8, 2, 2, kMagenta), expected);
}

TEST(ImageRunsMemory, NoPixelsGiveNoRuns) {
    EXPECT_TRUE(Skin::FindImageRuns(nullptr, 0, 10, 10, kMagenta).empty());
    const std::uint8_t grey[4] = {1, 2, 3, 0};
    EXPECT_TRUE(Skin::FindImageRuns(grey, 4, 1, -1, kMagenta).empty());
}

}  // namespace
