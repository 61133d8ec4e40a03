// The device link on the window's thread, against the virtual board in virtual time: the hook,
// the delay, the acknowledgement wait, the status report's messages and the send gateway.
#include "app/window_status.h"
#include "device/hid_notify.h"
#include "device/report_sender.h"
#include "device/status_report.h"
#include "device/virtual_board.h"
#include "device/virtual_board_window.h"
#include "device/waitable_timer.h"
#include "support/board_reports.h"
#include "support/recording_messages.h"
#include "support/virtual_timeline.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

using namespace device;

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

const bool unixDispatcher = UseUnixEventDispatcher();

const QString kCommunicationError = QStringLiteral(" Communication Error");

QString MessageOf(const char* code) {
    for (const LimitCode& limit : LimitCodes) {
        if (limit.code == code) {
            return QString::fromLatin1(limit.message.data(), qsizetype(limit.message.size()));
        }
    }
    return {};
}

// The window the notifications are posted to; it records every one that reaches it.
class Window : public QWidget {
public:
    std::vector<int> reached;

protected:
    bool event(QEvent* event) override {
        if (event->type() == HidNotifyEvent::EventType) {
            reached.push_back(static_cast<HidNotifyEvent*>(event)->wParam);
        }
        return QWidget::event(event);
    }
};

// The main window's part of the device link, in miniature.
class DeviceLinkTest : public ::testing::Test, public HidNotifyHandler {
protected:
    void OnPlugged(DeviceHandle handle) override {
        handled.emplace_back(NotifyPlugged, handle);
        HandlePlugged(board, handle);
    }
    void OnUnplugged(DeviceHandle handle) override {
        handled.emplace_back(NotifyUnplugged, handle);
        HandleUnplugged(board, handle);
    }
    void OnChanged() override {
        handled.emplace_back(NotifyChanged, 0);
        HandleChanged(board);
    }
    void OnRead(DeviceHandle handle) override {
        handled.emplace_back(NotifyRead, handle);
        readAtMs.push_back(clock.NowMs());
        HandleRead(board, handle, BufferIn, fields);
    }

    void Connect() {
        link.ConnectDevice(&window);
        QCoreApplication::processEvents();
        handled.clear();
    }

    // Sends as GOTO and program lines do: "OA" first, so a stale "OK" does not count.
    std::int64_t SendTakingMs(const Report& report) {
        Text9.setText(QStringLiteral("OA"));
        const std::int64_t startMs = clock.NowMs();
        sender.Send(report, false, 0);
        return clock.NowMs() - startMs;
    }

    VirtualTimeline clock;
    VirtualBoard board{clock};
    Window window;
    QLineEdit Text9;
    RecordingMessages messages;
    int LimitStop = 0;
    QStringList lockCalls;
    Report BufferIn{};
    app::WindowStatus fields{
        &Text9, messages,
        app::WindowStatus::Procedures{[this] { LimitStop = 1; },
                                      [this] { lockCalls << QStringLiteral("Disable"); },
                                      [this] { lockCalls << QStringLiteral("Enable"); }}};
    HIDDLLInterface link{board, *this};
    clsWaitableTimer DelayTimer{clock};
    ReportSender sender{board, DelayTimer, clock, fields, fields};
    std::vector<std::pair<int, DeviceHandle>> handled;
    std::vector<std::int64_t> readAtMs;
};

// ---- notifications and the hook

TEST_F(DeviceLinkTest, HookDispatchesInArrivalOrderAndLetsEveryNotificationReachTheWindow) {
    Connect();
    window.reached.clear();
    for (const auto& [wParam, lParam] :
         std::vector<std::pair<int, DeviceHandle>>{{NotifyRead, 44},
                                                   {5, 55},
                                                   {NotifyPlugged, 11},
                                                   {0, 0},
                                                   {NotifyUnplugged, 22},
                                                   {NotifyChanged, 0}}) {
        QCoreApplication::postEvent(&window, new HidNotifyEvent(wParam, lParam));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(
        handled,
        (std::vector<std::pair<int, DeviceHandle>>{
            {NotifyRead, 44}, {NotifyPlugged, 11}, {NotifyUnplugged, 22}, {NotifyChanged, 0}}));
    EXPECT_EQ(window.reached, (std::vector<int>{4, 5, 1, 0, 2, 3}));

    link.DisconnectDevice();
    handled.clear();
    QCoreApplication::postEvent(&window, new HidNotifyEvent(NotifyChanged, 0));
    QCoreApplication::processEvents();
    EXPECT_TRUE(handled.empty());
    EXPECT_EQ(window.reached.back(), NotifyChanged);
}

TEST_F(DeviceLinkTest, BoardPluggedInAfterStartUpAcknowledgesFromThenOn) {
    board.Unplug();
    Connect();
    sender.SetAckTimeoutMs(5000);
    EXPECT_EQ(SendTakingMs(MoveOfMs(100)), 5000); // nobody there: only the time-out tells
    EXPECT_EQ(messages.shown, QStringList{kCommunicationError});

    board.Plug();
    QCoreApplication::processEvents();
    ASSERT_EQ(handled.size(), 2u);
    EXPECT_EQ(handled[0].first, NotifyPlugged);
    EXPECT_EQ(handled[1].first, NotifyChanged);
    EXPECT_EQ(SendTakingMs(MoveOfMs(100)), 100);
    EXPECT_EQ(Text9.text(), "OK");
    EXPECT_EQ(messages.shown.size(), 1);
}

// ---- the acknowledgement wait

TEST_F(DeviceLinkTest, OkAlreadyInText9ReturnsAfterOneEventPass) {
    Connect();
    Text9.setText(QStringLiteral("OK"));
    bool pendingEventRan = false;
    QMetaObject::invokeMethod(
        &window, [&] { pendingEventRan = true; }, Qt::QueuedConnection);
    sender.WaitForAck();
    EXPECT_TRUE(pendingEventRan);
    EXPECT_EQ(clock.NowMs(), 0);
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(DeviceLinkTest, LowerCaseOkIsNoAcknowledgementAndRunsToTheTimeOut) {
    Connect();
    board.SetLowerCaseOk(true);
    sender.SetAckTimeoutMs(2000);
    EXPECT_EQ(SendTakingMs(MoveOfMs(10)), 2000);
    EXPECT_EQ(Text9.text(), "ok");
    EXPECT_EQ(messages.shown, QStringList{kCommunicationError});
    EXPECT_EQ(readAtMs, std::vector<std::int64_t>{10});
}

TEST_F(DeviceLinkTest, TheDeadlineIsOneHundredEightySecondsFromTheStartOfTheWait) {
    Connect();
    struct Case {
        int moveMs;
        bool timedOut;
    };
    // An "OK" that arrives exactly at the deadline still counts as a time-out.
    for (const Case& c : {Case{179'000, false}, Case{180'000, true}, Case{181'000, true}}) {
        SCOPED_TRACE(c.moveMs);
        messages.shown.clear();
        EXPECT_EQ(SendTakingMs(MoveOfMs(c.moveMs)), c.timedOut ? 180'000 : c.moveMs);
        EXPECT_EQ(messages.shown.size(), c.timedOut ? 1 : 0);
        clock.AdvanceBy(2000); // let a late answer come in before the next send
        QCoreApplication::processEvents();
    }
}

TEST_F(DeviceLinkTest, ALimitReportDuringTheWaitShowsOnlyItsMessageAndTheWaitGoesOnToOk) {
    Connect();
    clock.CallAt(300, [this] { board.SendStatus("XA"); });
    EXPECT_EQ(SendTakingMs(MoveOfMs(1000)), 1000);
    EXPECT_EQ(messages.shown, QStringList{MessageOf("XA")});
    EXPECT_EQ(LimitStop, 1);
    EXPECT_EQ(lockCalls, (QStringList{"Disable", "Enable"}));
    EXPECT_EQ(Text9.text(), "OK");
}

TEST_F(DeviceLinkTest, ASecondReportWhileTheFirstMessageIsOpenIsHandledInsideIt) {
    Connect();
    bool answered = false;
    messages.whileOpen = [&](const QString&) {
        if (std::exchange(answered, true)) {
            return;
        }
        board.SendStatus("XA");
        QCoreApplication::processEvents(); // the open message box lets events run
    };
    board.SendStatus("XL");
    QCoreApplication::processEvents();
    // "XA" comes later in the order than "XL", so the first report shows it a second time.
    EXPECT_EQ(messages.shown, (QStringList{MessageOf("XL"), MessageOf("XA"), MessageOf("XA")}));
    EXPECT_EQ(Text9.text(), "XA");
    EXPECT_EQ(lockCalls.count("Disable"), 3);
    EXPECT_EQ(lockCalls.last(), "Enable");
}

TEST_F(DeviceLinkTest, AbortEndsTheWaitsInProgressAndNothingIsSentAfter) {
    Connect();
    board.SetAnswering(false);
    clock.CallAt(500, [this] { sender.Abort(); });
    Text9.setText(QStringLiteral("OA"));
    EXPECT_EQ(sender.Send(MoveOfMs(100), false, 0), ReportSender::Outcome::Aborted);
    EXPECT_EQ(clock.NowMs(), 500);
    EXPECT_EQ(sender.Send(MoveOfMs(100), false, 0), ReportSender::Outcome::Aborted);
    EXPECT_EQ(sender.Send(MoveOfMs(100), true, 1000), ReportSender::Outcome::Aborted);
    EXPECT_EQ(board.ReportsReceived(), 1u);
    EXPECT_TRUE(messages.shown.isEmpty());

    // A delay in progress ends too, however long it was meant to be.
    clsWaitableTimer delay(clock);
    clock.CallAt(600, [&] { delay.Abort(); });
    delay.Wait(60'000);
    EXPECT_EQ(clock.NowMs(), 600);
}

// ---- the delay

TEST_F(DeviceLinkTest, NestedDelaysEndAtTheLaterEndTime) {
    struct Case {
        int outerMs;
        std::int64_t innerStartMs;
        int innerMs;
        std::int64_t innerEndMs;
        std::int64_t outerEndMs;
    };
    for (const Case& c : {Case{100, 50, 300, 350, 350}, Case{100, 50, 20, 70, 100},
                          Case{100, 0, 100, 100, 100}, Case{100, 50, -1, 50, 100}}) {
        SCOPED_TRACE(c.innerMs);
        const std::int64_t startMs = clock.NowMs();
        std::optional<std::int64_t> innerEndMs;
        clock.CallAt(startMs + c.innerStartMs, [&] {
            DelayTimer.Wait(c.innerMs);
            innerEndMs = clock.NowMs() - startMs;
        });
        DelayTimer.Wait(c.outerMs);
        EXPECT_EQ(clock.NowMs() - startMs, c.outerEndMs);
        EXPECT_EQ(innerEndMs, c.innerEndMs);
    }
}

TEST_F(DeviceLinkTest, ZeroAndNegativeDelaysReturnAfterOnePassOfEvents) {
    for (int ms : {0, -1, -2147483647 - 1}) {
        bool pendingEventRan = false;
        QMetaObject::invokeMethod(
            &window, [&] { pendingEventRan = true; }, Qt::QueuedConnection);
        DelayTimer.Wait(ms);
        EXPECT_TRUE(pendingEventRan) << ms;
        EXPECT_EQ(clock.NowMs(), 0);
    }
}

TEST_F(DeviceLinkTest, ANotificationDuringADelayIsHandledBeforeTheDelayEnds) {
    Connect();
    clock.CallAt(300, [this] { board.SendStatus("OK"); });
    DelayTimer.Wait(1000);
    EXPECT_EQ(clock.NowMs(), 1000);
    EXPECT_EQ(readAtMs, std::vector<std::int64_t>{300});
    EXPECT_EQ(Text9.text(), "OK");
}

// ---- the virtual board's window

TEST_F(DeviceLinkTest, VirtualBoardWindowShowsTheLastReportAndWorksTheBoard) {
    Connect();
    VirtualBoardWindow boardWindow(board);
    board.WriteEx(DeviceVendorId, DeviceProductId,
                  Report{0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57});
    auto label = [&](const char* name) { return boardWindow.findChild<QLabel*>(name)->text(); };
    EXPECT_EQ(label("received"), "1");
    EXPECT_EQ(label("directions"), "X 1  Y 1  Z 0");
    EXPECT_EQ(label("counts"), "X 5333  Y 2666  Z 0");
    EXPECT_EQ(label("moveTime"), "0.598 s");
    EXPECT_EQ(label("flags"), "rapid, limit switches enabled");

    boardWindow.findChild<QPushButton*>("sendES")->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(messages.shown, QStringList{MessageOf("ES")});
    boardWindow.findChild<QCheckBox*>("stopAnswering")->setChecked(true);
    EXPECT_FALSE(board.Answering());
    boardWindow.findChild<QPushButton*>("plug")->click();
    EXPECT_FALSE(board.Plugged());
}

TEST_F(DeviceLinkTest, VirtualBoardWindowShowsTheSpeedFactorTheBoardStartedWith) {
    for (const double factor : {0.0, 2.5, 250.0}) {
        board.SetSpeedFactor(factor);
        VirtualBoardWindow boardWindow(board);
        EXPECT_DOUBLE_EQ(boardWindow.findChild<QDoubleSpinBox*>("speedFactor")->value(), factor);
        EXPECT_DOUBLE_EQ(board.SpeedFactor(), factor); // building the window changed nothing
    }
}

} // namespace
