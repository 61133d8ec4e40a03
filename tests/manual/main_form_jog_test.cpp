// The jog pad in the main window, against the virtual board in virtual time: mouse presses on
// the buttons, Timer1 ticking on the test's timeline, every report as the board takes it.
#include "app/main_form.h"
#include "device/status_report.h"
#include "device/tick_timer.h"
#include "device/virtual_board.h"
#include "support/virtual_main_form.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

const bool unixDispatcher = UseUnixEventDispatcher();

struct Arrival {
    std::int64_t atMs;
    encoding::MotionFields fields;
    double moveMs;
    QString status; // the status field when it came
    QString xShown;
    QString zShown;
};

class MainFormJogTest : public ::testing::Test, protected VirtualMainForm {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Start();
        board.SetObserver([this] {
            while (arrivals.size() < board.ReportsReceived()) {
                const auto& last = board.Log().back();
                arrivals.push_back({clock.NowMs(), last.command.fields, last.moveMs,
                                    c().StatusField()->text(), c().XpositionDisplay->text(),
                                    c().ZpositionDisplay->text()});
                if (onReport) {
                    onReport(arrivals.size());
                }
            }
        });
    }

    const app::MainControls& c() const { return form->controls(); }
    QToolButton* Button(int n) const { return c().JogButton(n); }

    // Holds a button until `reports` reports have arrived, then lets go.
    void Hold(int button, std::size_t reports) {
        onReport = [this, button, reports](std::size_t n) {
            if (n == reports) {
                QMetaObject::invokeMethod(
                    form.get(),
                    [this, button] { QTest::mouseRelease(Button(button), Qt::LeftButton); },
                    Qt::QueuedConnection);
            }
        };
        QTest::mousePress(Button(button), Qt::LeftButton);
        RunUntilIdle();
    }

    std::vector<std::uint32_t> XCounts() const {
        std::vector<std::uint32_t> x;
        for (const Arrival& a : arrivals) {
            x.push_back(a.fields.xSteps);
        }
        return x;
    }

    std::vector<Arrival> arrivals;
    std::function<void(std::size_t)> onReport;
};

TEST_F(MainFormJogTest, HeldTenTicksOneReportInFlightPacedByTheTimerOrTheBoard) {
    // The new settings file's defaults: 533.33 pulses per mm (b = 53), jogging at 800 mm/min
    // (period 71): up to 534 steps a move takes 75 ms and fits the 80 ms interval; 1066 take
    // 149 ms and the ticks follow the board. Each count keeps the machine at the display.
    Hold(7, 10);
    ASSERT_EQ(arrivals.size(), 10u); // nothing after the release
    EXPECT_EQ(XCounts(),
              (std::vector<std::uint32_t>{53, 106, 107, 160, 160, 533, 534, 1066, 1067, 1067}));
    const QStringList shown = {"0000.100", "0000.300", "0000.500", "0000.800", "0001.100",
                               "0002.100", "0003.100", "0005.100", "0007.100", "0009.100"};
    std::vector<std::int64_t> periods;
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        EXPECT_EQ(arrivals[i].xShown, shown[static_cast<qsizetype>(i)]) << i;
        EXPECT_EQ(arrivals[i].status, "OA") << i; // each tick waits for its own "OK"
        EXPECT_TRUE(arrivals[i].fields.rapid);
        EXPECT_EQ(arrivals[i].fields.stepPeriod, 71u);
        if (i > 0) {
            periods.push_back(arrivals[i].atMs - arrivals[i - 1].atMs);
            // The board had finished the one before: never two reports in flight.
            EXPECT_GE(arrivals[i].atMs,
                      arrivals[i - 1].atMs + std::llround(arrivals[i - 1].moveMs));
        }
    }
    EXPECT_EQ(arrivals[0].atMs, 1);
    EXPECT_EQ(periods, (std::vector<std::int64_t>{80, 80, 80, 80, 80, 80, 80, 149, 149}));
    EXPECT_EQ(c().XpositionDisplay->text(), "0009.100");
    EXPECT_DOUBLE_EQ(form->Motion().machine[motion::Axis::X].positionMm, 9.1);
    EXPECT_FALSE(c().Timer1->isEnabled());
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(MainFormJogTest, ZDownGoesDownWithOrWithoutInverseZ) {
    for (const bool inverse : {false, true}) {
        SCOPED_TRACE(inverse);
        c().InverseZ->setChecked(inverse);
        const std::uint64_t before = board.ReportsReceived();
        Hold(10, arrivals.size() + 2);
        ASSERT_EQ(board.ReportsReceived(), before + 2);
        EXPECT_EQ(arrivals.back().fields.zDirection, !inverse);
        EXPECT_EQ(arrivals.back().fields.zSteps, 106u);
        EXPECT_EQ(arrivals.back().fields.xSteps + arrivals.back().fields.ySteps, 0u);
    }
    EXPECT_EQ(c().ZpositionDisplay->text(), "-0000.600");
}

TEST_F(MainFormJogTest, EachButtonMovesItsAxesTheWayItsArrowPoints) {
    Hold(1, 1);
    EXPECT_EQ(c().XpositionDisplay->text(), "-0000.100");
    EXPECT_EQ(c().YpositionDisplay->text(), "0000.100");

    c().InverseY->setChecked(true);
    Hold(2, 2);
    EXPECT_EQ(board.LastCommand()->command.fields.yDirection, true); // flag byte 10
    EXPECT_EQ(board.LastCommand()->command.fields.ySteps, 0u);
    EXPECT_EQ(c().YpositionDisplay->text(), "0000.100");
    EXPECT_EQ(c().XpositionDisplay->text(), "-0000.200");
}

TEST_F(MainFormJogTest, PulsesPerMmBelowTenSendZeroCountsAndMoveNoDisplay) {
    c().setpulses->setText("9");
    Hold(6, 3);
    ASSERT_EQ(arrivals.size(), 3u);
    for (const Arrival& a : arrivals) {
        EXPECT_EQ(a.fields.xSteps + a.fields.ySteps + a.fields.zSteps, 0u);
    }
    EXPECT_EQ(c().XpositionDisplay->text(), "0000.000");
}

TEST_F(MainFormJogTest, SimulateWaitsTheDelayAndSendsNothing) {
    c().Check2->setChecked(true);
    c().Text16->setText("20");
    bool released = false;
    clock.CallAt(clock.NowMs() + 1 + 3 * 80 + 10, [&] {
        QTest::mouseRelease(Button(7), Qt::LeftButton);
        released = true;
    });
    QTest::mousePress(Button(7), Qt::LeftButton);
    RunUntilIdle();
    EXPECT_TRUE(released);
    EXPECT_EQ(board.ReportsReceived(), 0u);
    EXPECT_EQ(c().XpositionDisplay->text(), "0000.800"); // four ticks: 0.1, 0.2, 0.2, 0.3
}

TEST_F(MainFormJogTest, ALimitReportStopsTheJogAfterTheCurrentTick) {
    board.AddFault(3, "XL");
    QTest::mousePress(Button(7), Qt::LeftButton); // and held
    RunUntilIdle();
    EXPECT_EQ(board.ReportsReceived(), 3u);
    EXPECT_EQ(messages.shown, QStringList{"Xlimit Reached, Terminating Run sequence"});
    EXPECT_EQ(c().XpositionDisplay->text(), "0000.500");
    QTest::mouseRelease(Button(7), Qt::LeftButton);

    // The next press starts afresh.
    Hold(7, 4);
    EXPECT_EQ(board.LastCommand()->command.fields.xSteps, 53u);
}

TEST_F(MainFormJogTest, PressAndReleaseBeforeTheFirstTickSendNothing) {
    QTest::mousePress(Button(4), Qt::LeftButton);
    QTest::mouseRelease(Button(4), Qt::LeftButton);
    RunUntilIdle();
    EXPECT_EQ(board.ReportsReceived(), 0u);
    EXPECT_EQ(c().YpositionDisplay->text(), "0000.000");
}

TEST_F(MainFormJogTest, MicroSteppingSendsTheWholeCounts) {
    c().setpulses->setText("3200");
    Hold(7, 8);
    EXPECT_EQ(XCounts(), (std::vector<std::uint32_t>{320, 640, 640, 960, 960, 3200, 3200, 6400}));
}

TEST_F(MainFormJogTest, SettingsThatGiveNoReportAreRefusedWithOneMessage) {
    c().jogspeeds->setText("0.5");
    QTest::mousePress(Button(7), Qt::LeftButton);
    QTest::mouseRelease(Button(7), Qt::LeftButton);
    RunUntilIdle();
    EXPECT_EQ(board.ReportsReceived(), 0u);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("Jog speed must be at least 1 mm/min"));
    EXPECT_FALSE(c().Timer1->isEnabled());
}

TEST_F(MainFormJogTest, TheKeyboardNeverJogs) {
    form->show();
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(Button(7), key);
    }
    RunUntilIdle();
    EXPECT_EQ(board.ReportsReceived(), 0u);
}

TEST_F(MainFormJogTest, OneMotionAtATime) {
    // A press during a GOTO's wait is ignored.
    c().Text13->setText("10"); // 0.598 s on the board
    clock.CallAt(clock.NowMs() + 100, [this] {
        QTest::mousePress(Button(7), Qt::LeftButton);
        QTest::mouseRelease(Button(7), Qt::LeftButton);
    });
    form->Command4_Click();
    RunUntilIdle();
    EXPECT_EQ(board.ReportsReceived(), 1u);

    // GOTO and Run clicks during a jog are ignored.
    onReport = [this](std::size_t n) {
        if (n == 3) {
            form->Command4_Click();
            form->Run2_Click();
        }
        if (n == 4) {
            QMetaObject::invokeMethod(
                form.get(), [this] { QTest::mouseRelease(Button(2), Qt::LeftButton); },
                Qt::QueuedConnection);
        }
    };
    QTest::mousePress(Button(2), Qt::LeftButton);
    RunUntilIdle();
    EXPECT_EQ(board.ReportsReceived(), 4u);
    EXPECT_EQ(c().XpositionDisplay->text(), "0009.500"); // 10 less 0.5: no GOTO back to 10
}

} // namespace
