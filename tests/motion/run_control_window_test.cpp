// Pause, the stops and dwells in a file, the feed override and "Run from here" in the main
// window, against the virtual board in virtual time: whatever the operator does in between,
// the board receives the dry run's reports, each once and in order.
#include "app/main_form.h"
#include "support/dry_run.h"
#include "support/virtual_main_form.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

const bool unixDispatcher = UseUnixEventDispatcher();

// Ten lines of 1 mm each at 100 mm/min: 533 steps at period 571.
const char* const TenLines = "G01 X1 F100\nX2\nX3\nX4\nX5\nX6\nX7\nX8\nX9\nX10\n";
// Two pockets: down into the work, across, up, over, down again.
const char* const TwoPockets = "G0 X0 Y0 Z5\nG1 Z-1 F100\nG1 X10 F300\nG0 Z5\nG0 X20 Y5\n"
                               "G1 Z-2 F100\nG1 Y15 F300\nG1 X25\nG0 Z5\n";

class RunControlTest : public ::testing::Test, protected VirtualMainForm {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Start();
        board.SetObserver([this] {
            while (seen < board.ReportsReceived()) {
                ++seen;
                if (onReport) {
                    onReport(static_cast<int>(seen));
                }
            }
        });
    }

    const app::MainControls& c() const { return form->controls(); }
    std::string Load(const char* gcode) { return LoadGcode(gcode); }

    // The reports received since `from`.
    std::vector<ReportBytes> ReceivedFrom(std::size_t from) const {
        const std::vector<ReportBytes> all = Received();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
    }
    static std::vector<ReportBytes> Rows(const std::vector<DryRunRow>& planned, std::size_t from) {
        return AllReports({planned.begin() + static_cast<std::ptrdiff_t>(from), planned.end()});
    }
    static QStringList Shown(const DryRunRow& row) {
        return {QString::fromStdString(row.position[0]), QString::fromStdString(row.position[1]),
                QString::fromStdString(row.position[2])};
    }
    void Goto(const char* x, const char* y, const char* z) {
        c().Text13->setText(QString::fromLatin1(x));
        c().Text14->setText(QString::fromLatin1(y));
        c().Text15->setText(QString::fromLatin1(z));
        c().Command4->click();
    }

    std::uint64_t seen = 0;
    std::function<void(int report)> onReport;
};

TEST_F(RunControlTest, PauseAtAnyPointOfAnyLineThenRunSendsEveryReportOnceInOrder) {
    // Pressed as the line goes out, half way through its 599 ms, and a moment before its "OK".
    for (const std::int64_t afterMs : {0, 300, 598}) {
        for (int n = 1; n <= 10; ++n) {
            SCOPED_TRACE(testing::Message() << "line " << n << ", " << afterMs << " ms in");
            const std::vector<DryRunRow> planned = DryRun(Load(TenLines));
            const std::size_t before = Received().size();
            onReport = [&, n](int k) {
                if (k == static_cast<int>(before) + n) {
                    EXPECT_TRUE(c().Pause->isEnabled());
                    clock.CallAt(clock.NowMs() + afterMs, [this] { c().Pause->click(); });
                }
            };
            c().Run2->click();
            onReport = nullptr;
            if (n < 10) {
                ASSERT_TRUE(form->Paused());
                EXPECT_EQ(Received().size(), before + n);
                EXPECT_EQ(
                    c().RunProgressText->text(),
                    QStringLiteral("Paused before line %1 of 10: Run goes on, STOP ends the run")
                        .arg(n + 1));
                EXPECT_TRUE(c().Command4->isEnabled()) << "GOTO, jog and zero while paused";
                EXPECT_FALSE(c().Pause->isEnabled());
                c().Run2->click();
            }
            EXPECT_FALSE(form->Paused());
            EXPECT_EQ(ReceivedFrom(before), AllReports(planned));
            EXPECT_EQ(Displays(), Shown(planned.back()));
            EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("|").toStdString();
        }
    }
}

TEST_F(RunControlTest, AfterStopRunFromHereGoesOnWithTheNextLineAndNothingElse) {
    const std::vector<DryRunRow> planned = DryRun(Load(TwoPockets));
    onReport = [&](int k) {
        if (k == 4) {
            Later([this] { c().Command3->click(); });
        }
    };
    c().Run2->click();
    onReport = nullptr;
    ASSERT_EQ(form->ResumeRow(), 4);
    const std::size_t before = Received().size();
    messages.shown.clear();
    form->RunFromHere(form->ResumeRow());
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].contains("already where that line starts"));
    EXPECT_EQ(ReceivedFrom(before), Rows(planned, 4));
    EXPECT_EQ(form->ResumeRow(), -1);
}

TEST_F(RunControlTest, AMachineMovedWhilePausedGoesBackAboveTheWorkBeforeTheNextLine) {
    const std::vector<DryRunRow> planned = DryRun(Load(TwoPockets));
    onReport = [&](int k) {
        if (k == 3) { // X10 at Z-1
            Later([this] { c().Pause->click(); });
        }
    };
    c().Run2->click();
    onReport = nullptr;
    ASSERT_TRUE(form->Paused());
    Goto("50", "50", "20"); // out of the way, as for a tool change
    const std::size_t before = Received().size();

    messages.confirm = false;
    c().Run2->click();
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].contains("Across to X 0010.000 Y 0000.000 at the travel speed\n"
                                           "Z down to -0001.000 at 0300.000 mm/min"))
        << messages.shown[0].toStdString();
    EXPECT_EQ(Received().size(), before) << "declined: nothing moves";
    EXPECT_TRUE(form->Paused());

    messages.confirm = true;
    c().Run2->click();
    const std::vector<ReportBytes> after = ReceivedFrom(before);
    ASSERT_EQ(after.size(), 2 + Rows(planned, 3).size()); // Z stays at 20, above 5 + 5
    EXPECT_EQ(std::vector<ReportBytes>(after.begin() + 2, after.end()), Rows(planned, 3));
    EXPECT_EQ(Displays(), Shown(planned.back()));
}

TEST_F(RunControlTest, ProgramStopsPauseAfterTheirRowAndOptionalStopsOnlyWithTheBox) {
    const char* file = "G1 X1 F100\nM1\nG1 X2\nM0 (check the clamps)\nG1 X3\n";
    for (const bool optional : {false, true}) {
        SCOPED_TRACE(optional);
        c().OptionalStop->setChecked(optional);
        const std::vector<DryRunRow> planned = DryRun(Load(file));
        const std::size_t before = Received().size();
        messages.shown.clear();
        QStringList expected;
        if (optional) {
            c().Run2->click();
            EXPECT_EQ(Received().size(), before + 1);
            expected << "Optional stop at line 2: M1\nPress Run to go on.";
        }
        c().Run2->click();
        EXPECT_EQ(Received().size(), before + 2);
        expected << "Program stop at line 4: M0 (check the clamps)\nPress Run to go on.";
        EXPECT_EQ(messages.shown, expected);
        c().Run2->click();
        EXPECT_EQ(ReceivedFrom(before), AllReports(planned));
        EXPECT_EQ(c().RunProgressText->text(), "Run finished: 3 lines in 2 s");
    }
}

TEST_F(RunControlTest, ADwellWaitsItsTimeAndStopAndPauseActAtOnceDuringIt) {
    const char* file = "G1 X1 F100\nG4 P10\nG1 X2\n";
    // Simulated, the dwell takes its ten seconds of virtual time as well.
    c().Check2->setChecked(true);
    Load(file);
    c().Check2->setChecked(true);
    std::int64_t start = clock.NowMs();
    c().Run2->click();
    EXPECT_GE(clock.NowMs() - start, 10000);
    EXPECT_EQ(Received().size(), 0u);
    c().Check2->setChecked(false);

    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop);
        const std::vector<DryRunRow> planned = DryRun(Load(file));
        const std::size_t before = Received().size();
        onReport = [&](int) {
            clock.CallAt(clock.NowMs() + 3000,
                         [this, stop] { (stop ? c().Command3 : c().Pause)->click(); });
        };
        start = clock.NowMs();
        c().Run2->click();
        onReport = nullptr;
        EXPECT_LT(clock.NowMs() - start, 4000) << "not the whole dwell";
        EXPECT_EQ(Received().size(), before + 1);
        EXPECT_EQ(form->Paused(), !stop);
        EXPECT_EQ(messages.shown, stop ? QStringList{"Run Stopped"} : QStringList{});
        messages.shown.clear();
        if (!stop) {
            start = clock.NowMs();
            c().Run2->click(); // the dwell again in full, then the last line
            EXPECT_GE(clock.NowMs() - start, 10000);
            EXPECT_EQ(ReceivedFrom(before), AllReports(planned));
        }
    }
}

TEST_F(RunControlTest, TheFeedOverrideActsOnFeedMovesFromTheNextLineAndResetsOnLoad) {
    struct Case {
        int percent;
        int period; // bytes 10 and 11 of a feed line's report, as a number
    } cases[] = {{50, 1143}, {200, 285}, {100, 571}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.percent);
        Load("G0 X1\nG1 X2 F100\n");
        EXPECT_EQ(c().FeedOverride->value(), 100);
        c().FeedOverride->setValue(k.percent);
        const std::size_t before = Received().size();
        c().Run2->click();
        const std::vector<ReportBytes> sent = ReceivedFrom(before);
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0][10] * 256 + sent[0][11], 57) << "a rapid keeps its speed";
        EXPECT_EQ(sent[1][10] * 256 + sent[1][11], k.period);
    }
}

TEST_F(RunControlTest, RunFromHereSendsTheDryRunsApproachAndRowsFromTheLoadPosition) {
    for (const std::size_t row : {1u, 5u, 7u}) {
        SCOPED_TRACE(row);
        const std::string path = Load(TwoPockets);
        const std::vector<DryRunRow> planned = DryRun(path, {}, row);
        const std::size_t before = Received().size();
        messages.shown.clear();
        form->RunFromHere(static_cast<int>(row) - 1);
        ASSERT_EQ(messages.shown.size(), 1);
        EXPECT_TRUE(messages.shown[0].startsWith(
            QStringLiteral("Run from line %1 of the file (row %1) to the end.").arg(row)))
            << messages.shown[0].toStdString();
        EXPECT_EQ(ReceivedFrom(before), AllReports(planned));
        EXPECT_EQ(Displays(), Shown(planned.back()));
        EXPECT_EQ(planned.front().approach, row > 1);
    }
}

TEST_F(RunControlTest, AfterALimitStopTheRunGoesOnFromTheRowCutShortOnlyOnceReZeroed) {
    const std::string path = Load(TenLines);
    const std::vector<DryRunRow> planned = DryRun(path);
    for (int n = 1; n <= 10; ++n) {
        SCOPED_TRACE(n);
        Load(TenLines);
        const std::size_t before = Received().size();
        onReport = [&, n](int k) {
            if (k == static_cast<int>(before) + n) {
                board.SendStatus("XL");
            }
        };
        c().Run2->click();
        onReport = nullptr;
        EXPECT_EQ(form->ResumeRow(), n > 1 ? n - 1 : -1);
        if (n > 1) {
            EXPECT_EQ(c().Grid1->currentIndex().row(), n - 1);
        }
        messages.shown.clear();
        form->RunFromHere(n - 1);
        ASSERT_EQ(messages.shown.size(), 1);
        EXPECT_TRUE(messages.shown[0].contains("Move each to the program's origin, zero it"))
            << messages.shown[0].toStdString();
        EXPECT_EQ(Received().size(), before + n) << "refused: nothing moves";

        // Back at the origin and zeroed, the run goes on with the row cut short.
        Goto("0", "0", "0");
        c().XResetZeroButton->click();
        const std::size_t resumed = Received().size();
        form->RunFromHere(n - 1);
        const std::vector<DryRunRow> from = DryRun(path, {}, static_cast<std::size_t>(n));
        EXPECT_EQ(ReceivedFrom(resumed), AllReports(from));
        EXPECT_EQ(Displays(), Shown(planned.back()));
    }
}

TEST_F(RunControlTest, AnUnpluggedBoardLeavesTheRowItWasSentAsTheResumePoint) {
    Load(TenLines);
    onReport = [&](int k) {
        if (k == 4) {
            board.Unplug();
        }
    };
    c().Run2->click();
    onReport = nullptr;
    EXPECT_EQ(form->ResumeRow(), 3);
    EXPECT_EQ(c().RunProgressText->text(),
              "Stopped after line 3: Run from here (Ctrl+Shift+R) goes on with line 4");
}

} // namespace
