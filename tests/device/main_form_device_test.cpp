// The device link as the main window wires it: connected at start-up, reports reaching OnRead,
// the send gateway, the limit message with the controls locked, and the link closed with the
// window.
#include "app/device_link.h"
#include "app/main_form.h"
#include "device/hidapi_library.h"
#include "device/report_sender.h"
#include "device/virtual_board.h"
#include "device/waitable_timer.h"
#include "support/board_reports.h"
#include "support/fake_hidapi.h"
#include "support/virtual_main_form.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>

namespace {

const bool unixDispatcher = UseUnixEventDispatcher();

class MainFormDeviceTest : public ::testing::Test, protected VirtualMainForm {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Start();
    }

    QLineEdit* Text9() { return form->controls().StatusField(); }
};

TEST_F(MainFormDeviceTest, StartUpConnectsAndTheGatewaySendsOrSimulates) {
    device::ReportSender& sender = *form->Device().Sender();
    Text9()->setText("OA");
    sender.Send(MoveOfMs(300), false, 0);
    EXPECT_EQ(clock.NowMs(), 300);
    EXPECT_EQ(Text9()->text(), "OK");
    EXPECT_EQ(board.ReportsReceived(), 1u);

    sender.Send(MoveOfMs(300), true, 36);
    EXPECT_EQ(clock.NowMs(), 336);
    EXPECT_EQ(board.ReportsReceived(), 1u);
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(MainFormDeviceTest, ALimitReportShowsItsMessageWithTheOperationControlsLocked) {
    bool lockedWhileOpen = false;
    messages.whileOpen = [&](const QString&) {
        lockedWhileOpen =
            !form->controls().Run2->isEnabled() && !form->controls().JogButton(1)->isEnabled();
    };
    board.SendStatus("ES");
    QCoreApplication::processEvents();
    EXPECT_EQ(messages.shown, QStringList{"Emergency Stop Activated, Terminating Run sequence"});
    EXPECT_TRUE(lockedWhileOpen);
    EXPECT_EQ(form->Motion().flags.LimitStop, 1);
    EXPECT_EQ(Text9()->text(), "ES");
    EXPECT_TRUE(form->controls().Run2->isEnabled()); // unlocked after, Run included
}

TEST_F(MainFormDeviceTest, ClosingTheWindowClosesTheLink) {
    form->close();
    EXPECT_FALSE(board.WriteEx(device::DeviceVendorId, device::DeviceProductId, MoveOfMs(300)));
    board.SendStatus("XL");
    QCoreApplication::processEvents();
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_EQ(form->Motion().flags.LimitStop, 0);
}

TEST_F(MainFormDeviceTest, TheVirtualBoardIsNamedAsSuch) {
    EXPECT_EQ(form->controls().BoardState->text(), "Virtual board");
}

// The real-board backend over the fake hidapi: a board closed to this user is told once per
// plug-in, with the fix, and the label always says which of the three it is.
class BoardPermissionTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = &hidapi;
        ASSERT_TRUE(dir.isValid());
        app::MainForm::Services services;
        services.hid = &library;
        services.messages = &messages;
        services.clock = &clock;
        services.programDirectory = dir.path();
        form = std::make_unique<app::MainForm>(services);
        form->Startup();
        messages.shown.clear();
    }
    void TearDown() override {
        form.reset();
        EXPECT_EQ(hidapi.opens, hidapi.closes);
        fake = nullptr;
    }

    void Plug(const std::string& path, bool closedToUser) {
        {
            std::lock_guard lock(hidapi.mutex);
            hidapi.attached.push_back(FakeBoard{path});
            hidapi.attached.back().closedToUser = closedToUser;
        }
        Scan();
    }
    void Unplug() {
        {
            std::lock_guard lock(hidapi.mutex);
            hidapi.attached.clear();
        }
        Scan();
    }
    void Scan() {
        library.ScanOnce();
        QCoreApplication::processEvents(); // the plug, unplug and changed notifications
    }
    QString Label() const { return form->controls().BoardState->text(); }

    FakeHidapi hidapi;
    device::HidapiLibrary library{kFakeCalls, device::HidapiLibrary::Options{250, 0, false}};
    QTemporaryDir dir;
    VirtualTimeline clock;
    RecordingMessages messages;
    std::unique_ptr<app::MainForm> form;
};

TEST_F(BoardPermissionTest, ABoardClosedToThisUserIsToldOncePerPlugInWithTheFix) {
    EXPECT_EQ(Label(), "Board: not found");
    Scan();
    EXPECT_TRUE(messages.shown.isEmpty()) << "no board at all is no message";

    Plug("/dev/hidraw2", true);
    EXPECT_EQ(Label(), "Board: found, no permission");
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].contains("may not open it"));
    EXPECT_TRUE(messages.shown[0].contains("udev rule"));
    EXPECT_TRUE(messages.shown[0].contains("plug it in again"));

    Scan();
    Scan();
    EXPECT_EQ(messages.shown.size(), 1) << "said once for this plug-in";

    Unplug();
    EXPECT_EQ(Label(), "Board: not found");
    Plug("/dev/hidraw2", true);
    EXPECT_EQ(messages.shown.size(), 2) << "and again at the next one";

    Unplug();
    Plug("/dev/hidraw3", false);
    EXPECT_EQ(Label(), "Board: connected");
    EXPECT_EQ(messages.shown.size(), 2);
}

TEST(BoardPermissionStart, ABoardClosedToThisUserAtStartUpIsToldThen) {
    FakeHidapi hidapi;
    fake = &hidapi;
    hidapi.attached.push_back(FakeBoard{"/dev/hidraw0"});
    hidapi.attached.back().closedToUser = true;
    device::HidapiLibrary library{kFakeCalls, device::HidapiLibrary::Options{250, 0, false}};
    QTemporaryDir dir;
    VirtualTimeline clock;
    RecordingMessages messages;
    {
        app::MainForm::Services services;
        services.hid = &library;
        services.messages = &messages;
        services.clock = &clock;
        services.programDirectory = dir.path();
        app::MainForm form(services);
        form.Startup();
        library.ScanOnce(); // the watcher's first pass: a changed notification only
        QCoreApplication::processEvents();
        EXPECT_EQ(form.controls().BoardState->text(), "Board: found, no permission");
        EXPECT_TRUE(messages.shown.last().contains("may not open it"));
    }
    fake = nullptr;
}

} // namespace
