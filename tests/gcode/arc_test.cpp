#include "gcode/arc.h"

#include <gtest/gtest.h>

TEST(Arc, Placeholder) {
    gcode::ArcRefusal refusal;
    EXPECT_FALSE(gcode::ArcFromRadius({0, 0, 0}, {1, 0, 0}, 0, gcode::Plane::XY, true, 1, refusal));
}
