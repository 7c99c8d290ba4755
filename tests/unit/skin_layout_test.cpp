#include "skin/skin_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Skin::Placement;

struct EditCase {
    const char* label;
    int frameWidth, frameHeight, border, editHeight;
    Placement expected;
};

std::ostream& operator<<(std::ostream& os, const EditCase& c) { return os << c.label; }

class InnerEditLayout : public ::testing::TestWithParam<EditCase> {};

TEST_P(InnerEditLayout, CentresTheEditInsideTheBorder) {
    const EditCase& c = GetParam();
    const Placement p = Skin::InnerEditPlacement(c.frameWidth, c.frameHeight, c.border, c.editHeight);
    EXPECT_EQ(p, c.expected) << "got (" << p.x << "," << p.y << ") " << p.width << "x" << p.height;
}

INSTANTIATE_TEST_SUITE_P(
    Table, InnerEditLayout,
    ::testing::Values(EditCase{"check_dialog_values", 124, 20, 0, 18, {0, 1, 124, 18}},
                      EditCase{"initial_values", 124, 20, 1, 12, {1, 4, 122, 12}},
                      EditCase{"odd_free_height_rounds_down", 124, 21, 0, 18, {0, 1, 124, 18}},
                      EditCase{"exact_fit", 50, 18, 0, 18, {0, 0, 50, 18}},
                      EditCase{"frame_lower_than_edit", 50, 10, 0, 18, {0, -4, 50, 18}},
                      EditCase{"frame_narrower_than_borders", 3, 20, 2, 12, {2, 4, 0, 12}},
                      EditCase{"zero_size_frame", 0, 0, 1, 12, {1, -6, 0, 12}}),
    [](const ::testing::TestParamInfo<EditCase>& info) { return std::string(info.param.label); });

struct FlagsCase {
    const char* label;
    unsigned flags;
    bool layout;
};

std::ostream& operator<<(std::ostream& os, const FlagsCase& c) { return os << c.label; }

class PositionChange : public ::testing::TestWithParam<FlagsCase> {};

TEST_P(PositionChange, LaysOutOnlyWhenTheSizeMayHaveChanged) {
    EXPECT_EQ(Skin::PositionChangeNeedsLayout(GetParam().flags), GetParam().layout);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PositionChange,
    ::testing::Values(FlagsCase{"resize", 0x0002 | 0x0004, true},  // SWP_NOMOVE | SWP_NOZORDER
                      FlagsCase{"move_only", 0x0001 | 0x0004, false},
                      FlagsCase{"move_only_while_shown", 0x0001 | 0x0040, true},
                      FlagsCase{"shown", 0x0040, true}, FlagsCase{"nothing_set", 0, true}),
    [](const ::testing::TestParamInfo<FlagsCase>& info) { return std::string(info.param.label); });

struct BandCase {
    const char* label;
    int y, band;
    bool drags;
};

std::ostream& operator<<(std::ostream& os, const BandCase& c) { return os << c.label; }

class DragBand : public ::testing::TestWithParam<BandCase> {};

TEST_P(DragBand, IncludesItsLastRow) { EXPECT_EQ(Skin::InDragBand(GetParam().y, GetParam().band), GetParam().drags); }

INSTANTIATE_TEST_SUITE_P(Table, DragBand,
                         ::testing::Values(BandCase{"top_row", 0, 30, true}, BandCase{"at_band_height", 30, 30, true},
                                           BandCase{"one_below", 31, 30, false},
                                           BandCase{"far_below", 300, 30, false},
                                           BandCase{"zero_band_top_row", 0, 0, true},
                                           BandCase{"zero_band_second_row", 1, 0, false}),
                         [](const ::testing::TestParamInfo<BandCase>& info) { return std::string(info.param.label); });

struct AnchorCase {
    const char* label;
    Skin::Box box;
    int cx, cy;
    Placement expected;
};

std::ostream& operator<<(std::ostream& os, const AnchorCase& c) { return os << c.label; }

class Anchoring : public ::testing::TestWithParam<AnchorCase> {};

// The end-to-end harness and the artwork test place the same rows with their own copy of this arithmetic.
TEST_P(Anchoring, PlacesTheBoxFromItsAnchor) {
    const AnchorCase& c = GetParam();
    const Placement p = Skin::Place(c.box, c.cx, c.cy);
    EXPECT_EQ(p, c.expected) << "got (" << p.x << "," << p.y << ") " << p.width << "x" << p.height;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Anchoring,
    ::testing::Values(
        AnchorCase{"close_button_in_the_dialog", Skin::CheckDialog::kCloseButton, 371, 356, {346, 5, 20, 20}},
        AnchorCase{"check_button_in_the_dialog", Skin::CheckDialog::kCheckButton, 371, 356, {122, 306, 126, 27}},
        AnchorCase{"account_box_in_the_dialog", Skin::CheckDialog::kAccountEdit, 371, 356, {98, 73, 124, 20}},
        AnchorCase{"top_right_follows_the_width", {Skin::Anchor::TopRight, 5, 5, 20, 20}, 500, 100, {475, 5, 20, 20}},
        AnchorCase{"bottom_centre_odd_space_rounds_down", {Skin::Anchor::BottomCentre, 0, 50, 126, 27}, 372, 400,
                   {123, 350, 126, 27}},
        AnchorCase{"bottom_centre_with_offset", {Skin::Anchor::BottomCentre, -10, 30, 20, 10}, 100, 60,
                   {30, 30, 20, 10}},
        AnchorCase{"top_left_ignores_the_size", {Skin::Anchor::TopLeft, 7, 9, 3, 4}, 10, 10, {7, 9, 3, 4}}),
    [](const ::testing::TestParamInfo<AnchorCase>& info) { return std::string(info.param.label); });

}  // namespace
