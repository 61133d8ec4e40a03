// The program run, STOP, GOTO and zeroing in the main window, against the virtual board in
// virtual time: what the board receives is checked against what quorvane-plan prints for the
// same file.
#include "app/main_form.h"
#include "app/motion_state.h"
#include "device/status_report.h"
#include "device/virtual_board.h"
#include "encoding/motion_report.h"
#include "gcode/program_table_model.h"
#include "gcode/toolpath_view.h"
#include "support/dry_run.h"
#include "support/virtual_main_form.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

const bool unixDispatcher = UseUnixEventDispatcher();

using motion::Axis;

QString LimitMessage(const char* code) {
    for (const device::LimitCode& limit : device::LimitCodes) {
        if (limit.code == code) {
            return QString::fromLatin1(limit.message.data(), qsizetype(limit.message.size()));
        }
    }
    return {};
}

// Ten lines of 1 mm each at 100 mm/min: 533 steps at period 571, 0.599 s each on the board.
const char* const TenLines = "G01 X1 F100\nX2\nX3\nX4\nX5\nX6\nX7\nX8\nX9\nX10\n";

class MainFormRunTest : public ::testing::Test, protected VirtualMainForm {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Start();
        // Every report the board takes, with the status field as it was when it arrived.
        board.SetObserver([this] {
            while (static_cast<std::uint64_t>(arrivals.size()) < board.ReportsReceived()) {
                arrivals.push_back(c().StatusField()->text());
                arrivalMs.push_back(clock.NowMs());
                if (onReport) {
                    onReport(static_cast<int>(arrivals.size()));
                }
            }
        });
    }

    const app::MainControls& c() const { return form->controls(); }

    std::string Load(const QByteArray& gcode) { return LoadGcode(gcode); }

    static QStringList Shown(const std::array<std::string, 3>& position) {
        return {QString::fromStdString(position[0]), QString::fromStdString(position[1]),
                QString::fromStdString(position[2])};
    }
    std::vector<int> RedRows() const {
        std::vector<int> red;
        for (int r = 0; r < c().Grid1Model->rowCount(); ++r) {
            if (c().Grid1Model->FirstCellColour(r) == gcode::RowRed) {
                red.push_back(r);
            }
        }
        return red;
    }

    QStringList arrivals;
    std::vector<std::int64_t> arrivalMs;
    std::function<void(int report)> onReport;
};

TEST_F(MainFormRunTest, LiveRunSendsExactlyTheDryRunsReportsAndEndsWhereTheProgramEnds) {
    // Row 2 needs 21,333,200 X steps: two reports, one after the other.
    const std::string path = Load("G00 X0 Y0 Z5\nG01 Z-1 F100\nG01 X40000 Y10 F30000\n"
                                  "G01 Y20 F250\nG00 Z5\n");
    const std::vector<DryRunRow> planned = DryRun(path);
    ASSERT_EQ(planned.size(), 5u);
    ASSERT_EQ(planned[2].reports.size(), 2u);

    c().Run2->click();
    EXPECT_EQ(Received(), AllReports(planned));
    EXPECT_EQ(arrivals, QStringList(6, "OA")); // each report waited for its own "OK"
    const double firstPartMs = board.Log()[2].moveMs;
    EXPECT_EQ(arrivalMs[3] - arrivalMs[2], std::llround(firstPartMs));
    EXPECT_EQ(Displays(), Shown(planned.back().position));
    EXPECT_EQ(c().StatusField()->text(), "OK");
    EXPECT_EQ(c().LineProcessed->text(), "5");
    EXPECT_EQ(RedRows(), std::vector<int>{4});
    EXPECT_TRUE(c().Run2->isEnabled());
    EXPECT_TRUE(c().Command4->isEnabled());
    EXPECT_FALSE(c().RunProgress->isVisible());
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("|").toStdString();
}

// A program as CAM writes it (home move, tool change, arcs, inches, incremental moves) runs as
// the dry run plans it, after the operator agrees to skip the move home the machine cannot make.
TEST_F(MainFormRunTest, ARunAfterALimitStopAsksFirstNamingTheAxesThatCannotBeTrusted) {
    const std::vector<DryRunRow> planned = DryRun(Load(TenLines));
    onReport = [&](int n) {
        if (n == 3) {
            board.SendStatus("XL");
        }
    };
    c().Run2->click();
    onReport = nullptr;
    ASSERT_EQ(board.ReportsReceived(), 3u);
    messages.shown.clear();

    messages.confirm = false;
    c().Run2->click();
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("The machine may not be where the displays say. X: "))
        << messages.shown[0].toStdString();
    EXPECT_TRUE(messages.shown[0].endsWith("Run it anyway?"));
    EXPECT_EQ(board.ReportsReceived(), 3u) << "nothing is sent without a yes";

    // A simulated run moves nothing: it is not asked. A yes runs the program.
    c().Check2->setChecked(true);
    c().Text16->setText("0");
    c().Run2->click();
    EXPECT_EQ(messages.shown.size(), 1);
    c().Check2->setChecked(false);
    messages.confirm = true;
    c().Run2->click();
    EXPECT_EQ(messages.shown.size(), 2);
    EXPECT_EQ(board.ReportsReceived(), 3u + planned.size());

    // Zeroing the axes the stop left unknown is the answer the operator gives instead.
    c().XResetZeroButton->click();
    c().YResetZeroButton->click();
    c().ZResetZeroButton->click();
    c().Run2->click();
    EXPECT_EQ(messages.shown.size(), 2);
}

TEST_F(MainFormRunTest, ACamProgramRunsAsTheDryRunPlansItOnceTheSkippedHomeMoveIsAgreedTo) {
    const std::string path = Load("G90 G94 G17 G21\nG28 G91 Z0.\nG90\nT1 M6\nG0 X20. Y10.\n"
                                  "G1 Z-1. F100\nG2 X30. Y20. I10. J0. F500\nG3 X40 Y10 R10\n"
                                  "G20 G91 G1 X-1.\nG21 G90 G0 Z5\nM30\n");
    const std::vector<DryRunRow> planned = DryRun(path);
    ASSERT_EQ(planned.size(), 6u);
    EXPECT_GT(planned[2].reports.size(), 20u); // the quarter circle, in straight moves
    EXPECT_EQ(c().Grid1Model->data(c().Grid1Model->index(2, 0), Qt::DisplayRole).toString(),
              "G02 ");
    EXPECT_EQ(c().Grid1Model->headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), "7");
    EXPECT_TRUE(c().CheckText->text().contains("\nRead by the G-code reader"));
    EXPECT_TRUE(c().CheckText->text().contains("Skipped, as the board cannot act on them: G28"));

    messages.confirm = false;
    c().Run2->click();
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].contains("G28 (move home) on line 2"));
    EXPECT_TRUE(Received().empty());

    messages.confirm = true;
    c().Run2->click();
    // The tool change before the first move pauses the run; Run goes on from there.
    ASSERT_EQ(messages.shown.size(), 3);
    EXPECT_TRUE(messages.shown[2].startsWith("Tool change at line 4: T1 M6"))
        << messages.shown[2].toStdString();
    EXPECT_TRUE(Received().empty());
    c().Run2->click();
    EXPECT_EQ(Received(), AllReports(planned));
    EXPECT_EQ(Displays(), Shown(planned.back().position));
    c().Run2->click(); // asked once a load; the tool change comes again
    EXPECT_EQ(messages.shown.size(), 4);
}

TEST_F(MainFormRunTest, StopDuringLineSevenCompletesItAndSendsNothingMore) {
    const std::vector<DryRunRow> planned = DryRun(Load(TenLines));
    onReport = [this](int n) {
        if (n == 7) {
            Later([this] { c().Command3->click(); });
        }
    };
    c().Run2->click();
    EXPECT_EQ(board.ReportsReceived(), 7u);
    EXPECT_EQ(messages.shown, QStringList{"Run Stopped"});
    EXPECT_EQ(Displays(), Shown(planned[6].position));
    EXPECT_EQ(c().LineProcessed->text(), "7");
    EXPECT_EQ(c().StatusField()->text(), "OK"); // line 7 was acknowledged before the stop
    // Not said to be finished: where it can go on instead, with the row selected.
    EXPECT_EQ(c().RunProgressText->text(),
              "Stopped after line 7: Run from here (Ctrl+Shift+R) goes on with line 8");
    EXPECT_EQ(c().Grid1->currentIndex().row(), 7);

    // A STOP while nothing runs is forgotten by the next run.
    c().Command3->click();
    c().Run2->click();
    EXPECT_EQ(board.ReportsReceived(), 17u);
    EXPECT_EQ(messages.shown.size(), 1);
}

TEST_F(MainFormRunTest, LimitOrEmergencyStopEndsTheRunBeforeTheNextLineGoesOut) {
    for (const char* code : {"XL", "ES"}) {
        SCOPED_TRACE(code);
        const std::vector<DryRunRow> planned = DryRun(Load(TenLines));
        const std::size_t before = board.ReportsReceived();
        messages.shown.clear();
        onReport = [&](int n) {
            if (static_cast<std::size_t>(n) == before + 3) {
                board.SendStatus(code);
            }
        };
        c().Run2->click();
        EXPECT_EQ(board.ReportsReceived(), before + 3);
        EXPECT_EQ(messages.shown, QStringList{LimitMessage(code)}); // no "Run Stopped"
        // Line 4 is neither planned, drawn nor sent: the displays show where line 3 went.
        EXPECT_EQ(Displays(), Shown(planned[2].position));
        EXPECT_EQ(c().LineProcessed->text(), "3");
        // The view counts line 3 as not cut for sure, as the resume point does: the report came
        // in while it was under way.
        EXPECT_EQ(c().Picture1->CutRows(), 2u);
        EXPECT_TRUE(c().Run2->isEnabled());
    }
}

TEST_F(MainFormRunTest, LimitDuringOnePartOfASplitLineKeepsTheNextPartBack) {
    Load("G01 X40000 F30000\nG01 X0\n");
    onReport = [this](int n) {
        if (n == 1) {
            board.SendStatus("XA");
        }
    };
    c().Run2->click();
    EXPECT_EQ(board.ReportsReceived(), 1u);
    EXPECT_EQ(messages.shown, QStringList{LimitMessage("XA")});
    // The first half went out: 10,666,600 of 21,333,200 steps, 20,000 mm at 533.33.
    EXPECT_EQ(Displays()[0], "20000.000");
}

TEST_F(MainFormRunTest, SimulatedRunSendsNothingAndPutsTheMachineBackForTheNextGoto) {
    Load("G01 X10 Y5 F100\nG01 X20\nG01 Z-3\n");
    c().Check2->setChecked(true);
    c().Text16->setText("20");
    const std::int64_t startMs = clock.NowMs();
    c().Run2->click();
    EXPECT_EQ(clock.NowMs() - startMs, 3 * 20);
    EXPECT_EQ(board.ReportsReceived(), 0u);
    EXPECT_EQ(Displays(), (QStringList{"0000.000", "0000.000", "0000.000"}));
    EXPECT_EQ(form->Motion().machine[Axis::X].positionMm, 0);
    EXPECT_EQ(c().LineProcessed->text(), "3");
    EXPECT_EQ(c().Packet->text(), "7000000663259"); // Z down 3 mm: 1599 steps at 571

    c().Check2->setChecked(false);
    c().Text13->setText("5");
    c().Command4->click();
    ASSERT_EQ(board.ReportsReceived(), 1u);
    EXPECT_EQ(board.LastCommand()->command.fields.xSteps, 2666u); // 5 mm from 0, not from 20
    EXPECT_EQ(c().XpositionDisplay->text(), "0005.000");
}

TEST_F(MainFormRunTest, OverrideGivesEveryFeedLineTheCuttingSpeed) {
    Load("G00 X1\nG01 X2 F75\nG01 X3 F3000\nY4\n");
    c().Check1->setChecked(true);
    c().cutspeed->setText("0500.00");
    c().Run2->click();
    std::vector<unsigned> periods;
    for (const auto& logged : board.Log()) {
        periods.push_back(logged.command.fields.stepPeriod);
    }
    EXPECT_EQ(periods, (std::vector<unsigned>{57, 114, 114, 114}));
}

TEST_F(MainFormRunTest, ABoardThatDoesNotAcknowledgeGetsEachLineAfterTheTimeOut) {
    Load("G01 X1 F100\nG01 X2\n");
    for (const bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silent" : "lower-case ok");
        board.SetAnswering(!silent);
        board.SetLowerCaseOk(!silent);
        messages.shown.clear();
        const std::size_t before = board.ReportsReceived();
        const std::int64_t startMs = clock.NowMs();
        c().Run2->click();
        EXPECT_EQ(clock.NowMs() - startMs, 2 * 180'000);
        // After the first, unanswered run, X is not to be trusted: the second run asks first.
        if (!silent) {
            ASSERT_FALSE(messages.shown.isEmpty());
            EXPECT_TRUE(messages.shown.takeFirst().startsWith("The machine may not be where"));
        }
        EXPECT_EQ(messages.shown, QStringList(2, " Communication Error"));
        EXPECT_EQ(board.ReportsReceived(), before + 2); // the run went on with the next line
        EXPECT_EQ(c().XpositionDisplay->text(), "0002.000");
    }
}

TEST_F(MainFormRunTest, ARowThatCannotBePlannedStopsTheRunWithItsMessageOnThatRow) {
    Load("G01 X5 F100\nG01 Y5 F0.5\nG01 X9\n");
    ASSERT_EQ(messages.shown.size(), 1); // the preview met it first
    c().Run2->click();
    EXPECT_EQ(board.ReportsReceived(), 1u);
    ASSERT_EQ(messages.shown.size(), 2);
    EXPECT_EQ(messages.shown[1], messages.shown[0]);
    EXPECT_TRUE(messages.shown[1].contains("0000.500")) << messages.shown[1].toStdString();
    EXPECT_EQ(RedRows(), std::vector<int>{1});
    EXPECT_EQ(c().LineProcessed->text(), "2");
    // Nothing of line 2 went out, so the displays stay where the machine is.
    EXPECT_EQ(Displays(), (QStringList{"0005.000", "0000.000", "0000.000"}));
    EXPECT_TRUE(c().Run2->isEnabled());
}

TEST_F(MainFormRunTest, RunWithNothingLoadedSendsNothingAndLeavesTheControlsEnabled) {
    c().Run2->setEnabled(true);
    c().Run2->click();
    EXPECT_EQ(board.ReportsReceived(), 0u);
    EXPECT_TRUE(c().Run2->isEnabled());
    EXPECT_TRUE(c().LoadGcode->isEnabled());
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(MainFormRunTest, ProgressTellsTheLineAndTheBoardTimeLeft) {
    Load("G01 X1 F100\nX2\nX3\n");
    QStringList seen;
    onReport = [&](int) {
        seen << c().RunProgressText->text();
        EXPECT_FALSE(c().RunProgress->isHidden());
    };
    c().Run2->click();
    // 533 steps at period 571 are 0.599 s a line.
    EXPECT_EQ(seen, (QStringList{"line 1 of 3, about 1.8 s left", "line 2 of 3, about 1.2 s left",
                                 "line 3 of 3, about 0.6 s left"}));
    // The end is said where the progress was, and no message waits for an answer.
    EXPECT_FALSE(c().RunProgressText->isHidden());
    EXPECT_TRUE(c().RunProgress->isHidden());
    EXPECT_EQ(c().RunProgressText->text(), "Run finished: 3 lines in 2 s");
    EXPECT_TRUE(messages.shown.isEmpty());

    c().Check2->setChecked(true);
    c().Text16->setText("400");
    QStringList simulated;
    clock.CallAt(clock.NowMs() + 500, [&] { simulated << c().RunProgressText->text(); });
    c().Run2->click();
    EXPECT_EQ(simulated, QStringList{"line 2 of 3, about 0.8 s left"});
}

// ---- one motion at a time

TEST_F(MainFormRunTest, GotoOrRunClicksDuringAWaitAreIgnored) {
    Load("G01 X1 F100\n");
    c().Text13->setText("10");
    clock.CallAt(clock.NowMs() + 100, [this] {
        form->Command4_Click();
        form->Run2_Click();
        form->LoadGcode_Click();
    });
    c().Command4->click(); // 5333 steps at period 57: 0.598 s
    EXPECT_EQ(board.ReportsReceived(), 1u);
    EXPECT_EQ(c().XpositionDisplay->text(), "0010.000");

    // During a run, after a limit message has enabled the controls again.
    onReport = [this](int n) {
        if (n == 2) {
            board.SendStatus("YL");
            Later([this] { c().Command4->click(); });
        }
    };
    c().Run2->click();
    EXPECT_EQ(board.ReportsReceived(), 2u);
}

TEST_F(MainFormRunTest, ClosingTheWindowDuringAWaitEndsItAndSendsNothingMore) {
    Load(TenLines);
    board.SetAnswering(false);
    clock.CallAt(clock.NowMs() + 1000, [this] { form->close(); });
    c().Run2->click();
    EXPECT_EQ(board.ReportsReceived(), 1u);
    EXPECT_TRUE(messages.shown.isEmpty()); // no " Communication Error" for a closing window
    EXPECT_FALSE(form->Running());
    c().Command4->click();
    EXPECT_EQ(board.ReportsReceived(), 1u);
}

// ---- GOTO and zeroing

TEST_F(MainFormRunTest, GotoNormalisesTheEntriesAndSendsOneRapidMoveAtTheTravelSpeed) {
    c().Text13->setText("12.3456");
    c().Text15->setText("-2");
    c().Command4->click();
    EXPECT_EQ(c().Text13->text(), "0012.346");
    EXPECT_EQ(c().Text14->text(), "0000.000");
    EXPECT_EQ(Displays(), (QStringList{"0012.346", "0000.000", "-0002.000"}));
    ASSERT_EQ(board.ReportsReceived(), 1u);
    // Rapid, Z down, X up: flag 0b1101; X 12.346 mm at 533.33 is 6584 steps, Z 2 mm 1066.
    EXPECT_EQ(Received().back(), (ReportBytes{0, 13, 0, 25, 184, 0, 0, 0, 4, 42, 0, 57}));
    EXPECT_EQ(c().Packet->text(), "13025184000442057");
    EXPECT_EQ(arrivals, QStringList{"OA"});
    EXPECT_EQ(c().StepsEcho(Axis::X)->text(), "6584");
    EXPECT_EQ(c().DirectionEcho(Axis::Z)->text(), "1");

    // Entries equal to the position: a report with no steps still goes out.
    c().Command4->click();
    ASSERT_EQ(board.ReportsReceived(), 2u);
    EXPECT_EQ(Received().back(), (ReportBytes{0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 57}));
}

TEST_F(MainFormRunTest, GotoThatCannotBePlannedSendsNothingAndMovesNoDisplay) {
    c().Travspeed->setText("0.5");
    c().Text13->setText("7");
    c().Command4->click();
    EXPECT_EQ(board.ReportsReceived(), 0u);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("Speed must be at least 1 mm/min"));
    EXPECT_EQ(c().XpositionDisplay->text(), "0000.000");
}

TEST_F(MainFormRunTest, SimulatedGotoWaitsTheSimulatorDelayAndSendsNothing) {
    c().Check2->setChecked(true);
    c().Text16->setText("35.5");
    c().Text14->setText("3");
    const std::int64_t startMs = clock.NowMs();
    c().Command4->click();
    EXPECT_EQ(clock.NowMs() - startMs, 36);
    EXPECT_EQ(board.ReportsReceived(), 0u);
    EXPECT_EQ(c().YpositionDisplay->text(), "0003.000");
}

TEST_F(MainFormRunTest, ZeroChangesOnlyItsAxisAndSendsNothing) {
    motion::MachineState& machine = form->Motion().machine;
    machine[Axis::X] = {"0012.345", 12.345, true, {}};
    machine[Axis::Y] = {"-0001.500", -1.5, false, {}};
    form->ShowPositions();
    c().XResetZeroButton->click();
    EXPECT_EQ(Displays(), (QStringList{"0000.000", "-0001.500", "0000.000"}));
    EXPECT_EQ(machine[Axis::X].positionMm, 0);
    EXPECT_EQ(board.ReportsReceived(), 0u);
    // A GOTO to 0 right after needs no X steps.
    c().Text14->setText("-1.5");
    c().Command4->click();
    EXPECT_EQ(board.LastCommand()->command.fields.xSteps, 0u);
}

// ---- the keyboard

TEST_F(MainFormRunTest, EscapeStopsAndCtrlOAndCtrlRClickLoadAndRunWhenTheyCan) {
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    int dialogs = 0;
    const QString path = dir.filePath("keys.nc");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(TenLines);
    file.close();
    form->SetFileChooser([&](const QString&, const QString&, QString&) {
        ++dialogs;
        return path;
    });
    c().Text13->setFocus();
    QTest::keyClick(c().Text13, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(form->Program().LineCount, 10);

    onReport = [this](int n) {
        if (n == 2) {
            Later([this] { QTest::keyClick(c().Text16, Qt::Key_Escape); });
        }
    };
    QTest::keyClick(c().Text13, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(board.ReportsReceived(), 2u);
    EXPECT_EQ(messages.shown, QStringList{"Run Stopped"});

    c().Run2->setEnabled(false);
    QTest::keyClick(c().Text13, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(board.ReportsReceived(), 2u);
    EXPECT_TRUE(c().Run2->toolTip().contains("Ctrl+R"));
}

} // namespace
