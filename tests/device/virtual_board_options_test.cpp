// quorvane-virtual's command line and the record of a run, without a window.
#include "device/virtual_board_options.h"
#include "support/board_reports.h"
#include "support/manual_timeline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace device;

namespace {

using Args = std::vector<std::string_view>;

TEST(VirtualBoardOptions, GoodValuesAreTakenAndFaultsKeepTheirOrder) {
    VirtualBoardOptions options;
    std::string error;
    ASSERT_TRUE(ParseVirtualBoardOptions({"--speed", "4", "--record", "run.jsonl", "--fault",
                                          "3:XL", "--speed", "1e-1", "--fault", "3:ES", "--fault",
                                          "18446744073709551615:a:"},
                                         options, error))
        << error;
    EXPECT_DOUBLE_EQ(options.speedFactor, 0.1);
    EXPECT_EQ(options.recordPath, "run.jsonl");
    EXPECT_EQ(options.faults, (std::vector<VirtualBoardFault>{
                                  {3, "XL"}, {3, "ES"}, {18446744073709551615u, "a:"}}));
    ASSERT_TRUE(ParseVirtualBoardOptions({"--speed", "0"}, options, error));
    EXPECT_EQ(options.speedFactor, 0.0);
    EXPECT_TRUE(options.faults.empty()); // each parse starts afresh
}

TEST(VirtualBoardOptions, EachKindOfBadArgumentIsRefusedWithOneLineNamingIt) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"--speed"}, "--speed needs a factor"},
        {{"--record", ""}, "--record needs a file name"},
        {{"--fault"}, "--fault needs N:CODE"},
        {{"--speed", "x"}, "bad speed factor \"x\""},
        {{"--speed", "-1"}, "bad speed factor"},
        {{"--speed", "inf"}, "bad speed factor"},
        {{"--speed", "2x"}, "bad speed factor"},
        {{"--fault", "XL"}, "bad fault \"XL\": give N:CODE"},
        {{"--fault", "0:XL"}, "N must be a whole number from 1"},
        {{"--fault", "18446744073709551616:XL"}, "N must be a whole number"},
        {{"--fault", "3:X"}, "bad fault \"3:X\": CODE must be two printable ASCII characters"},
        {{"--fault", "3:\xC3\xA9"}, "CODE must be two"},
        {{"--speed", "0", "-platform"}, "unknown option -platform"},
        {{"part.nc"}, "unexpected argument \"part.nc\""},
    };
    for (const auto& [args, expected] : cases) {
        VirtualBoardOptions options;
        std::string error;
        EXPECT_FALSE(ParseVirtualBoardOptions(args, options, error)) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(VirtualBoardOptions, HelpEndsTheParseWithoutAMessage) {
    for (const Args& args : {Args{"-h"}, Args{"--speed", "2", "--help", "--bogus"}}) {
        VirtualBoardOptions options;
        std::string error = "stale";
        EXPECT_FALSE(ParseVirtualBoardOptions(args, options, error));
        EXPECT_EQ(error, "");
    }
}

TEST(VirtualBoardOptions, TheParseIsFinalBeforeQtStartsUnlessItWouldReadAnArgumentOfQts) {
    const std::vector<std::pair<Args, bool>> cases = {
        {{"--speed", "-1", "--record", "--fault"}, true}, // values, however they look
        {{"-h", "-platform", "offscreen"}, true},
        {{"--speed", "x", "-platform", "offscreen"}, true},
        {{"--speed", "1", "-platform", "offscreen"}, false},
        {{"-platform", "offscreen", "--help"}, false},
    };
    for (const auto& [args, final] : cases) {
        EXPECT_EQ(ParseIsFinalWithoutToolkit(args), final) << args[0] << ' ' << args[1];
    }
}

TEST(VirtualBoardOptions, AppliedTheRecordIsEmptiedAtStartAndGetsOneFlushedLinePerReport) {
    const auto path = std::filesystem::path(::testing::TempDir()) / "quorvane_virtual_record.jsonl";
    std::ofstream(path) << "a run before\n";
    const auto recorded = [&] {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    };
    ManualTimeline clock;
    VirtualBoard board(clock);
    board.Connect([](int, DeviceHandle) {});
    VirtualBoardOptions options;
    options.speedFactor = 0;
    options.recordPath = path.string();
    options.faults = {{2, "XL"}};
    std::string error;
    ASSERT_TRUE(ApplyVirtualBoardOptions(options, board, error)) << error;
    EXPECT_EQ(board.SpeedFactor(), 0.0);
    EXPECT_EQ(recorded(), "");

    board.WriteEx(DeviceVendorId, DeviceProductId, MoveOfMs(300));
    EXPECT_EQ(recorded(), "[0, 9, 0, 1, 44, 0, 0, 0, 0, 0, 1, 252]\n"); // flushed, file still open
    board.WriteEx(DeviceVendorId, DeviceProductId, MoveOfMs(1));
    EXPECT_EQ(recorded(), "[0, 9, 0, 1, 44, 0, 0, 0, 0, 0, 1, 252]\n"
                          "[0, 9, 0, 0, 1, 0, 0, 0, 0, 0, 1, 252]\n");
    Report status{};
    EXPECT_TRUE(board.Read(board.GetHandle(DeviceVendorId, DeviceProductId), status));
    EXPECT_EQ(status, (Report{0, 'X', 'L'}));

    options.recordPath = (path.parent_path() / "no such folder" / "run.jsonl").string();
    EXPECT_FALSE(ApplyVirtualBoardOptions(options, board, error));
    EXPECT_NE(error.find(options.recordPath), std::string::npos) << error;
    board.SetRecorder(nullptr);
    std::filesystem::remove(path);
}

} // namespace
