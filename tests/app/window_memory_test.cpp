// Where the windows open: fitted to the screen's free area, the remembered place kept only
// while it fits, the virtual board's window beside the main one whenever there is room, and
// what is remembered surviving a restart (and a broken file costing nothing).
#include "app/main_form.h"
#include "app/window_memory.h"
#include "support/recording_messages.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A 1366 x 768 laptop with a 28 px panel along the top.
const QRect laptop(0, 28, 1366, 740);
const QRect desktop(0, 0, 1920, 1080);

TEST(WindowPlace, TheMainWindowFitsALaptopScreenAndKeepsItsSizeOnABigOne) {
    QTemporaryDir dir;
    RecordingMessages messages;
    app::MainForm::Services services;
    services.messages = &messages;
    services.programDirectory = dir.path();
    app::MainForm form(services);
    const QSize minimum = form.minimumSizeHint();
    const QRect onLaptop = app::FittedGeometry(QSize(1440, 880), minimum, laptop);
    EXPECT_TRUE(laptop.contains(onLaptop.adjusted(0, 0, 0, app::FrameAllowance.height())))
        << "the whole window, title bar included, is on the laptop's screen";
    EXPECT_GE(onLaptop.width(), minimum.width());
    EXPECT_GE(onLaptop.height(), minimum.height());

    const QRect onDesktop = app::FittedGeometry(QSize(1440, 880), minimum, desktop);
    EXPECT_EQ(onDesktop.size(), QSize(1440, 880));
    EXPECT_EQ(onDesktop.left(), (1920 - 1440) / 2);
}

TEST(WindowPlace, ARememberedPlaceIsKeptOnlyWhileItFits) {
    EXPECT_TRUE(app::FitsOnScreen(QRect(100, 100, 1200, 700), desktop));
    EXPECT_FALSE(app::FitsOnScreen(QRect(100, 100, 1440, 880), laptop));
    EXPECT_FALSE(app::FitsOnScreen(QRect(2000, 100, 800, 600), desktop)) << "a screen now gone";
}

TEST(WindowPlace, TheBoardWindowGoesBesideTheMainWindowWheneverThereIsRoom) {
    const QSize board(420, 300);
    // Room on the right.
    app::SideBySide p = app::PlaceBeside(QRect(0, 0, 1200, 800), board, desktop);
    EXPECT_EQ(p.mainWindow, QPoint(0, 0));
    EXPECT_EQ(p.board, QPoint(1216, 0));
    // Room only on the left.
    p = app::PlaceBeside(QRect(700, 50, 1200, 800), board, desktop);
    EXPECT_EQ(p.mainWindow, QPoint(700, 50));
    EXPECT_EQ(p.board, QPoint(700 - 16 - 420, 50));
    // Room for both only when the main window moves over.
    p = app::PlaceBeside(QRect(240, 100, 1440, 880), board, desktop);
    EXPECT_EQ(p.mainWindow.x() + 1440 + 16, p.board.x());
    EXPECT_GE(p.mainWindow.x(), 0);
    EXPECT_LE(p.board.x() + 420, 1920);
    // No room: over the plot at the main window's lower left, whole on the screen.
    p = app::PlaceBeside(QRect(8, 28, 1350, 700), board, laptop);
    EXPECT_EQ(p.mainWindow, QPoint(8, 28));
    EXPECT_EQ(p.board, QPoint(8, 28 + 740 - 300));
}

TEST(WindowMemoryFile, WhatIsRememberedSurvivesARestartAndABrokenFileCostsNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("config/window.ini");
    {
        app::WindowMemory memory(path);
        EXPECT_TRUE(memory.Geometry().isEmpty());
        memory.SetGeometry(QByteArray("\x01\x02\x00\xff", 4));
        memory.SetOpenFilter(QStringLiteral("Gcode (*.ngc)"));
        EXPECT_TRUE(memory.Save());
    }
    const app::WindowMemory again(path);
    EXPECT_EQ(again.Geometry(), QByteArray("\x01\x02\x00\xff", 4));
    EXPECT_EQ(again.OpenFilter(), "Gcode (*.ngc)");

    QFile broken(path);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\x00\xff[[[=\n\n");
    broken.close();
    app::WindowMemory afterDamage(path);
    EXPECT_TRUE(afterDamage.Geometry().isEmpty());
    afterDamage.SetOpenFilter(QStringLiteral("All files (*)"));
    EXPECT_TRUE(afterDamage.Save());
    EXPECT_EQ(app::WindowMemory(path).OpenFilter(), "All files (*)") << "and it is mended";

    const app::WindowMemory nowhere{QString()};
    EXPECT_TRUE(nowhere.Save());
}

} // namespace
