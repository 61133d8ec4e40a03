// The toolpath view in the main window, against the virtual board: it follows the machine and
// the table, keeps the operator's zoom through a run, and draws a run from where it starts.
#include "app/main_form.h"
#include "gcode/program_table_model.h"
#include "gcode/toolpath_view.h"
#include "support/virtual_main_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace {

const bool unixDispatcher = UseUnixEventDispatcher();

// Two pockets: down into the work, across, up, over, down again.
const char* const TwoPockets = "G0 X0 Y0 Z5\nG1 Z-1 F100\nG1 X10 F300\nG0 Z5\nG0 X20 Y5\n"
                               "G1 Z-2 F100\nG1 Y15 F300\nG1 X25\nG0 Z5\n";
using Point = std::array<double, 3>;

class ToolpathViewWindowTest : public ::testing::Test, protected VirtualMainForm {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Start();
        form->resize(1280, 800);
        form->show();
        view = c().Picture1;
    }
    const app::MainControls& c() const { return form->controls(); }
    QPoint OnScreen(const Point& p) const {
        const gcode::ScreenPoint s = view->Camera().Project(p);
        return {static_cast<int>(std::lround(s.x)), static_cast<int>(std::lround(s.y))};
    }
    void Goto(const char* x, const char* y, const char* z) {
        c().Text13->setText(QString::fromLatin1(x));
        c().Text14->setText(QString::fromLatin1(y));
        c().Text15->setText(QString::fromLatin1(z));
        c().Command4->click();
        RunUntilIdle();
    }
    void Wheel(QPoint at, int notches) {
        QWheelEvent wheel(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
    }

    gcode::ToolpathView* view = nullptr;
};

TEST_F(ToolpathViewWindowTest, TheViewFollowsTheToolAndTheTableBothWays) {
    LoadGcode(TwoPockets);
    ASSERT_NE(view->Path(), nullptr);
    EXPECT_EQ(view->Path()->RowCount(), 9u);
    EXPECT_EQ(view->Marker(), (Point{0, 0, 0}));
    Goto("5", "6", "7");
    EXPECT_EQ(view->Marker(), (Point{5, 6, 7}));

    // A click beside the move of row 6 (Y5 to Y15 at X20) picks that row in the table.
    QTest::mouseClick(view, Qt::LeftButton, {}, OnScreen({20, 10, -2}) + QPoint(3, 0));
    EXPECT_EQ(c().Grid1->currentIndex().row(), 6);
    EXPECT_EQ(view->SelectedRow(), 6u);
    // Far from any move: nothing changes.
    QTest::mouseClick(view, Qt::LeftButton, {}, OnScreen({15, 30, 0}));
    EXPECT_EQ(c().Grid1->currentIndex().row(), 6);
    c().Grid1->setCurrentIndex(c().Grid1Model->index(2, 0));
    EXPECT_EQ(view->SelectedRow(), 2u);
}

TEST_F(ToolpathViewWindowTest, ARunKeepsTheOperatorsViewAndStartsWhereTheMachineStands) {
    LoadGcode(TwoPockets);
    Goto("5", "6", "7");
    c().View3D->click();
    EXPECT_EQ(view->Camera().kind, gcode::ViewKind::Turned);
    Wheel(QPoint(100, 120), 2);
    const gcode::ViewCamera zoomed = view->Camera();
    c().Run2->click();
    RunUntilIdle();
    EXPECT_EQ(view->Camera().scale, zoomed.scale);
    EXPECT_EQ(view->Camera().centre, zoomed.centre);
    // The run went from the GOTO's place, and the whole of it is cut.
    EXPECT_EQ(view->Path()->Start(), (Point{5, 6, 7}));
    EXPECT_EQ(view->CutRows(), 9u);
    EXPECT_EQ(view->Marker(), (Point{25, 15, 5}));
    EXPECT_FALSE(view->StoppedAfter());

    // Home fits the whole program again, its origin in sight.
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Home);
    gcode::PathBox all = view->Path()->Extents();
    all.Add({0, 0, 0});
    EXPECT_TRUE(view->Camera().Shows(all));
    c().ViewFront->click();
    EXPECT_EQ(view->Camera().kind, gcode::ViewKind::Front);
    EXPECT_TRUE(c().ViewFront->isChecked());
}

TEST_F(ToolpathViewWindowTest, AStoppedRunMarksItsLastAcknowledgedRow) {
    LoadGcode(TwoPockets);
    std::size_t seen = 0;
    board.SetObserver([&] {
        if (++seen == 4) {
            c().Command3->click(); // STOP during the fourth line
        }
    });
    c().Run2->click();
    RunUntilIdle();
    // The view marks the line the status names, and counts what is before it as cut.
    ASSERT_TRUE(view->StoppedAfter());
    EXPECT_EQ(view->CutRows(), *view->StoppedAfter() + 1);
    EXPECT_TRUE(c().RunProgressText->text().startsWith(
        QStringLiteral("Stopped after line %1:").arg(view->CutRows())))
        << c().RunProgressText->text().toStdString();
    // Going on from the next line after a jog: the lines before it stay where the program's
    // origin puts them, and the run goes on to the end.
    board.SetObserver({});
    Goto("30", "30", "10");
    const gcode::PathBox before = view->Path()->Extents();
    form->RunFromHere(form->ResumeRow());
    RunUntilIdle();
    EXPECT_EQ(view->Path()->Start(), (Point{0, 0, 0}));
    EXPECT_EQ(view->Path()->Extents().max, before.max);
    EXPECT_FALSE(view->StoppedAfter());
    EXPECT_EQ(view->CutRows(), 9u);
}

} // namespace
