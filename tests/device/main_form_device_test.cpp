// The device link as the main window wires it: connected at start-up, reports reaching OnRead,
// the send gateway, the limit message with the controls locked, and the link closed with the
// window.
#include "app/device_link.h"
#include "app/main_form.h"
#include "device/report_sender.h"
#include "device/virtual_board.h"
#include "device/waitable_timer.h"
#include "support/board_reports.h"
#include "support/virtual_main_form.h"

#include <QCoreApplication>
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

} // namespace
