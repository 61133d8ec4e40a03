// The toolkit-free half of the device link: the board's reading of a motion command, the status
// report's effects, the Simulate delay and the virtual board's behaviour over time.
#include "device/board_command.h"
#include "device/simulator_delay.h"
#include "device/status_report.h"
#include "device/virtual_board.h"
#include "manual_timeline.h"

#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <initializer_list>
#include <utility>
#include <vector>

using namespace device;

namespace {

Report ReportOf(std::initializer_list<int> firstBytes) {
    Report report{};
    std::size_t i = 0;
    for (int byte : firstBytes) {
        report[i++] = static_cast<std::uint8_t>(byte);
    }
    return report;
}

Report StatusReport(const char* code) {
    return ReportOf({0, code[0], code[1]});
}

// A move of exactly `ms` milliseconds on X: count x period / 508 = ms with period 508.
Report MoveOfMs(int ms) {
    return ReportOf({0, 9, (ms >> 16) & 0xFF, (ms >> 8) & 0xFF, ms & 0xFF, 0, 0, 0, 0, 0, 508 >> 8,
                     508 & 0xFF});
}

// ---- the board's reading of a motion command

TEST(BoardCommand, DecodesEveryFieldMostSignificantByteFirst) {
    // The GOTO example: X +10 mm, Y +5 mm at the default settings.
    const BoardCommand goTo =
        DecodeBoardCommand(ReportOf({0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57}));
    EXPECT_EQ(goTo.fields.xSteps, 5333u);
    EXPECT_EQ(goTo.fields.ySteps, 2666u);
    EXPECT_EQ(goTo.fields.zSteps, 0u);
    EXPECT_EQ(goTo.fields.stepPeriod, 57u);
    EXPECT_TRUE(goTo.fields.rapid);
    EXPECT_FALSE(goTo.fields.limitsDisabled);
    EXPECT_TRUE(goTo.fields.xDirection);
    EXPECT_TRUE(goTo.fields.yDirection);
    EXPECT_FALSE(goTo.fields.zDirection);
    EXPECT_TRUE(goTo.wellFormed);
    EXPECT_NEAR(MoveTimeMs(goTo), 5333.0 * 57 / 508, 1e-9);

    const BoardCommand widest = DecodeBoardCommand(
        ReportOf({0, 0x14, 0xFF, 0xFF, 0xFF, 0x80, 0, 1, 0xFF, 0xFE, 0xFF, 0xFF}));
    EXPECT_EQ(widest.fields.xSteps, 0xFFFFFFu);
    EXPECT_EQ(widest.fields.ySteps, 0x800001u);
    EXPECT_EQ(widest.fields.zSteps, 0xFFFEu);
    EXPECT_EQ(widest.fields.stepPeriod, 0xFFFFu);
    EXPECT_TRUE(widest.fields.limitsDisabled);
    EXPECT_FALSE(widest.fields.rapid);
    EXPECT_TRUE(widest.fields.zDirection);
    EXPECT_FALSE(widest.fields.xDirection);
}

TEST(BoardCommand, MoveTimeFollowsTheLongestAxis) {
    EXPECT_DOUBLE_EQ(MoveTimeMs(DecodeBoardCommand(MoveOfMs(2000))), 2000.0);
    // Z longest: 1016 steps at period 500 = 1000 ms.
    EXPECT_DOUBLE_EQ(MoveTimeMs(DecodeBoardCommand(
                         ReportOf({0, 0, 0, 0, 10, 0, 0, 20, 0x03, 0xF8, 0x01, 0xF4}))),
                     1000.0);
    EXPECT_DOUBLE_EQ(MoveTimeMs(DecodeBoardCommand(ReportOf({0, 8}))), 0.0);
}

TEST(BoardCommand, MarksReportsThatBreakTheFixedParts) {
    Report tail = ReportOf({0, 9});
    tail[64] = 1;
    for (const Report& report :
         {ReportOf({1, 9}), ReportOf({0, 0x29}), ReportOf({0, 0x89}), tail}) {
        EXPECT_FALSE(DecodeBoardCommand(report).wellFormed);
        EXPECT_NE(Describe(DecodeBoardCommand(report)).find("MALFORMED"), std::string::npos);
    }
}

// ---- status reports

// Library stub handing out queued reports.
class QueuedReports : public HidLibrary {
public:
    bool Connect(NotifySink) override { return true; }
    bool Disconnect() override { return true; }
    DeviceHandle GetHandle(int, int) override { return 5; }
    void SetReadNotify(DeviceHandle handle, bool notify) override {
        notified.emplace_back(handle, notify);
    }
    bool Read(DeviceHandle, Report& buffer) override {
        if (reports.empty()) {
            return false;
        }
        buffer = reports.front();
        reports.pop_front();
        return true;
    }
    bool WriteEx(int, int, const Report&) override { return true; }
    int GetVendorID(DeviceHandle) override { return DeviceVendorId; }
    int GetProductID(DeviceHandle) override { return DeviceProductId; }

    std::deque<Report> reports;
    std::vector<std::pair<DeviceHandle, bool>> notified;
};

class RecordingFields : public StatusFields {
public:
    std::string Text9() override { return text9; }
    void SetText9(const std::string& code) override { text9 = code; }
    void SetLimitStop() override { limitStop = 1; }
    void DisableControls() override { calls.push_back("Disable"); }
    void EnableControls() override { calls.push_back("Enable"); }
    void ShowMessage(std::string_view text) override {
        calls.emplace_back(text);
        messages.emplace_back(text);
        if (whileOpen) {
            auto action = std::move(whileOpen); // an operator answers each message once
            action();
        }
    }

    std::string text9 = "OA";
    int limitStop = 0;
    std::vector<std::string> calls;
    std::vector<std::string> messages;
    std::function<void()> whileOpen;
};

TEST(StatusReport, EachLimitCodeRaisesLimitStopAndShowsItsMessageOnceWithControlsLocked) {
    for (const LimitCode& limit : LimitCodes) {
        SCOPED_TRACE(std::string(limit.code));
        QueuedReports hid;
        RecordingFields fields;
        hid.reports.push_back(StatusReport(std::string(limit.code).c_str()));
        Report BufferIn{};
        HandleRead(hid, 5, BufferIn, fields);
        EXPECT_EQ(fields.text9, limit.code);
        EXPECT_EQ(fields.limitStop, 1);
        EXPECT_EQ(fields.calls,
                  (std::vector<std::string>{"Disable", std::string(limit.message), "Enable"}));
    }
}

TEST(StatusReport, OtherCodesAreOnlyStored) {
    for (const char* code : {"OK", "ok", "xl", "Xl", "OA", "AB"}) {
        SCOPED_TRACE(code);
        QueuedReports hid;
        RecordingFields fields;
        hid.reports.push_back(StatusReport(code));
        Report BufferIn{};
        HandleRead(hid, 5, BufferIn, fields);
        EXPECT_EQ(fields.text9, code);
        EXPECT_EQ(fields.limitStop, 0);
        EXPECT_TRUE(fields.calls.empty());
    }
}

TEST(StatusReport, BytesBeyondAsciiAndZeroSurviveAsTwoCharacters) {
    const std::string code = StatusCodeOf(ReportOf({0, 0, 200}));
    ASSERT_EQ(code.size(), 2u);
    EXPECT_EQ(code[0], '\0');
    EXPECT_EQ(static_cast<unsigned char>(code[1]), 200);
}

TEST(StatusReport, AReadThatYieldsNothingChangesNothing) {
    QueuedReports hid;
    RecordingFields fields;
    fields.text9 = "XL";
    Report BufferIn = StatusReport("ES");
    HandleRead(hid, 5, BufferIn, fields);
    EXPECT_EQ(fields.text9, "XL");
    EXPECT_EQ(fields.limitStop, 0);
    EXPECT_TRUE(fields.calls.empty());
    EXPECT_EQ(BufferIn, StatusReport("ES"));
}

TEST(StatusReport, AReportHandledWhileAMessageIsOpenRedirectsTheRemainingComparisons) {
    struct Case {
        const char* first;
        const char* second;
        std::vector<std::string> codesShown;
    };
    // A later code in the order shows a second time; an earlier one does not.
    const std::vector<Case> cases{
        {"XL", "XA", {"XL", "XA", "XA"}}, {"XA", "XL", {"XA", "XL"}}, {"YL", "XL", {"YL", "XL"}},
        {"XL", "ES", {"XL", "ES", "ES"}}, {"XL", "OK", {"XL"}},
    };
    auto messageOf = [](const std::string& code) {
        for (const LimitCode& limit : LimitCodes) {
            if (limit.code == code) {
                return std::string(limit.message);
            }
        }
        return std::string();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " then " + c.second);
        QueuedReports hid;
        RecordingFields fields;
        Report BufferIn{};
        hid.reports.push_back(StatusReport(c.first));
        fields.whileOpen = [&] {
            hid.reports.push_back(StatusReport(c.second));
            HandleRead(hid, 5, BufferIn, fields);
        };
        HandleRead(hid, 5, BufferIn, fields);
        std::vector<std::string> expected;
        for (const std::string& code : c.codesShown) {
            expected.push_back(messageOf(code));
        }
        EXPECT_EQ(fields.messages, expected);
        EXPECT_EQ(fields.text9, c.second);
        EXPECT_EQ(std::count(fields.calls.begin(), fields.calls.end(), "Disable"),
                  std::count(fields.calls.begin(), fields.calls.end(), "Enable"));
        EXPECT_EQ(fields.calls.back(), "Enable");
    }
}

TEST(StatusReport, ChangedSwitchesOnReadNotificationForTheBoard) {
    QueuedReports hid;
    HandleChanged(hid);
    EXPECT_EQ(hid.notified, (std::vector<std::pair<DeviceHandle, bool>>{{5, true}}));
}

// ---- Simulate delay

TEST(SimulatorDelay, RoundsValOfTheTextToWholeMillisecondsTiesToEven) {
    const std::vector<std::pair<const char*, int>> cases{
        {"20", 20},
        {"2.5", 2},
        {"3.5", 4},
        {"20.4ms", 20},
        {"-7", -7},
        {"-2.5", -2},
        {"", 0},
        {"abc", 0},
        {"1e30", INT_MAX},
        {"-1e30", INT_MIN},
        {"2147483647.4", INT_MAX},
    };
    for (const auto& [text, ms] : cases) {
        EXPECT_EQ(SimulatorDelayMs(text), ms) << '"' << text << '"';
    }
}

// ---- the virtual board

class VirtualBoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        board.Connect(
            [this](int wParam, DeviceHandle lParam) { notes.emplace_back(wParam, lParam); });
        notes.clear();
        board.SetReadNotify(board.GetHandle(DeviceVendorId, DeviceProductId), true);
    }

    // The codes of the reports announced so far, read the way OnRead reads them.
    std::vector<std::string> TakeAnswers() {
        std::vector<std::string> codes;
        for (const auto& [wParam, lParam] : notes) {
            Report buffer{};
            if (wParam == NotifyRead && board.Read(lParam, buffer)) {
                codes.push_back(StatusCodeOf(buffer));
            }
        }
        notes.clear();
        return codes;
    }

    bool Write(const Report& report) {
        return board.WriteEx(DeviceVendorId, DeviceProductId, report);
    }

    ManualTimeline clock;
    VirtualBoard board{clock};
    std::vector<std::pair<int, DeviceHandle>> notes;
};

TEST_F(VirtualBoardTest, AnswersOkWhenTheMoveIsDoneAndQueuesCommands) {
    ASSERT_TRUE(Write(MoveOfMs(100)));
    ASSERT_TRUE(Write(MoveOfMs(50)));
    clock.AdvanceTo(99);
    EXPECT_TRUE(TakeAnswers().empty());
    clock.AdvanceTo(100);
    EXPECT_EQ(TakeAnswers(), std::vector<std::string>{"OK"});
    clock.AdvanceTo(149);
    EXPECT_TRUE(TakeAnswers().empty());
    clock.AdvanceTo(150);
    EXPECT_EQ(TakeAnswers(), std::vector<std::string>{"OK"});
    ASSERT_EQ(board.ReportsReceived(), 2u);
    EXPECT_EQ(board.LastCommand()->command.fields.xSteps, 50u);
    EXPECT_EQ(board.Log().front().command.fields.xSteps, 100u);
}

TEST_F(VirtualBoardTest, SpeedFactorScalesTheMoveTime) {
    for (const auto& [factor, answerAtMs] : std::vector<std::pair<double, std::int64_t>>{
             {0.0, 0}, {-3.0, 0}, {0.5, 500}, {2.0, 2000}}) {
        SCOPED_TRACE(factor);
        VirtualBoard paced(clock);
        std::vector<std::int64_t> answeredAtMs;
        paced.Connect([&](int wParam, DeviceHandle) {
            if (wParam == NotifyRead) {
                answeredAtMs.push_back(clock.NowMs());
            }
        });
        paced.SetReadNotify(paced.GetHandle(DeviceVendorId, DeviceProductId), true);
        paced.SetSpeedFactor(factor);
        const std::int64_t startMs = clock.NowMs();
        paced.WriteEx(DeviceVendorId, DeviceProductId, MoveOfMs(1000));
        clock.AdvanceBy(5000);
        EXPECT_EQ(answeredAtMs, std::vector<std::int64_t>{startMs + answerAtMs});
    }
}

TEST_F(VirtualBoardTest, ScriptedAnswers) {
    board.AnswerNextWith("XL");
    Write(MoveOfMs(10));
    Write(MoveOfMs(10));
    clock.AdvanceBy(100);
    EXPECT_EQ(TakeAnswers(), (std::vector<std::string>{"XL", "OK"}));

    board.SetLowerCaseOk(true);
    Write(MoveOfMs(10));
    board.SendStatus("ES");
    EXPECT_EQ(TakeAnswers(), std::vector<std::string>{"ES"});
    clock.AdvanceBy(100);
    EXPECT_EQ(TakeAnswers(), std::vector<std::string>{"ok"});

    Write(MoveOfMs(10));
    board.SetAnswering(false);
    Write(MoveOfMs(10));
    clock.AdvanceBy(100);
    EXPECT_TRUE(TakeAnswers().empty());
    EXPECT_EQ(board.ReportsReceived(), 5u);
}

TEST_F(VirtualBoardTest, ReportsWaitForReadWhenNotAnnounced) {
    const DeviceHandle handle = board.GetHandle(DeviceVendorId, DeviceProductId);
    board.SetReadNotify(handle, false);
    board.SendStatus("XL");
    EXPECT_TRUE(notes.empty());
    Report buffer{};
    ASSERT_TRUE(board.Read(handle, buffer));
    EXPECT_EQ(StatusCodeOf(buffer), "XL");
    EXPECT_FALSE(board.Read(handle, buffer));
}

TEST_F(VirtualBoardTest, UnplugAndPlugAnnounceAndGiveANewHandle) {
    const DeviceHandle first = board.GetHandle(DeviceVendorId, DeviceProductId);
    Write(MoveOfMs(100));
    board.Unplug();
    EXPECT_EQ(notes, (std::vector<std::pair<int, DeviceHandle>>{{NotifyUnplugged, first},
                                                                {NotifyChanged, 0}}));
    notes.clear();
    EXPECT_EQ(board.GetHandle(DeviceVendorId, DeviceProductId), 0);
    EXPECT_FALSE(Write(MoveOfMs(10)));
    clock.AdvanceBy(1000);
    EXPECT_TRUE(notes.empty()); // the move in progress died with the plug

    board.Plug();
    const DeviceHandle second = board.GetHandle(DeviceVendorId, DeviceProductId);
    EXPECT_NE(second, first);
    EXPECT_EQ(notes, (std::vector<std::pair<int, DeviceHandle>>{{NotifyPlugged, second},
                                                                {NotifyChanged, 0}}));
    notes.clear();
    // Read notification is off until the changed handler switches it on again.
    Write(MoveOfMs(10));
    clock.AdvanceBy(100);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(board.GetVendorID(first), 0);
    EXPECT_EQ(board.GetVendorID(second), DeviceVendorId);
}

TEST_F(VirtualBoardTest, ConnectAnnouncesAnAttachedBoardAndDisconnectStopsEverything) {
    ManualTimeline otherClock;
    for (bool plugged : {true, false}) {
        VirtualBoard fresh(otherClock, plugged);
        std::vector<int> seen;
        fresh.Connect([&](int wParam, DeviceHandle) { seen.push_back(wParam); });
        EXPECT_EQ(seen, plugged ? std::vector<int>{NotifyChanged} : std::vector<int>{});
    }
    EXPECT_FALSE(board.WriteEx(DeviceVendorId + 1, DeviceProductId, MoveOfMs(1)));
    board.Disconnect();
    EXPECT_FALSE(Write(MoveOfMs(1)));
    board.SendStatus("XL");
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(board.ReportsReceived(), 0u);
}

} // namespace
