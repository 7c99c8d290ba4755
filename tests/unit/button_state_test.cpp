#include "skin/button_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace Skin;

enum class Event { Move, Press, ReleaseInside, ReleaseOutside, Leave };

struct SequenceCase {
    const char* label;
    int start;
    std::vector<Event> events;
    int finalState;
    int clicks;
};

std::ostream& operator<<(std::ostream& os, const SequenceCase& c) { return os << c.label; }

class ButtonStateSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(ButtonStateSequence, EndsInTheRightStateWithTheRightClicks) {
    const SequenceCase& c = GetParam();
    int state = c.start;
    int clicks = 0;
    for (Event e : c.events) {
        switch (e) {
            case Event::Move: state = ButtonStateAfterMove(state); break;
            case Event::Press: state = ButtonStateAfterPress(state); break;
            case Event::Leave: state = ButtonStateAfterLeave(state); break;
            case Event::ReleaseInside:
            case Event::ReleaseOutside: {
                const ButtonRelease r = ButtonStateAfterRelease(state, e == Event::ReleaseInside);
                state = r.state;
                clicks += r.clicked ? 1 : 0;
                break;
            }
        }
    }
    EXPECT_EQ(state, c.finalState);
    EXPECT_EQ(clicks, c.clicks);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ButtonStateSequence,
    ::testing::Values(
        SequenceCase{"move_lights_up", STATE_NORMAL, {Event::Move}, STATE_HOVER, 0},
        SequenceCase{"press_release_inside_clicks_once", STATE_NORMAL, {Event::Move, Event::Press, Event::ReleaseInside},
                     STATE_HOVER, 1},
        SequenceCase{"press_without_move_then_release_inside", STATE_NORMAL, {Event::Press, Event::ReleaseInside},
                     STATE_HOVER, 1},
        SequenceCase{"press_move_out_release_outside", STATE_NORMAL,
                     {Event::Move, Event::Press, Event::Move, Event::ReleaseOutside}, STATE_NORMAL, 0},
        SequenceCase{"moves_while_pressed_keep_pressed", STATE_NORMAL, {Event::Press, Event::Move, Event::Move},
                     STATE_PRESSED, 0},
        SequenceCase{"release_without_press_inside", STATE_HOVER, {Event::ReleaseInside}, STATE_HOVER, 0},
        SequenceCase{"release_without_press_from_normal", STATE_NORMAL, {Event::ReleaseInside}, STATE_HOVER, 0},
        SequenceCase{"leave_between_press_and_release_cancels", STATE_NORMAL,
                     {Event::Press, Event::Leave, Event::ReleaseInside}, STATE_HOVER, 0},
        SequenceCase{"second_release_does_not_click_again", STATE_NORMAL,
                     {Event::Press, Event::ReleaseInside, Event::ReleaseInside}, STATE_HOVER, 1},
        SequenceCase{"two_clicks", STATE_NORMAL,
                     {Event::Press, Event::ReleaseInside, Event::Press, Event::ReleaseInside}, STATE_HOVER, 2},
        SequenceCase{"leave_resets_hover", STATE_NORMAL, {Event::Move, Event::Leave}, STATE_NORMAL, 0},
        SequenceCase{"disabled_ignores_everything", STATE_DISABLED,
                     {Event::Move, Event::Press, Event::ReleaseInside, Event::Leave, Event::ReleaseOutside},
                     STATE_DISABLED, 0}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) { return std::string(info.param.label); });

struct CellCase {
    const char* label;
    int state;
    int cellCount;
    int cell;
};

std::ostream& operator<<(std::ostream& os, const CellCase& c) { return os << c.label; }

class ButtonCell : public ::testing::TestWithParam<CellCase> {};

TEST_P(ButtonCell, PicksTheStripCellOfTheState) {
    EXPECT_EQ(ButtonCellIndex(GetParam().state, GetParam().cellCount), GetParam().cell);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ButtonCell,
    ::testing::Values(CellCase{"normal", STATE_NORMAL, 4, 0}, CellCase{"hover", STATE_HOVER, 4, 1},
                      CellCase{"pressed", STATE_PRESSED, 4, 2}, CellCase{"disabled", STATE_DISABLED, 4, 3},
                      CellCase{"pressed_limited_to_two_cells", STATE_PRESSED, 2, 1},
                      CellCase{"disabled_limited_to_one_cell", STATE_DISABLED, 1, 0},
                      CellCase{"unknown_state", 4, 4, -1}, CellCase{"negative_state", -1, 4, -1},
                      CellCase{"no_cells", STATE_NORMAL, 0, -1}),
    [](const ::testing::TestParamInfo<CellCase>& info) { return std::string(info.param.label); });

}  // namespace
