// The toolkit-free half of the device link: the status report's effects, the board's timing of
// a command, the Simulate delay and the virtual board's behaviour over time.
#include "device/board_command.h"
#include "device/simulator_delay.h"
#include "device/status_report.h"
#include "device/virtual_board.h"
#include "support/board_reports.h"
#include "support/manual_timeline.h"

#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <utility>
#include <vector>

using namespace device;

namespace {

Report StatusReport(const std::string& code) {
    return Report{0, std::uint8_t(code[0]), std::uint8_t(code[1])};
}

TEST(BoardCommand, MoveTimeFollowsTheLongestAxisAndBrokenFixedPartsAreMarked) {
    EXPECT_DOUBLE_EQ(MoveTimeMs(DecodeBoardCommand(MoveOfMs(2000))), 2000.0);
    // Z longest: 1016 steps at period 500 = 1 s; the GOTO example: 5333 steps at 57.
    EXPECT_DOUBLE_EQ(
        MoveTimeMs(DecodeBoardCommand(Report{0, 0, 0, 0, 10, 0, 0, 20, 3, 0xF8, 1, 0xF4})), 1000.0);
    EXPECT_DOUBLE_EQ(
        MoveTimeMs(DecodeBoardCommand(Report{0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57})),
        5333.0 * 57 / 508);
    EXPECT_TRUE(DecodeBoardCommand(MoveOfMs(1)).wellFormed);
    Report tail = MoveOfMs(1);
    tail[64] = 1;
    for (const Report& report : {Report{1, 9}, Report{0, 0x29}, Report{0, 0x89}, tail}) {
        EXPECT_FALSE(DecodeBoardCommand(report).wellFormed);
    }
}

// Library stub handing out queued reports.
class QueuedReports : public HidLibrary {
public:
    bool Connect(NotifySink) override { return true; }
    bool Disconnect() override { return true; }
    DeviceHandle GetHandle(int, int) override { return 5; }
    void SetReadNotify(DeviceHandle, bool) override {}
    bool Read(DeviceHandle, Report& buffer) override {
        if (reports.empty()) {
            return false;
        }
        buffer = reports.front();
        reports.pop_front();
        return true;
    }
    bool WriteEx(int, int, const Report&) override { return true; }
    int GetVendorID(DeviceHandle) override { return 0; }
    int GetProductID(DeviceHandle) override { return 0; }

    std::deque<Report> reports;
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
            std::exchange(whileOpen, nullptr)(); // the operator's one chance to act
        }
    }

    std::string text9 = "OA";
    int limitStop = 0;
    std::vector<std::string> calls;
    std::vector<std::string> messages;
    std::function<void()> whileOpen;
};

class StatusReportTest : public ::testing::Test {
protected:
    void Handle(const std::string& code) {
        hid.reports.push_back(StatusReport(code));
        HandleRead(hid, 5, BufferIn, fields);
    }

    QueuedReports hid;
    RecordingFields fields;
    Report BufferIn{};
};

TEST_F(StatusReportTest, EachLimitCodeRaisesLimitStopAndShowsItsMessageOnceWithControlsLocked) {
    for (const LimitCode& limit : LimitCodes) {
        fields = RecordingFields();
        Handle(std::string(limit.code));
        EXPECT_EQ(fields.text9, limit.code);
        EXPECT_EQ(fields.limitStop, 1);
        EXPECT_EQ(fields.calls,
                  (std::vector<std::string>{"Disable", std::string(limit.message), "Enable"}));
    }
}

TEST_F(StatusReportTest, OtherCodesAreOnlyStoredAndAnEmptyReadChangesNothing) {
    for (const char* code : {"OK", "ok", "xl", "OA", "AB"}) {
        Handle(code);
        EXPECT_EQ(fields.text9, code);
    }
    HandleRead(hid, 5, BufferIn, fields); // nothing queued
    EXPECT_EQ(fields.text9, "AB");
    EXPECT_EQ(BufferIn, StatusReport("AB"));
    EXPECT_EQ(fields.limitStop, 0);
    EXPECT_TRUE(fields.calls.empty());
}

TEST_F(StatusReportTest, AReportHandledWhileAMessageIsOpenRedirectsTheRemainingComparisons) {
    struct Case {
        const char* first;
        const char* second;
        std::vector<std::string> codesShown;
    };
    // A later code in the order shows a second time; an earlier one does not.
    for (const Case& c : {Case{"XL", "XA", {"XL", "XA", "XA"}}, Case{"XA", "XL", {"XA", "XL"}},
                          Case{"XL", "ES", {"XL", "ES", "ES"}}, Case{"XL", "OK", {"XL"}}}) {
        fields = RecordingFields();
        fields.whileOpen = [&] { Handle(c.second); };
        Handle(c.first);
        std::vector<std::string> expected;
        for (const std::string& code : c.codesShown) {
            for (const LimitCode& limit : LimitCodes) {
                if (limit.code == code) {
                    expected.emplace_back(limit.message);
                }
            }
        }
        EXPECT_EQ(fields.messages, expected) << c.first << " then " << c.second;
        EXPECT_EQ(std::count(fields.calls.begin(), fields.calls.end(), "Disable"),
                  std::count(fields.calls.begin(), fields.calls.end(), "Enable"));
    }
}

TEST(SimulatorDelay, RoundsValOfTheTextToWholeMillisecondsTiesToEven) {
    const std::vector<std::pair<const char*, int>> cases{
        {"20", 20}, {"2.5", 2}, {"3.5", 4},        {"20.4ms", 20},     {"-2.5", -2},
        {"", 0},    {"abc", 0}, {"1e30", INT_MAX}, {"-1e30", INT_MIN},
    };
    for (const auto& [text, ms] : cases) {
        EXPECT_EQ(SimulatorDelayMs(text), ms) << '"' << text << '"';
    }
}

class VirtualBoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        board.Connect(
            [this](int wParam, DeviceHandle lParam) { notes.emplace_back(wParam, lParam); });
        board.SetReadNotify(board.GetHandle(DeviceVendorId, DeviceProductId), true);
        notes.clear();
    }

    // The announced reports, read the way OnRead reads them, each with its time.
    std::vector<std::pair<std::int64_t, std::string>> RunFor(std::int64_t ms) {
        std::vector<std::pair<std::int64_t, std::string>> answers;
        board.SetObserver([&] {
            Report buffer{};
            if (!notes.empty() && notes.back().first == NotifyRead &&
                board.Read(notes.back().second, buffer)) {
                answers.emplace_back(clock.NowMs(), StatusCodeOf(buffer));
            }
        });
        clock.AdvanceBy(ms);
        board.SetObserver(nullptr);
        return answers;
    }
    bool Write(int moveMs) {
        return board.WriteEx(DeviceVendorId, DeviceProductId, MoveOfMs(moveMs));
    }

    using Answers = std::vector<std::pair<std::int64_t, std::string>>;
    ManualTimeline clock;
    VirtualBoard board{clock};
    std::vector<std::pair<int, DeviceHandle>> notes;
};

TEST_F(VirtualBoardTest, AnswersOkWhenEachMoveIsDoneOneAfterAnotherAtTheSpeedFactor) {
    Write(100);
    Write(50);
    EXPECT_EQ(RunFor(1000), (Answers{{100, "OK"}, {150, "OK"}}));
    board.SetSpeedFactor(2);
    Write(100);
    EXPECT_EQ(RunFor(1000), (Answers{{1200, "OK"}}));
    board.SetSpeedFactor(0);
    Write(100);
    EXPECT_EQ(RunFor(0), (Answers{{2000, "OK"}}));
    EXPECT_EQ(board.ReportsReceived(), 4u);
    EXPECT_EQ(board.LastCommand()->command.fields.xSteps, 100u);
}

TEST_F(VirtualBoardTest, ScriptedAnswers) {
    board.AnswerNextWith("XL");
    Write(10);
    Write(10);
    clock.CallAt(5, [this] { board.SendStatus("ES"); }); // a button on the machine
    EXPECT_EQ(RunFor(100), (Answers{{5, "ES"}, {10, "XL"}, {20, "OK"}}));
    board.SetLowerCaseOk(true);
    Write(10);
    EXPECT_EQ(RunFor(100), (Answers{{110, "ok"}}));
    Write(10);
    board.SetAnswering(false);
    Write(10);
    EXPECT_TRUE(RunFor(100).empty());
}

TEST_F(VirtualBoardTest, AFaultArrivesWithItsReportBeforeThatMovesOkAndTheMoveIsStillAcknowledged) {
    board.AddFault(2, "XL");
    board.AddFault(2, "ES");
    board.AddFault(4, "YZ");
    EXPECT_FALSE(board.WriteEx(DeviceVendorId, 0, MoveOfMs(10))); // refused: not counted
    clock.CallAt(0, [this] { Write(100); });
    clock.CallAt(10, [this] { Write(50); });
    clock.CallAt(20, [this] { Write(10); });
    EXPECT_EQ(RunFor(1000),
              (Answers{{10, "XL"}, {10, "ES"}, {100, "OK"}, {150, "OK"}, {160, "OK"}}));
    // Even a move that is done at once reports its fault first.
    board.SetSpeedFactor(0);
    clock.CallAt(1000, [this] { Write(100); });
    EXPECT_EQ(RunFor(0), (Answers{{1000, "YZ"}, {1000, "OK"}}));
    clock.CallAt(1000, [this] { Write(100); });
    EXPECT_EQ(RunFor(0), (Answers{{1000, "OK"}}));
}

TEST_F(VirtualBoardTest, TheRecorderSeesEveryAcceptedReportExactlyAsWritten) {
    std::vector<Report> recorded;
    board.SetRecorder([&](const Report& report) { recorded.push_back(report); });
    Report malformed = MoveOfMs(7);
    malformed[64] = 1; // the board takes it, so the record must show it
    board.WriteEx(DeviceVendorId, DeviceProductId, malformed);
    board.WriteEx(DeviceVendorId, DeviceProductId + 1, MoveOfMs(5)); // refused
    EXPECT_EQ(recorded, std::vector<Report>{malformed});
}

TEST_F(VirtualBoardTest, UnplugAndPlugAnnounceAndGiveANewHandleWithReportsOff) {
    const DeviceHandle first = board.GetHandle(DeviceVendorId, DeviceProductId);
    Write(100);
    board.Unplug();
    EXPECT_FALSE(Write(10));
    EXPECT_TRUE(RunFor(1000).empty()); // the move in progress died with the plug
    board.Plug();
    const DeviceHandle second = board.GetHandle(DeviceVendorId, DeviceProductId);
    EXPECT_EQ(notes, (std::vector<std::pair<int, DeviceHandle>>{{NotifyUnplugged, first},
                                                                {NotifyChanged, 0},
                                                                {NotifyPlugged, second},
                                                                {NotifyChanged, 0}}));
    EXPECT_NE(second, first);
    Write(10);
    RunFor(100);
    EXPECT_EQ(notes.size(), 4u); // read notification waits for the changed handler
    board.Disconnect();
    EXPECT_FALSE(Write(10));
}

} // namespace
