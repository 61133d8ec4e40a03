// The jog press and the speed ramp without a window.
#include "manual/jog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using motion::Axis;

struct Hold {
    // Presses `button` and ticks `ticks` times; per tick the counts and the displays.
    void Run(int button, int ticks) {
        ASSERT_FALSE(ramp.Press(button, settings, machine));
        for (int t = 0; t < ticks; ++t) {
            ramp.Tick(settings, machine);
            const encoding::MotionFields& f = ramp.Fields();
            counts.push_back({f.xSteps, f.ySteps, f.zSteps});
            bytes.push_back(ramp.Report().bytes());
            shown.push_back({machine[Axis::X].positionText, machine[Axis::Y].positionText,
                             machine[Axis::Z].positionText});
        }
    }
    std::vector<std::uint32_t> X() const {
        std::vector<std::uint32_t> x;
        for (const auto& c : counts) {
            x.push_back(c[0]);
        }
        return x;
    }

    manual::JogSettings settings;
    motion::MachineState machine;
    manual::JogRamp ramp;
    std::vector<std::array<std::uint32_t, 3>> counts;
    std::vector<encoding::MotionReport::Bytes> bytes;
    std::vector<std::array<std::string, 3>> shown;
};

TEST(Jog, PressBuildsTheReportOfItsButton) {
    struct Case {
        int button;
        std::array<bool, 3> inverse;
        bool limitsDisabled;
        int flagByte;
        std::array<int, 3> countBytes; // bytes 4, 7, 9
    };
    for (const Case& c :
         {Case{7, {}, false, 9, {53, 0, 0}}, Case{7, {true}, false, 8, {53, 0, 0}},
          Case{10, {}, false, 12, {0, 0, 53}}, Case{2, {false, true, false}, false, 10, {53, 0, 0}},
          Case{6, {}, false, 11, {53, 53, 0}}, Case{6, {}, true, 27, {53, 53, 0}},
          Case{1, {}, false, 10, {53, 53, 0}}}) {
        SCOPED_TRACE(c.button);
        manual::JogRamp ramp;
        manual::JogSettings settings;
        settings.inverse = c.inverse;
        settings.limitsDisabled = c.limitsDisabled;
        motion::MachineState machine;
        ASSERT_FALSE(ramp.Press(c.button, settings, machine));
        const auto b = ramp.Report().bytes();
        EXPECT_EQ(b[1], c.flagByte);
        EXPECT_EQ((std::array<int, 3>{b[4], b[7], b[9]}), c.countBytes);
        EXPECT_EQ(b[2] + b[3] + b[5] + b[6] + b[8], 0);
        EXPECT_EQ(b[10] * 256 + b[11], 57);
        EXPECT_EQ(machine[Axis::X].direction, (c.flagByte & 1) != 0); // stored after inversion
    }
}

TEST(Jog, HeldTenTicksTheDisplayGrowsInStagesAndTheCountsKeepTheMachineThere) {
    Hold hold;
    hold.settings.pulsesPerMmText = "533.33";
    hold.Run(7, 10);
    // Each count is S(display after) - S(display before), S = 533.33 x display rounded down:
    // 53, 159, 266, 426, 586, 1119, 1653, 2719, 3786, 4853.
    EXPECT_EQ(hold.X(),
              (std::vector<std::uint32_t>{53, 106, 107, 160, 160, 533, 534, 1066, 1067, 1067}));
    EXPECT_EQ(hold.bytes[5][3], 2); // 533 written as 16 bits from the 10x stage on
    EXPECT_EQ(hold.bytes[5][4], 21);
    EXPECT_EQ(hold.bytes[7][3], 4);
    EXPECT_EQ(hold.bytes[7][4], 42);
    const std::vector<std::string> x = {"0000.100", "0000.300", "0000.500", "0000.800", "0001.100",
                                        "0002.100", "0003.100", "0005.100", "0007.100", "0009.100"};
    for (std::size_t t = 0; t < x.size(); ++t) {
        EXPECT_EQ(hold.shown[t][0], x[t]) << "tick " << t + 1;
        EXPECT_EQ(hold.shown[t][1], "0000.000");
    }
    EXPECT_DOUBLE_EQ(hold.machine[Axis::X].positionMm, 9.1);
    EXPECT_EQ(hold.ramp.JogMultiplier, 20);

    // From anywhere, however long: the counts add up to S of the display.
    Hold back;
    back.settings.pulsesPerMmText = "533.33";
    back.machine[Axis::Z].positionText = "0000.050";
    back.Run(9, 200);
    std::uint64_t sent = 0;
    for (const auto& c : back.counts) {
        sent += c[2];
    }
    EXPECT_EQ(back.shown.back()[2], "0389.150");
    EXPECT_EQ(sent, 207545u - 26u); // S(389.15) - S(0.05)
}

TEST(Jog, DisplaysFollowTheArrowWhateverTheInversion) {
    for (const bool inverseZ : {false, true}) {
        Hold down;
        down.settings.inverse[2] = inverseZ;
        down.Run(10, 2);
        EXPECT_EQ(down.shown[1][2], "-0000.300");
        EXPECT_EQ(down.bytes[1][1] & 4, inverseZ ? 0 : 4); // the Z bit as sent
    }
    Hold diagonal;
    diagonal.settings.inverse = {true, true, false};
    diagonal.Run(1, 3);
    EXPECT_EQ(diagonal.shown[2][0], "-0000.500");
    EXPECT_EQ(diagonal.shown[2][1], "0000.500");

    // An Inverse box changed during the hold: the display follows the box as it is now.
    Hold changed;
    changed.Run(7, 1);
    changed.settings.inverse[0] = true;
    changed.ramp.Tick(changed.settings, changed.machine);
    EXPECT_EQ(changed.machine[Axis::X].positionText, "-0000.100");
}

TEST(Jog, LargeAndSmallPulsesPerMm) {
    Hold fine; // micro-stepping: counts beyond one byte go out whole
    fine.settings.pulsesPerMmText = "3200";
    fine.Run(7, 8);
    EXPECT_EQ(fine.X(), (std::vector<std::uint32_t>{320, 640, 640, 960, 960, 3200, 3200, 6400}));
    EXPECT_EQ(fine.bytes[0][3], 1);
    EXPECT_EQ(fine.bytes[0][4], 64);

    Hold zeroLowByte; // 20 x 64 = 1280 = 0x0500: still jogged
    zeroLowByte.settings.pulsesPerMmText = "640";
    zeroLowByte.Run(7, 9);
    EXPECT_EQ(zeroLowByte.counts[8][0], 1280u);
    EXPECT_EQ(zeroLowByte.shown[8][0], "0007.100");

    Hold tooCoarse; // b = 0: nothing is jogged, zero counts still go out
    tooCoarse.settings.pulsesPerMmText = "9";
    tooCoarse.Run(6, 8);
    EXPECT_EQ(tooCoarse.counts.back(), (std::array<std::uint32_t, 3>{0, 0, 0}));
    EXPECT_EQ(tooCoarse.shown.back()[0], "0000.000");

    Hold wide; // 20 x 3300 would not fit 16 bits: the 10x stage stays
    wide.settings.pulsesPerMmText = "33000";
    wide.Run(10, 9);
    EXPECT_EQ(wide.counts.back()[2], 33000u);
    EXPECT_EQ(wide.ramp.JogMultiplier, 10);
    EXPECT_EQ(wide.shown.back()[2], "-0005.100");
}

TEST(Jog, ARetypedSettingKeepsTheStageItCannotWorkOut) {
    Hold hold;
    hold.Run(7, 5);
    hold.settings.pulsesPerMmText = "";
    hold.settings.jogSpeedText = "0";
    hold.ramp.Tick(hold.settings, hold.machine); // tick 6: no pulses per mm, no move
    EXPECT_EQ(hold.ramp.Fields().xSteps, 0u);
    EXPECT_EQ(hold.machine[Axis::X].positionText, "0001.100");
    EXPECT_EQ(hold.ramp.JogMultiplier, 3);
    hold.settings.pulsesPerMmText = "533.333";
    hold.ramp.Tick(hold.settings, hold.machine); // 7: no stage; 1.1 to 1.4 mm
    EXPECT_EQ(hold.ramp.Fields().xSteps, 160u);
    hold.ramp.Tick(hold.settings, hold.machine); // 8: 20x, but the speed is still refused
    EXPECT_EQ(hold.ramp.Fields().xSteps, 1067u); // 1.4 to 3.4 mm
    EXPECT_EQ(hold.ramp.Fields().stepPeriod, 57u);
}

TEST(Jog, SettingsThatGiveNoReportRefuseThePressAndChangeNothing) {
    struct Case {
        const char* pulses;
        const char* speed;
        const char* pwDelay;
        const char* says;
    };
    for (const Case& c : {Case{"abc", "1000", "57150", "Pulses per MM"},
                          Case{"-5", "1000", "57150", "Pulses per MM"},
                          Case{"700000", "1000", "57150", "more steps"},
                          Case{"533.333", "0.5", "57150", "at least 1 mm/min"},
                          Case{"533.333", "fast", "57150", "at least 1 mm/min"},
                          Case{"533.333", "1000", "x", "PW delay"},
                          Case{"533.333", "1", "65536", "Step period too long"}}) {
        SCOPED_TRACE(c.says);
        manual::JogSettings settings;
        settings.pulsesPerMmText = c.pulses;
        settings.jogSpeedText = c.speed;
        settings.pwDelayText = c.pwDelay;
        motion::MachineState machine;
        machine[Axis::Y].direction = true;
        manual::JogRamp ramp;
        const auto error = ramp.Press(7, settings, machine);
        ASSERT_TRUE(error);
        EXPECT_NE(error->find(c.says), std::string::npos) << *error;
        EXPECT_TRUE(machine[Axis::Y].direction);
        EXPECT_FALSE(ramp.Jogged(Axis::X));
    }
}

} // namespace
