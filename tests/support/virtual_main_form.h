// A main window on the virtual board, in virtual time, started in a fresh program folder with
// the new settings file's message already answered; with the helpers window tests share.
#pragma once

#include "app/main_form.h"
#include "device/tick_timer.h"
#include "device/virtual_board.h"
#include "encoding/motion_report.h"
#include "support/recording_messages.h"
#include "support/virtual_timeline.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct VirtualMainForm {
    void Start() {
        app::MainForm::Services services;
        services.hid = &board;
        services.messages = &messages;
        services.clock = &clock;
        services.programDirectory = dir.path();
        services.fallbackDirectory = dir.filePath("fallback");
        services.journalPath = journalPath;
        form = std::make_unique<app::MainForm>(services);
        form->Startup();
        QCoreApplication::processEvents(); // the attached board's changed notification
        messages.shown.clear();
    }

    // Writes the G-code into the program folder and loads it with the Load button; returns
    // the file's path.
    std::string LoadGcode(const QByteArray& gcode,
                          const QString& name = QStringLiteral("part.nc")) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(gcode);
        file.close();
        form->SetFileChooser([path](const QString&, const QString&, QString&) { return path; });
        const std::uint64_t before = board.ReportsReceived();
        form->LoadGcode_Click();
        EXPECT_EQ(board.ReportsReceived(), before) << "the preview sends nothing";
        return path.toStdString();
    }

    // Runs an action later, from inside whatever wait is going on then.
    void Later(std::function<void()> action) {
        QMetaObject::invokeMethod(form.get(), std::move(action), Qt::QueuedConnection);
    }

    // The reports the board has received, bytes 0..11 as the dry run writes them.
    std::vector<std::array<int, 12>> Received() const {
        std::vector<std::array<int, 12>> received;
        for (const auto& logged : board.Log()) {
            EXPECT_TRUE(logged.command.wellFormed);
            const auto report = encoding::MotionReport::Encode(logged.command.fields);
            std::array<int, 12> bytes{};
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                bytes[i] = report->bytes()[i];
            }
            received.push_back(bytes);
        }
        return received;
    }

    QStringList Displays() const {
        const app::MainControls& c = form->controls();
        return {c.XpositionDisplay->text(), c.YpositionDisplay->text(), c.ZpositionDisplay->text()};
    }

    // Lets events and virtual time run until nothing is left to do: no jog ticking, no tick
    // waiting, no wake-up pending.
    void RunUntilIdle() {
        // A blocking pass could go to sleep for good once its last event left nothing to do, so
        // the test moves time on itself.
        const device::TickTimer& timer = *form->controls().Timer1;
        for (int pass = 0; pass < 1000000; ++pass) {
            QCoreApplication::processEvents();
            if (!timer.isEnabled() && !timer.TickRunning() && !clock.HasPending()) {
                return;
            }
            clock.RunNextSoon();
        }
        ADD_FAILURE() << "events kept coming";
    }

    QTemporaryDir dir;
    QString journalPath; // none: no journal is kept
    VirtualTimeline clock;
    device::VirtualBoard board{clock};
    RecordingMessages messages;
    std::unique_ptr<app::MainForm> form;
};
