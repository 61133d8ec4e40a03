// A main window on the virtual board, in virtual time, started in a fresh program folder with
// the new settings file's message already answered.
#pragma once

#include "app/main_form.h"
#include "device/virtual_board.h"
#include "support/recording_messages.h"
#include "support/virtual_timeline.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <memory>

struct VirtualMainForm {
    void Start() {
        app::MainForm::Services services;
        services.hid = &board;
        services.messages = &messages;
        services.clock = &clock;
        services.programDirectory = dir.path();
        services.fallbackDirectory = dir.filePath("fallback");
        form = std::make_unique<app::MainForm>(services);
        form->Startup();
        QCoreApplication::processEvents(); // the attached board's changed notification
        messages.shown.clear();
    }

    QTemporaryDir dir;
    VirtualTimeline clock;
    device::VirtualBoard board{clock};
    RecordingMessages messages;
    std::unique_ptr<app::MainForm> form;
};
