// quorvane-virtual's command line and the record of a run, without a window.
#include "device/report_record.h"
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
using Faults = std::vector<VirtualBoardFault>;

TEST(VirtualBoardOptions, GoodValuesAreTakenAndFaultsKeepTheirOrder) {
    struct Case {
        Args args;
        double speedFactor;
        std::string recordPath;
        Faults faults;
    };
    const std::vector<Case> cases = {
        {{}, 1.0, "", {}},
        {{"--speed", "0"}, 0.0, "", {}},
        {{"--speed", "2.5"}, 2.5, "", {}},
        {{"--speed", "1e-1"}, 0.1, "", {}},
        {{"--speed", "4", "--speed", "3"}, 3.0, "", {}},
        {{"--record", "run.jsonl", "--speed", "0"}, 0.0, "run.jsonl", {}},
        {{"--fault", "3:XL", "--fault", "3:ES", "--fault", "1:YZ"},
         1.0,
         "",
         {{3, "XL"}, {3, "ES"}, {1, "YZ"}}},
        // Any two printable characters, the colon and the blank among them.
        {{"--fault", "18446744073709551615:a:", "--fault", "7: X"},
         1.0,
         "",
         {{18446744073709551615u, "a:"}, {7, " X"}}},
    };
    for (const Case& c : cases) {
        VirtualBoardOptions options;
        options.faults.push_back({9, "OK"}); // a second parse starts afresh
        std::string error = "stale";
        ASSERT_TRUE(ParseVirtualBoardOptions(c.args, options, error)) << error;
        EXPECT_EQ(error, "");
        EXPECT_DOUBLE_EQ(options.speedFactor, c.speedFactor);
        EXPECT_EQ(options.recordPath, c.recordPath);
        EXPECT_EQ(options.faults, c.faults);
    }
}

TEST(VirtualBoardOptions, EachKindOfBadArgumentIsRefusedWithOneLineNamingIt) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"--speed"}, "--speed needs a factor"},
        {{"--record"}, "--record needs a file name"},
        {{"--fault"}, "--fault needs N:CODE"},
        {{"--record", ""}, "--record needs a file name"},
        {{"--speed", "x"}, "bad speed factor \"x\""},
        {{"--speed", "-1"}, "bad speed factor \"-1\""},
        {{"--speed", "inf"}, "bad speed factor \"inf\""},
        {{"--speed", "nan"}, "bad speed factor \"nan\""},
        {{"--speed", "1e999"}, "bad speed factor \"1e999\""},
        {{"--speed", "2x"}, "bad speed factor \"2x\""},
        {{"--speed", ""}, "bad speed factor \"\""},
        {{"--fault", "XL"}, "bad fault \"XL\": give N:CODE"},
        {{"--fault", "0:XL"}, "bad fault \"0:XL\": N must be a whole number from 1"},
        {{"--fault", "-1:XL"}, "N must be a whole number"},
        {{"--fault", "1.5:XL"}, "N must be a whole number"},
        {{"--fault", ":XL"}, "N must be a whole number"},
        {{"--fault", "18446744073709551616:XL"}, "N must be a whole number"},
        {{"--fault", "3:X"}, "bad fault \"3:X\": CODE must be two printable ASCII characters"},
        {{"--fault", "3:XLL"}, "CODE must be two"},
        {{"--fault", "3:"}, "CODE must be two"},
        {{"--fault", "3:X\t"}, "CODE must be two"},
        {{"--fault", "3:\xC3\xA9"}, "CODE must be two"},
        {{"--speed", "0", "--bogus"}, "unknown option --bogus"},
        {{"-platform", "offscreen"}, "unknown option -platform"},
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

TEST(VirtualBoardOptions, HelpStopsWithoutAMessageAndTheUsageNamesEveryOption) {
    for (const Args& args : {Args{"--help"}, Args{"-h"}, Args{"--speed", "2", "-h", "--bogus"}}) {
        VirtualBoardOptions options;
        std::string error = "stale";
        EXPECT_FALSE(ParseVirtualBoardOptions(args, options, error));
        EXPECT_EQ(error, "");
    }
    const std::string usage = VirtualBoardUsage();
    for (const char* option : {"--speed FACTOR", "--record FILE", "--fault N:CODE", "--help"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

TEST(VirtualBoardOptions, ParseIsFinalBeforeTheToolkitStartsUnlessItMayReadTheToolkitsArguments) {
    const std::vector<std::pair<Args, bool>> cases = {
        {{}, true},
        {{"--help"}, true},
        {{"--speed", "-1"}, true}, // a value, however it looks
        {{"--record", "--fault"}, true},
        {{"part.nc"}, true},
        {{"-h", "--bogus"}, true},
        {{"--speed", "x", "-platform", "offscreen"}, true},
        {{"--speed", "1", "--bogus"}, false},
        {{"-platform", "offscreen", "--help"}, false},
        {{"--record", "run.jsonl", "-style", "fusion"}, false},
    };
    for (const auto& [args, final] : cases) {
        EXPECT_EQ(ParseIsFinalWithoutToolkit(args), final) << (args.empty() ? "" : args[0]);
    }
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class AppliedOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove(recordPath);
        board.Connect([](int, DeviceHandle) {});
    }
    void TearDown() override { std::filesystem::remove(recordPath); }

    Report Pending() {
        Report buffer{};
        board.Read(board.GetHandle(DeviceVendorId, DeviceProductId), buffer);
        return buffer;
    }

    const std::filesystem::path recordPath =
        std::filesystem::path(::testing::TempDir()) / "quorvane_virtual_record_test.jsonl";
    ManualTimeline clock;
    VirtualBoard board{clock};
};

TEST_F(AppliedOptionsTest, TheRecordIsEmptiedAtStartAndHoldsOneFlushedLinePerReport) {
    std::ofstream(recordPath) << "a run before\n";
    VirtualBoardOptions options;
    options.recordPath = recordPath.string();
    options.speedFactor = 0;
    std::string error;
    ASSERT_TRUE(ApplyVirtualBoardOptions(options, board, error)) << error;
    EXPECT_EQ(fileText(recordPath), "");
    EXPECT_DOUBLE_EQ(board.SpeedFactor(), 0.0);

    board.WriteEx(DeviceVendorId, DeviceProductId,
                  Report{0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57});
    EXPECT_EQ(fileText(recordPath), "[0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57]\n");
    board.WriteEx(DeviceVendorId, DeviceProductId, MoveOfMs(300));
    EXPECT_EQ(fileText(recordPath), "[0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57]\n"
                                    "[0, 9, 0, 1, 44, 0, 0, 0, 0, 0, 1, 252]\n");
}

TEST_F(AppliedOptionsTest, FaultsAreScriptedAndAnUnwritableRecordIsRefused) {
    VirtualBoardOptions options;
    options.faults = {{2, "XL"}};
    std::string error;
    ASSERT_TRUE(ApplyVirtualBoardOptions(options, board, error)) << error;
    board.WriteEx(DeviceVendorId, DeviceProductId, MoveOfMs(10));
    EXPECT_EQ(Pending(), Report{});
    board.WriteEx(DeviceVendorId, DeviceProductId, MoveOfMs(10));
    EXPECT_EQ(Pending(), (Report{0, 'X', 'L'}));

    options.recordPath = (recordPath.parent_path() / "no such folder" / "run.jsonl").string();
    EXPECT_FALSE(ApplyVirtualBoardOptions(options, board, error));
    EXPECT_NE(error.find(options.recordPath), std::string::npos) << error;

    ReportRecordFile unopened;
    EXPECT_FALSE(unopened.Write(MoveOfMs(1)));
}

} // namespace
