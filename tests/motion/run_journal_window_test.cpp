// The journal of a live run against a process that dies: a window whose process is killed
// with SIGKILL in the middle of a run, then a new window that is offered the run and goes on
// with it. Whatever the moment of the kill, no row is skipped.
#include "app/main_form.h"
#include "motion/run_journal.h"
#include "support/dry_run.h"
#include "support/virtual_main_form.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

const bool unixDispatcher = UseUnixEventDispatcher();

// Forty 1 mm lines at 600 mm/min: 0.1 s each on the board, so the journal, written at most
// every quarter of a second, is a few rows behind at most.
QByteArray FortyLines() {
    QByteArray file = "G0 Z2\nG1 Z-1 F100\nF600\n";
    for (int x = 1; x <= 40; ++x) {
        file += "G1 X" + QByteArray::number(x) + "\n";
    }
    return file + "G0 Z2\n";
}

struct Folder {
    Folder() {
        QDir(path).removeRecursively();
        QDir().mkpath(path);
        QFile file(gcode);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(FortyLines());
    }
    // One folder a test: ctest runs the tests of this file side by side.
    QString path = QString::fromStdString(::testing::TempDir()) + "quorvane-journal-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
    QString gcode = path + "/part.nc";
    QString journal = path + "/state/run-journal.txt";
};

// In the child: a live run that dies when the board receives report `dieAt`.
[[noreturn]] void RunAndDie(const Folder& folder, std::uint64_t dieAt) {
    VirtualMainForm f;
    f.journalPath = folder.journal;
    f.Start();
    const QString gcode = folder.gcode;
    f.form->SetFileChooser([gcode](const QString&, const QString&, QString&) { return gcode; });
    f.form->LoadGcode_Click();
    f.board.SetObserver([&f, dieAt] {
        if (f.board.ReportsReceived() == dieAt) {
            std::raise(SIGKILL);
        }
    });
    f.form->controls().Run2->click();
    std::exit(0); // the run ended without the kill: the parent sees the wrong ending
}

std::optional<motion::RunJournal> JournalIn(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray text = file.readAll();
    return motion::ReadJournal(std::string_view(text.constData(), std::size_t(text.size())));
}

TEST(RunJournalWindow, AKilledRunIsOfferedAtTheNextStartAndGoesOnWithoutSkippingARow) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const Folder folder;
    const std::vector<DryRunRow> planned = DryRun(folder.gcode.toStdString());
    ASSERT_EQ(planned.size(), 43u);
    for (const std::uint64_t dieAt : {1u, 2u, 5u, 13u, 22u, 38u, 43u}) {
        SCOPED_TRACE(dieAt);
        QFile::remove(folder.journal);
        EXPECT_EXIT(RunAndDie(folder, dieAt), ::testing::KilledBySignal(SIGKILL), "");
        // Row dieAt - 1 was in flight: the journal may be behind, never ahead.
        const std::optional<motion::RunJournal> journal = JournalIn(folder.journal);
        ASSERT_TRUE(journal);
        const std::size_t inFlight = dieAt - 1;
        EXPECT_LE(journal->ResumeRow(), inFlight);
        EXPECT_GE(journal->ResumeRow() + 3, inFlight) << "at most a quarter second behind";

        VirtualMainForm next;
        next.journalPath = folder.journal;
        next.Start();
        next.form->OfferUnfinishedRun();
        // The offer, the positions, the approach: Return to each.
        ASSERT_EQ(next.messages.shown.size(), 3) << next.messages.shown.join("|").toStdString();
        EXPECT_TRUE(next.messages.shown[0].contains("did not finish"));
        EXPECT_TRUE(next.messages.shown[2].startsWith("Run from line"));
        const std::vector<ReportBytes> rows = AllReports(
            {planned.begin() + static_cast<std::ptrdiff_t>(journal->ResumeRow()), planned.end()});
        const std::vector<ReportBytes> sent = next.Received();
        ASSERT_GE(sent.size(), rows.size());
        EXPECT_LE(sent.size() - rows.size(), 3u) << "only the approach comes first";
        EXPECT_EQ(std::vector<ReportBytes>(sent.end() - static_cast<std::ptrdiff_t>(rows.size()),
                                           sent.end()),
                  rows);
        EXPECT_EQ(next.Displays()[0], QString::fromStdString(planned.back().position[0]));
        EXPECT_FALSE(QFile::exists(folder.journal)) << "a finished run clears it";
    }
}

TEST(RunJournalWindow, AChangedFileOrSettingIsRefusedWithItsReasonAndNothingMoves) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const Folder folder;
    EXPECT_EXIT(RunAndDie(folder, 10), ::testing::KilledBySignal(SIGKILL), "");
    ASSERT_TRUE(JournalIn(folder.journal));
    QFile file(folder.gcode);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("G0 Z10\n");
    file.close();

    VirtualMainForm next;
    next.journalPath = folder.journal;
    next.Start();
    next.form->OfferUnfinishedRun();
    ASSERT_EQ(next.messages.shown.size(), 2);
    EXPECT_TRUE(next.messages.shown[1].contains("has changed since the run"))
        << next.messages.shown[1].toStdString();
    EXPECT_TRUE(next.Received().empty());
    EXPECT_FALSE(QFile::exists(folder.journal)) << "the refused offer is not made again";
}

} // namespace
