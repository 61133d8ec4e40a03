// Unlucky moments, against the virtual board in virtual time: limit and emergency-stop reports,
// a silent or unplugged board, STOP at every point of a line, clicks inside every kind of wait,
// and a long run with faults injected at random. Afterwards nothing must have been sent twice
// or skipped, and the displays must say which positions can no longer be trusted.
#include "app/device_link.h"
#include "app/main_form.h"
#include "device/report_sender.h"
#include "device/status_report.h"
#include "device/virtual_board.h"
#include "encoding/thousandths.h"
#include "motion/step_position.h"
#include "support/dry_run.h"
#include "support/virtual_main_form.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

namespace {

const bool unixDispatcher = UseUnixEventDispatcher();

using motion::Axis;

// Five lines of 1 mm each at 100 mm/min: 533 steps at period 571, 599 ms each on the board.
const char* const FiveLines = "G01 X1 F100\nX2\nX3\nX4\nX5\n";
constexpr std::int64_t LineMs = 599;

class FaultTest : public ::testing::Test, protected VirtualMainForm {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Start();
        board.SetRecorder([this](const device::Report& report) {
            ReportBytes bytes{};
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                bytes[i] = report[i];
            }
            received.push_back(bytes);
            sentAtMs.push_back(clock.NowMs());
            if (onReport) {
                onReport(received.size());
            }
        });
    }

    const app::MainControls& c() const { return form->controls(); }
    device::ReportSender& Sender() { return *form->Device().Sender(); }
    const std::string& Unverified(Axis a) { return form->Motion().unverified[motion::index(a)]; }
    void HoldJog(int button, std::size_t untilReport) {
        onReport = [this, button, untilReport](std::size_t n) {
            if (n == untilReport) {
                Later(
                    [this, button] { QTest::mouseRelease(c().JogButton(button), Qt::LeftButton); });
            }
        };
        QTest::mousePress(c().JogButton(button), Qt::LeftButton);
        RunUntilIdle();
        onReport = nullptr;
    }

    // The step position of each display (pulses per mm x the display, rounded toward zero)
    // equals what the reports received since `since` add up to, with the way each went.
    void ExpectDisplaysWhereTheBoardWasSent(std::size_t since) {
        const motion::PulsesPerMm pulses(c().setpulses->text().toStdString());
        const bool inverse[3] = {c().InverseX->isChecked(), c().InverseY->isChecked(),
                                 c().InverseZ->isChecked()};
        std::array<std::int64_t, 3> sent{};
        for (std::size_t r = since; r < received.size(); ++r) {
            const ReportBytes& b = received[r];
            const std::int64_t counts[3] = {(b[2] << 16) | (b[3] << 8) | b[4],
                                            (b[5] << 16) | (b[6] << 8) | b[7], (b[8] << 8) | b[9]};
            for (std::size_t a = 0; a < 3; ++a) {
                const bool bit = ((b[1] >> a) & 1) != inverse[a];
                // X and Y move positive with the bit set, Z with it clear.
                sent[a] += (a < 2 ? bit : !bit) ? counts[a] : -counts[a];
            }
        }
        const QStringList shown = Displays();
        for (std::size_t a = 0; a < 3; ++a) {
            std::int64_t thousandths = 0;
            ASSERT_TRUE(encoding::ThousandthsOfShownPosition(
                shown[static_cast<qsizetype>(a)].toStdString(), thousandths));
            EXPECT_EQ(*pulses.StepsAt(thousandths), sent[a])
                << "XYZ"[a] << " shows " << shown[static_cast<qsizetype>(a)].toStdString();
        }
    }

    std::vector<ReportBytes> received;
    std::vector<std::int64_t> sentAtMs;
    std::function<void(std::size_t)> onReport;
};

TEST_F(FaultTest, ALimitAtAnyLineEndsTheRunThereAndMarksTheMovingAxis) {
    for (std::size_t line = 1; line <= 5; ++line) {
        SCOPED_TRACE(line);
        const std::vector<DryRunRow> planned = DryRun(LoadGcode(FiveLines));
        EXPECT_TRUE(Unverified(Axis::X).empty()); // a load zeroes every axis
        messages.shown.clear();
        const std::size_t before = received.size();
        board.AddFault(before + line, "XL");
        c().Run2->click();
        EXPECT_EQ(received.size(), before + line);
        EXPECT_EQ(messages.shown, QStringList{"Xlimit Reached, Terminating Run sequence"});
        // The next line is not sent: the displays show where this one took the machine.
        EXPECT_EQ(Displays()[0], QString::fromStdString(planned[line - 1].position[0]));
        EXPECT_NE(Unverified(Axis::X).find("since line " + std::to_string(line) + ":"),
                  std::string::npos)
            << Unverified(Axis::X);
        EXPECT_TRUE(Unverified(Axis::Y).empty()); // Y did not move
        EXPECT_EQ(c().XpositionDisplay->toolTip().toStdString(), Unverified(Axis::X));
        EXPECT_TRUE(c().Run2->isEnabled());
    }
}

// A limit at every report of a run whose lines move every axis both ways, two of them split in
// two: each display still says where the reports sent took its axis, to the step.
TEST_F(FaultTest, ALimitAtAnyReportLeavesEveryDisplayWhereTheBoardWasSent) {
    const char* const program = "G01 X1 F100\nX2 Z-130\nY3\nX-1 Y-2 Z0\nX0.5\n";
    for (std::size_t report = 1; report <= 7; ++report) {
        SCOPED_TRACE(report);
        LoadGcode(program);
        const std::size_t before = received.size();
        board.AddFault(before + report, "YL");
        c().Run2->click();
        ASSERT_EQ(received.size(), before + report);
        ExpectDisplaysWhereTheBoardWasSent(before);
    }
    // And a GOTO split in two, then a jog, cut short the same way.
    for (QPushButton* zero : {c().XResetZeroButton, c().YResetZeroButton, c().ZResetZeroButton}) {
        zero->click();
    }
    const std::size_t before = received.size();
    c().Text15->setText("-130");
    board.AddFault(before + 1, "ZL");
    c().Command4->click();
    EXPECT_EQ(received.size(), before + 1);
    EXPECT_EQ(Displays()[2], "-0065.000"); // the first 34,666 of 69,332 steps
    ExpectDisplaysWhereTheBoardWasSent(before);
    board.AddFault(before + 4, "ES");
    QTest::mousePress(c().JogButton(6), Qt::LeftButton); // held
    RunUntilIdle();
    QTest::mouseRelease(c().JogButton(6), Qt::LeftButton);
    EXPECT_EQ(received.size(), before + 4);
    ExpectDisplaysWhereTheBoardWasSent(before);
}

TEST_F(FaultTest, AnUntrustedAxisStaysMarkedUntilItIsZeroed) {
    LoadGcode("G01 X1 Y1 Z-1 F100\nX2\n");
    board.AddFault(1, "ES");
    c().Run2->click();
    for (const QLabel* display :
         {c().XpositionDisplay, c().YpositionDisplay, c().ZpositionDisplay}) {
        EXPECT_EQ(display->styleSheet(), app::UnverifiedDisplayStyle);
        EXPECT_TRUE(display->toolTip().startsWith("Not verified since line 1: the board reported "
                                                  "\"Emergency Stop Activated"))
            << display->toolTip().toStdString();
    }
    // A normal run afterwards does not make it trusted again.
    c().Run2->click();
    EXPECT_FALSE(Unverified(Axis::X).empty());
    c().XResetZeroButton->click();
    EXPECT_TRUE(Unverified(Axis::X).empty());
    EXPECT_TRUE(c().XpositionDisplay->toolTip().isEmpty());
    EXPECT_EQ(c().XpositionDisplay->styleSheet(), app::VerifiedDisplayStyle);
    EXPECT_EQ(c().YpositionDisplay->styleSheet(), app::UnverifiedDisplayStyle);
}

TEST_F(FaultTest, ANormalStopKeepsThePositionsTrusted) {
    LoadGcode(FiveLines);
    onReport = [this](std::size_t n) {
        if (n == 2) {
            Later([this] { c().Command3->click(); });
        }
    };
    c().Run2->click();
    EXPECT_EQ(messages.shown, QStringList{"Run Stopped"});
    EXPECT_TRUE(Unverified(Axis::X).empty());
}

TEST_F(FaultTest, EmergencyStopDuringAJogEndsItAndMarksItsAxis) {
    board.AddFault(3, "ES");
    QTest::mousePress(c().JogButton(4), Qt::LeftButton); // held
    RunUntilIdle();
    QTest::mouseRelease(c().JogButton(4), Qt::LeftButton);
    EXPECT_EQ(received.size(), 3u);
    EXPECT_EQ(messages.shown, QStringList{"Emergency Stop Activated, Terminating Run sequence"});
    EXPECT_NE(Unverified(Axis::Y).find("since a jog"), std::string::npos);
    EXPECT_TRUE(Unverified(Axis::X).empty());
}

TEST_F(FaultTest, ABoardThatDoesNotAnswerDuringARunAGotoAndAJog) {
    Sender().SetAckTimeoutMs(2000);
    for (const bool lowerCase : {false, true}) {
        SCOPED_TRACE(lowerCase ? "lower-case ok" : "silent");
        board.SetAnswering(lowerCase);
        board.SetLowerCaseOk(lowerCase);
        LoadGcode("G01 X1 F100\nX2\n");
        messages.shown.clear();
        const std::size_t before = received.size();
        c().Run2->click(); // each line after the time-out, then the next
        EXPECT_EQ(received.size(), before + 2);
        EXPECT_NE(Unverified(Axis::X).find("since line 1: the board did not acknowledge"),
                  std::string::npos);

        c().Text14->setText("3");
        const std::int64_t startMs = clock.NowMs();
        c().Command4->click();
        EXPECT_EQ(clock.NowMs() - startMs, 2000);
        EXPECT_NE(Unverified(Axis::Y).find("since the GOTO"), std::string::npos);

        HoldJog(9, received.size() + 2); // ticking goes on while the button is held
        EXPECT_EQ(received.size(), before + 5);
        EXPECT_NE(Unverified(Axis::Z).find("since a jog"), std::string::npos);
        EXPECT_EQ(messages.shown, QStringList(5, " Communication Error"));
        c().Text14->setText("0000.000");
    }
}

TEST_F(FaultTest, UnplugInTheMiddleOfARunStopsItAndItNeverResumesOnItsOwn) {
    LoadGcode(FiveLines);
    onReport = [this](std::size_t n) {
        if (n == 2) {
            clock.CallAt(clock.NowMs() + 100, [this] { board.Unplug(); });
            clock.CallAt(clock.NowMs() + 5000, [this] { board.Plug(); });
        }
    };
    c().Run2->click();
    EXPECT_EQ(received.size(), 2u);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("The board was unplugged during line 2"));
    EXPECT_NE(Unverified(Axis::X).find("unplugged"), std::string::npos);
    RunUntilIdle(); // the board comes back
    EXPECT_TRUE(board.Plugged());
    EXPECT_EQ(received.size(), 2u);
    EXPECT_TRUE(c().Run2->isEnabled());
    c().Run2->click(); // and works again when asked
    EXPECT_EQ(received.size(), 7u);
}

TEST_F(FaultTest, StopAtAnyPointOfALineEndsTheRunAfterThatLine) {
    for (const std::int64_t atMs : {std::int64_t{0}, std::int64_t{1}, LineMs / 2, LineMs - 1}) {
        SCOPED_TRACE(atMs);
        LoadGcode(FiveLines);
        messages.shown.clear();
        const std::size_t before = received.size();
        onReport = [&](std::size_t n) {
            if (n == before + 3) {
                clock.CallAt(clock.NowMs() + atMs, [this] { c().Command3->click(); });
            }
        };
        c().Run2->click();
        EXPECT_EQ(received.size(), before + 3);
        EXPECT_EQ(messages.shown, QStringList{"Run Stopped"});
        EXPECT_EQ(c().LineProcessed->text(), "3");
    }
}

TEST_F(FaultTest, ASecondMotionInsideAnyWaitIsIgnored) {
    // Every way a motion waits, and every way an operator could start another one inside it.
    struct Wait {
        const char* name;
        std::function<void()> start;
        const char* xLive;
        const char* xSimulated;
        std::size_t reportsLive;
    };
    const std::vector<Wait> waits = {
        {"line", [this] { c().Run2->click(); }, "0001.000", "0000.000", 1},
        {"GOTO", [this] { c().Command4->click(); }, "0002.000", "0002.000", 1},
        {"jog",
         [this] {
             QTest::mousePress(c().JogButton(7), Qt::LeftButton);
             clock.CallAt(clock.NowMs() + 100,
                          [this] { QTest::mouseRelease(c().JogButton(7), Qt::LeftButton); });
         },
         "0000.300", "0000.100", 2},
    };
    const std::vector<std::pair<const char*, std::function<void()>>> intruders = {
        {"Run", [this] { form->Run2_Click(); }},
        {"GOTO", [this] { form->Command4_Click(); }},
        {"jog",
         [this] {
             QTest::mousePress(c().JogButton(5), Qt::LeftButton);
             QTest::mouseRelease(c().JogButton(5), Qt::LeftButton);
         }},
        {"Load", [this] { form->LoadGcode_Click(); }},
    };
    for (const bool simulate : {false, true}) {
        for (const Wait& wait : waits) {
            for (const auto& [intruder, act] : intruders) {
                if (std::string(wait.name) == "jog" && std::string(intruder) == "jog") {
                    continue; // a press during a jog starts that jog afresh, as it should
                }
                SCOPED_TRACE(std::string(wait.name) + " / " + intruder +
                             (simulate ? " simulated" : ""));
                const QString path = QString::fromStdString(LoadGcode("G01 X1 F100\n"));
                int dialogs = 0;
                form->SetFileChooser([&](const QString&, const QString&, QString&) {
                    ++dialogs;
                    return path;
                });
                c().Check2->setChecked(simulate);
                c().Text16->setText("300");
                c().Text13->setText("2");
                const std::size_t before = received.size();
                clock.CallAt(clock.NowMs() + 40, act);
                wait.start();
                RunUntilIdle();
                EXPECT_EQ(received.size(), before + (simulate ? 0 : wait.reportsLive));
                EXPECT_EQ(Displays(), (QStringList{simulate ? wait.xSimulated : wait.xLive,
                                                   "0000.000", "0000.000"}));
                EXPECT_EQ(dialogs, 0);
            }
        }
    }
}

TEST_F(FaultTest, TenThousandLinesWithRandomFaultsEachSentOnceInOrderAsTheDryRunSays) {
    QByteArray gcode = "G01 X0 Y0 F3000\n";
    for (int i = 1; i < 10000; ++i) {
        gcode += "X" + QByteArray::number((i * 7) % 40) + "." + QByteArray::number(i % 10) + " Y" +
                 QByteArray::number((i * 3) % 25) + "\n";
    }
    const std::vector<DryRunRow> planned = DryRun(LoadGcode(gcode));
    Sender().SetAckTimeoutMs(500);
    std::mt19937 random(6017);
    std::uniform_int_distribution<int> pick(0, 99);
    int injected = 0;
    onReport = [&](std::size_t) {
        switch (pick(random)) {
        case 0: // a code that means nothing
            board.SendStatus("xx");
            ++injected;
            break;
        case 1: // an "OK" nobody asked for
            board.SendStatus("OK");
            ++injected;
            break;
        case 2: // the answer to this move gets lost
            board.SetAnswering(false);
            clock.CallAt(clock.NowMs(), [this] { board.SetAnswering(true); });
            ++injected;
            break;
        case 3: // the answer comes in lower case
            board.SetLowerCaseOk(true);
            clock.CallAt(clock.NowMs() + 1000, [this] { board.SetLowerCaseOk(false); });
            ++injected;
            break;
        default:
            break;
        }
    };
    c().Run2->click();
    EXPECT_GT(injected, 200);
    EXPECT_EQ(received, AllReports(planned)); // none twice, none skipped, every byte as planned
    EXPECT_EQ(c().LineProcessed->text(), "10000");
}

} // namespace
