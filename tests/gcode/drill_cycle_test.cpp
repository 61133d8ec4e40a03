#include "gcode/drill_cycle.h"

#include <gtest/gtest.h>

TEST(DrillCycle, Placeholder) {
    gcode::CycleRefusal refusal;
    gcode::DrillBlock block;
    block.repeats = 0;
    EXPECT_FALSE(gcode::DrillBlockMoves(block, {0, 0, 0}, refusal));
}
