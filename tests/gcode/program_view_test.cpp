// The table model and the plot box, on the offscreen platform.
#include "gcode/loader.h"
#include "gcode/program_table_model.h"
#include "gcode/toolpath_view.h"

#include <QSignalSpy>
#include <QTableView>
#include <gtest/gtest.h>

namespace {

const gcode::FeedDefaults Feeds{"500", "1000"};

std::shared_ptr<const gcode::Program> ProgramOf(const std::string& text) {
    return std::make_shared<const gcode::Program>(gcode::LoadProgram(text, Feeds));
}

TEST(ProgramTable, ShowsFiveColumnsOfCellTextsWithoutHeaders) {
    gcode::ProgramTableModel model;
    model.SetProgram(ProgramOf("N10 G01 X10 Y5 F200\nG00 Z\xe9\n"));
    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 5);
    const auto text = [&](int r, int c) { return model.data(model.index(r, c), Qt::DisplayRole); };
    EXPECT_EQ(text(0, 0).toString(), "G01 ");
    EXPECT_EQ(text(0, 1).toString(), "X0010.000 ");
    EXPECT_EQ(text(0, 3).toString(), "");
    EXPECT_EQ(text(0, 4).toString(), "F0200.000 ");
    EXPECT_EQ(text(1, 3).toString(), QString::fromUtf8("Z\u00e9 ")); // byte 0xE9 is é
    EXPECT_FALSE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).isValid());
    EXPECT_FALSE(text(2, 0).isValid());
}

TEST(ProgramTable, FirstCellsStartWhiteAndTheRunMarksRowsRed) {
    gcode::ProgramTableModel model;
    model.SetProgram(ProgramOf("X1\nX2\nX3\n"));
    const auto background = [&](int r, int c) {
        return model.data(model.index(r, c), Qt::BackgroundRole);
    };
    EXPECT_EQ(background(1, 0).value<QColor>(), QColor(255, 255, 255));
    EXPECT_FALSE(background(1, 1).isValid());

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.SetFirstCellColour(1, gcode::RowRed);
    EXPECT_EQ(background(1, 0).value<QColor>(), QColor(255, 0, 0));
    EXPECT_EQ(changed.count(), 1);
    model.SetFirstCellColour(1, gcode::RowWhite);
    EXPECT_EQ(model.FirstCellColour(1), gcode::RowWhite);
    model.SetFirstCellColour(-1, gcode::RowRed); // row -1 of an empty run: nothing happens
    model.SetFirstCellColour(3, gcode::RowRed);
    EXPECT_EQ(changed.count(), 2);

    model.SetFirstCellColour(2, gcode::RowRed);
    model.ResetEmpty(100);
    EXPECT_EQ(model.rowCount(), 100);
    EXPECT_EQ(model.FirstCellColour(2), gcode::RowWhite);
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), "");
}

TEST(ProgramTable, ColumnWidthsSurviveALoad) {
    gcode::ProgramTableModel model;
    model.ResetEmpty(100);
    QTableView view;
    view.setModel(&model);
    view.setColumnWidth(0, 33);
    view.setColumnWidth(3, 77);
    model.SetProgram(ProgramOf("X1\n"));
    EXPECT_EQ(view.columnWidth(0), 33);
    EXPECT_EQ(view.columnWidth(3), 77);
}

TEST(ProgramTable, AMillionRowsStayWithinSixtyFourBytesEachAndScrollQuickly) {
    std::string text;
    text.reserve(20'000'000);
    for (int i = 0; i < 1'000'000; ++i) {
        text += "X";
        text += std::to_string(i % 200);
        text += ".125 Y7.5\r\n";
    }
    gcode::ProgramTableModel model;
    model.SetProgram(ProgramOf(text));
    ASSERT_EQ(model.rowCount(), 1'000'000);
    EXPECT_LE(model.MemoryBytes() / 1'000'000, 64u);

    QTableView view;
    view.setModel(&model);
    view.resize(400, 300);
    view.show();
    view.scrollTo(model.index(999'999, 0), QAbstractItemView::PositionAtTop);
    EXPECT_GT(view.rowAt(0), 999'000);
    EXPECT_EQ(model.data(model.index(999'999, 1), Qt::DisplayRole).toString(), "X0199.125 ");
}

} // namespace
