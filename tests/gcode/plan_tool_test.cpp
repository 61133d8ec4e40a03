// quorvane-plan against rows worked out by hand from the report layout:
// flag byte 000 Dlimits rapid Z Y X, X and Y counts in 24 bits, Z in 16, period in 16.
#include "app/settings_file.h"
#include "tools/plan_tool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

namespace fs = std::filesystem;

class PlanTool : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("quorvane-plan-test-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string File(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    // A settings file as the window creates it, but for the pulses per mm.
    std::string ConfigWithPulses(const std::string& pulses) {
        app::SettingsLines lines = app::DefaultSettingsLines("/");
        lines[app::PulsesPerMmLine] = pulses;
        return File("quorvane.cfg", app::SettingsFileText(lines));
    }

    int Plan(std::vector<std::string_view> args) {
        tools::PlanOptions options;
        std::string error;
        EXPECT_TRUE(tools::ParsePlanArguments(args, options, error)) << error;
        out_.text_.clear();
        err_.text_.clear();
        return tools::RunPlan(options, out_, err_);
    }

    std::vector<std::string> OutLines() const {
        std::vector<std::string> lines;
        std::istringstream in(out_.text_);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    fs::path dir_;
    tools::StringSink out_;
    tools::StringSink err_;
};

// Defaults of a new settings file: 533.33 pulses per mm, PW delay 57150, travel 1000, cut 500.
TEST_F(PlanTool, JsonRowsMatchHandCheckedReports) {
    const std::string gcode = File("part.nc", "%\r\n(square with a plunge)\r\nN10 G00 Z5\r\n"
                                              "N20 G00 X10 Y5\r\nN30 G01 Z-1 F100\r\nG01 X20\r\n"
                                              "Y15 F250\r\nX10\r\nG00 Z5\r\nM30\r\n");
    EXPECT_EQ(Plan({"--json", gcode}), tools::PlanExitDone);
    const std::vector<std::string> expected = {
        R"({"lines": 7, "xmax": "0020.000", "ymax": "0015.000", "dialect": "design"})",
        // Z up 5 mm: 2666 steps, bit 0; rapid; 57150 / 1000 = 57.
        R"({"row": 0, "line": 3, "cells": ["G00 ", "", "", "Z0005.000 ", "F1000.000"], "reports": [[0, 8, 0, 0, 0, 0, 0, 0, 10, 106, 0, 57]], "position": ["0000.000", "0000.000", "0005.000"]})",
        // X +10 (5333 = 0x14D5) and Y +5: flags 8 + 2 + 1; the G00 feed is modal.
        R"({"row": 1, "line": 4, "cells": ["G00 ", "X0010.000 ", "Y0005.000 ", "", "F1000.000"], "reports": [[0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57]], "position": ["0010.000", "0005.000", "0005.000"]})",
        // Z down 6 mm: 3199 = 0x0C7F, bit 1; X and Y keep their bits; 57150 / 100 = 571.
        R"({"row": 2, "line": 5, "cells": ["G01 ", "", "", "Z-0001.000 ", "F0100.000 "], "reports": [[0, 7, 0, 0, 0, 0, 0, 0, 12, 127, 2, 59]], "position": ["0010.000", "0005.000", "-0001.000"]})",
        R"({"row": 3, "line": 6, "cells": ["G01 ", "X0020.000 ", "", "", "F0100.000 "], "reports": [[0, 7, 0, 20, 213, 0, 0, 0, 0, 0, 2, 59]], "position": ["0020.000", "0005.000", "-0001.000"]})",
        // A coordinate line continues G01; its own F250 gives 228.
        R"({"row": 4, "line": 7, "cells": ["G01 ", "", "Y0015.000 ", "", "F0250.000 "], "reports": [[0, 7, 0, 0, 0, 0, 20, 213, 0, 0, 0, 228]], "position": ["0020.000", "0015.000", "-0001.000"]})",
        // X back 10 mm: bit 0.
        R"({"row": 5, "line": 8, "cells": ["G01 ", "X0010.000 ", "", "", "F0250.000 "], "reports": [[0, 6, 0, 20, 213, 0, 0, 0, 0, 0, 0, 228]], "position": ["0010.000", "0015.000", "-0001.000"]})",
        R"({"row": 6, "line": 9, "cells": ["G00 ", "", "", "Z0005.000 ", "F1000.000"], "reports": [[0, 10, 0, 0, 0, 0, 0, 0, 12, 127, 0, 57]], "position": ["0010.000", "0015.000", "0005.000"]})",
    };
    EXPECT_EQ(OutLines(), expected);
    EXPECT_EQ(err_.text_, "");
}

TEST_F(PlanTool, ConfigFileGivesOverrideInversionAndLimitsBit) {
    // Lines: folder, InverseX, InverseY, InverseZ, Simulate, fit, Override, GOTO x3, Travspeed,
    // cutspeed, jogspeeds, simulator delay, pulses per mm, PW delay, Dlimits.
    const std::string config =
        File("quorvane.cfg", "/tmp\r\n1\r\n0\r\n0\r\n0\r\n0\r\n1\r\n0000.000\r\n0000.000\r\n"
                             "0000.000\r\n800\r\n400\r\n800\r\n20\r\n533.33\r\n57150\r\n1\r\n");
    const std::string gcode = File("part.nc", "G01 X5 F100\nG00 Y-2\n");
    EXPECT_EQ(Plan({"--config", config, "--json", gcode}), tools::PlanExitDone);
    const std::vector<std::string> expected = {
        R"({"lines": 2, "xmax": "0005.000", "ymax": "-0002.00", "dialect": "design"})",
        // Override: 57150 / 400 = 142; X +5 sends bit 1 inverted to 0; Dlimits adds 16.
        R"({"row": 0, "line": 1, "cells": ["G01 ", "X0005.000 ", "", "", "F0100.000 "], "reports": [[0, 16, 0, 10, 106, 0, 0, 0, 0, 0, 0, 142]], "position": ["0005.000", "0000.000", "0000.000"]})",
        // 57150 / 800 = 71; Y -2: 1066 = 0x042A, bit 0; X keeps its sent bit 0, inverted again.
        R"({"row": 1, "line": 2, "cells": ["G00 ", "", "Y-0002.000 ", "", "F0800.000"], "reports": [[0, 25, 0, 0, 0, 0, 4, 42, 0, 0, 0, 71]], "position": ["0005.000", "-0002.000", "0000.000"]})",
    };
    EXPECT_EQ(OutLines(), expected);
}

TEST_F(PlanTool, OverlongSettingsFileIsReadInPartWithTheReadersWarning) {
    std::string text = "/tmp\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0000.000\r\n0000.000\r\n"
                       "0000.000\r\n800\r\n400\r\n800\r\n20\r\n533.33\r\n57150\r\n0\r\n";
    const std::string gcode = File("part.nc", "G01 X5 F100\n");
    const std::string full = File("quorvane.cfg", text + "extra\r\nmore\r\n");
    EXPECT_EQ(Plan({"--config", full, gcode}), tools::PlanExitDone);
    EXPECT_EQ(err_.text_, "quorvane-plan: quorvane.cfg has 19 lines; only the first 17 hold "
                          "settings, so lines 18 to 19 were not read.\n");

    // Cut inside line 3: one warning, the reader's, not the short file's as well.
    const std::string cut = File("cut.cfg", "/tmp\r\n0\r\n" + std::string(70000, '0'));
    EXPECT_EQ(Plan({"--config", cut, gcode}), tools::PlanExitDone);
    EXPECT_EQ(err_.text_, "quorvane-plan: cut.cfg is larger than 64 KiB and line 3 does not end "
                          "within its first 64 KiB; lines 3 to 17 were not read and take the "
                          "values of a new settings file.\n");
}

TEST_F(PlanTool, SplitMoveShowsEveryReportAndTheSummaryWarnsWithItsLine) {
    // 40000 mm at 533.33 pulses per mm is 21,333,200 steps: two reports of 10,666,600.
    const std::string gcode = File("long.nc", "(long move)\nG01 X40000 F1000\n");
    EXPECT_EQ(Plan({"--json", gcode}), tools::PlanExitDone);
    ASSERT_EQ(OutLines().size(), 2u);
    EXPECT_NE(OutLines()[1].find(R"("reports": [[0, 1, 162, 194, 104, 0, 0, 0, 0, 0, 0, 57], )"
                                 R"([0, 1, 162, 194, 104, 0, 0, 0, 0, 0, 0, 57]])"),
              std::string::npos)
        << OutLines()[1];

    EXPECT_EQ(Plan({gcode}), tools::PlanExitDone);
    EXPECT_NE(out_.text_.find("Reports:        2\n"), std::string::npos) << out_.text_;
    EXPECT_NE(out_.text_.find("Warning: file line 2 (program line 1): "), std::string::npos)
        << out_.text_;
}

TEST_F(PlanTool, RowThatCannotBePlannedEndsTheOutputWithItsError) {
    const std::string gcode = File("bad.nc", "G00 X1\nG01 X2 F0.5\nG01 X3\n");
    EXPECT_EQ(Plan({"--json", gcode}), tools::PlanExitRefused);
    const std::vector<std::string> lines = OutLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].rfind(R"({"row": 1, "error": ")", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find(R"(\"0000.500 \")"), std::string::npos) << lines[2];

    EXPECT_EQ(Plan({gcode}), tools::PlanExitRefused);
    EXPECT_NE(out_.text_.find("Refused: file line 2 (program line 2): "), std::string::npos)
        << out_.text_;
}

TEST_F(PlanTool, CellsKeptAsTextAndEightBitBytesReachTheJson) {
    // 3000000 is beyond the compact number range; 5\xe9 is no number, so its row is refused.
    const std::string gcode = File("text.nc", "G00 X3000000\nG01 x5\xe9\n");
    // The G-code reader refuses the byte at its line; the original filter keeps the cell.
    EXPECT_EQ(Plan({"--json", gcode}), tools::PlanExitRefused);
    EXPECT_EQ(OutLines(), std::vector<std::string>{R"({"line": 2, "error": "Line 2 of the file )"
                                                   R"(holds a character that is no part of )"
                                                   R"(G-code (byte 233), so the file is not )"
                                                   R"(loaded."})"});
    EXPECT_EQ(Plan({"--json", "--dialect", "design", gcode}), tools::PlanExitRefused);
    const std::vector<std::string> lines = OutLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find(R"("cells": ["G00 ", "X3000000.000 ", "", "", "F1000.000"])"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[1].find(R"("position": ["3000000.000", "0000.000", "0000.000"])"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find("5\xc3\xa9"), std::string::npos) << lines[2];
}

TEST_F(PlanTool, SummaryStatesSizeReportsAndMachineTime) {
    const std::string gcode = File("one.nc", "G00 X10\n");
    EXPECT_EQ(Plan({gcode}), tools::PlanExitDone);
    // 5333 steps x period 57 / 508,000 = 0.598 s.
    for (const char* part : {"Lines kept:     1\n", "Workpiece size: X 0010.000  Y 0\n",
                             "Reports:        1\n", "Machine time:   0.6 s", "No warnings.\n"}) {
        EXPECT_NE(out_.text_.find(part), std::string::npos) << part << "\n" << out_.text_;
    }
}

TEST_F(PlanTool, EightBitBytesAndQuotesAreJsonCharacters) {
    std::string json;
    tools::AppendJsonString(json, std::string("X5\xe9\"\\\x01 ", 7));
    EXPECT_EQ(json, "\"X5\xc3\xa9\\\"\\\\\\u0001 \"");
}

TEST_F(PlanTool, UnreadableFilesAndBadArgumentsAreUsageErrors) {
    tools::PlanOptions options;
    std::string error;
    EXPECT_FALSE(tools::ParsePlanArguments({}, options, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(tools::ParsePlanArguments({"--config"}, options, error));
    EXPECT_FALSE(tools::ParsePlanArguments({"--jsn", "a.nc"}, options, error));
    EXPECT_FALSE(tools::ParsePlanArguments({"a.nc", "b.nc"}, options, error));
    EXPECT_FALSE(tools::ParsePlanArguments({"--help"}, options, error));
    EXPECT_TRUE(error.empty());
    ASSERT_TRUE(tools::ParsePlanArguments({"--json", "--config", "c", "a.nc"}, options, error));
    EXPECT_TRUE(options.json);
    EXPECT_EQ(options.configPath, "c");
    EXPECT_EQ(options.gcodePath, "a.nc");

    EXPECT_EQ(Plan({(dir_ / "missing.nc").string()}), tools::PlanExitUsage);
    EXPECT_NE(err_.text_.find("cannot read"), std::string::npos);
    EXPECT_EQ(out_.text_, "");
    const std::string gcode = File("a.nc", "G00 X1\n");
    EXPECT_EQ(Plan({"--config", (dir_ / "none.cfg").string(), gcode}), tools::PlanExitUsage);
    for (const std::vector<std::string_view>& bad :
         {std::vector<std::string_view>{"--from", "0", "a.nc"},
          {"--from", "1.5", "a.nc"},
          {"--from", "a.nc"},
          {"--clearance", "-1", "a.nc"},
          {"--clearance", "1001", "a.nc"}}) {
        EXPECT_FALSE(tools::ParsePlanArguments(bad, options, error)) << bad[0] << " " << bad[1];
        EXPECT_FALSE(error.empty());
    }
}

// The tolerance given is the one arcs are planned with, as the window plans them with its
// field: a coarser one cuts the same half circle in fewer straight moves.
TEST_F(PlanTool, TheArcToleranceGivenIsTheOnePlanningUses) {
    const std::string gcode = File("arc.nc", "G0 X0 Y0\nG2 X20 Y0 I10 J0 F300\n");
    std::size_t reports[2] = {};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Plan({"--json", "--arc-tolerance", i == 0 ? "0.002" : "0.05", gcode}),
                  tools::PlanExitDone);
        for (std::size_t at = 0; (at = out_.text_.find("], [", at)) != std::string::npos; ++at) {
            ++reports[i];
        }
    }
    EXPECT_GT(reports[0], 3 * reports[1]) << reports[0] << " against " << reports[1];
}

} // namespace

namespace {

TEST_F(PlanTool, PulsesPerMmThatReadsAsZeroIsAWarningNotAQuietZeroStepRun) {
    const std::string config = ConfigWithPulses("abc");
    const std::string gcode = File("a.nc", "G01 X10 F100\n");
    EXPECT_EQ(Plan({"--config", config, gcode}), tools::PlanExitDone);
    EXPECT_NE(out_.text_.find("Warning: Pulses per MM \"abc\" reads as 0"), std::string::npos)
        << out_.text_;
    EXPECT_EQ(out_.text_.find("No warnings."), std::string::npos);
}

} // namespace
TEST_F(PlanTool, AMoveOfMoreThan65536ReportsIsRefusedAndNothingOfItIsWritten) {
    // Pulses per mm 1: Z counts 65,535 steps a report, so Z4294901760 is 65,536 reports and one
    // millimetre more is one report too many.
    const std::string config = ConfigWithPulses("1");
    // Beyond any machine, so only the original filter reads these files.
    const std::string longest = File("longest.nc", "G00 Z4294901760\n");
    EXPECT_EQ(Plan({"--config", config, "--dialect", "design", longest}), tools::PlanExitDone);
    EXPECT_NE(out_.text_.find("Reports:        65536\n"), std::string::npos) << out_.text_;

    const std::string tooLong = File("too-long.nc", "G00 X1\nG00 Z4294901761\n");
    EXPECT_EQ(Plan({"--config", config, "--json", "--dialect", "design", tooLong}),
              tools::PlanExitRefused);
    const std::vector<std::string> lines = OutLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].rfind(R"({"row": 1, "error": "The Z move of )", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("at most 65536 reports"), std::string::npos) << lines[2];

    const std::string typo = File("typo.nc", "G01 Z1e13\n");
    EXPECT_EQ(Plan({"--dialect", "design", typo}), tools::PlanExitRefused);
    EXPECT_NE(out_.text_.find("Refused: file line 1 (program line 1): The Z move of "),
              std::string::npos)
        << out_.text_;
}

TEST_F(PlanTool, FoldersDevicesAndOverlongLinesAreClearUsageErrors) {
    EXPECT_EQ(Plan({dir_.string()}), tools::PlanExitUsage);
    EXPECT_EQ(err_.text_, "quorvane-plan: cannot read " + dir_.string() +
                              ": it is a folder, not a G-code file\n");
    EXPECT_EQ(Plan({"/dev/zero"}), tools::PlanExitUsage);
    EXPECT_EQ(err_.text_,
              "quorvane-plan: cannot read /dev/zero: it is a device, not a G-code file\n");

    const std::string gcode =
        File("long.nc", "G00 X1\n" + std::string((std::size_t{1} << 20) + 1, 'q') + "\nX2\n");
    EXPECT_EQ(Plan({gcode}), tools::PlanExitUsage);
    EXPECT_EQ(err_.text_.rfind("quorvane-plan: " + gcode + ": Line 2 of the file is longer", 0), 0u)
        << err_.text_;
    EXPECT_EQ(out_.text_, "");
}

namespace {

// A sink whose first write fails as a full memory would.
template <class Failure> class FailingSink : public tools::OutputSink {
public:
    void Write(std::string_view) override {
        if (!failed_) {
            failed_ = true;
            throw Failure("no room");
        }
    }

private:
    bool failed_ = false;
};

class ThrowingBadAlloc : public std::bad_alloc {
public:
    explicit ThrowingBadAlloc(const char*) {}
};

} // namespace

TEST_F(PlanTool, RunningOutOfMemoryIsAMessageAndExitTwo) {
    const std::string gcode = File("a.nc", "G00 X1\n");
    tools::PlanOptions options;
    options.gcodePath = gcode;
    tools::StringSink err;
    int status = -1;
    FailingSink<ThrowingBadAlloc> noMemory;
    EXPECT_NO_THROW(status = tools::RunPlan(options, noMemory, err));
    EXPECT_EQ(status, tools::PlanExitUsage);
    EXPECT_EQ(err.text_.rfind("quorvane-plan: out of memory (", 0), 0u) << err.text_;

    err.text_.clear();
    FailingSink<std::length_error> tooLarge;
    EXPECT_NO_THROW(status = tools::RunPlan(options, tooLarge, err));
    EXPECT_EQ(status, tools::PlanExitUsage);
    EXPECT_NE(err.text_.find("no room"), std::string::npos) << err.text_;
}

TEST_F(PlanTool, SummaryShowsControlBytesOfTheFileAndItsNameVisibly) {
    const std::string gcode = File("a\x1b]0;owned\x07.nc", "G01 X\x1b[2J\x9b"
                                                           "5 Y\xc3\xa9\n");
    EXPECT_EQ(Plan({"--dialect", "design", gcode}), tools::PlanExitRefused);
    for (const char raw : {'\x1b', '\x07', '\x9b'}) {
        EXPECT_EQ(out_.text_.find(raw), std::string::npos) << out_.text_;
    }
    EXPECT_NE(out_.text_.find("a\\x1b]0;owned\\x07.nc\n"), std::string::npos) << out_.text_;
    EXPECT_NE(out_.text_.find("X target \"\\x1b[2J\\x9b5\""), std::string::npos) << out_.text_;
    EXPECT_EQ(tools::TerminalText("Fr\xc3\xa4se \xe2\x82\xac \xc2\x9b \xed\xa0\x80 \xc0\xaf"),
              "Fr\xc3\xa4se \xe2\x82\xac \\xc2\\x9b \\xed\\xa0\\x80 \\xc0\\xaf");
}

namespace {

TEST(PlanToolArguments, VersionAndHelpAnswerWithoutPlanningAndAreToldApart) {
    tools::PlanOptions options;
    std::string error = "stale";
    EXPECT_FALSE(tools::ParsePlanArguments({"--version"}, options, error));
    EXPECT_TRUE(error.empty());
    EXPECT_TRUE(options.version);
    // Anywhere on the line, before the file or after it.
    EXPECT_FALSE(tools::ParsePlanArguments({"--json", "a.nc", "--version"}, options, error));
    EXPECT_TRUE(error.empty());
    EXPECT_TRUE(options.version);
    // A parse after --version starts afresh: --help is the usage, not the version.
    EXPECT_FALSE(tools::ParsePlanArguments({"--help"}, options, error));
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(options.version);
    EXPECT_FALSE(tools::ParsePlanArguments({"-h", "--version"}, options, error));
    EXPECT_FALSE(options.version);
    // A near miss is an unknown option, not the version.
    EXPECT_FALSE(tools::ParsePlanArguments({"--versio"}, options, error));
    EXPECT_EQ(error, "unknown option --versio");
    EXPECT_FALSE(options.version);
    ASSERT_TRUE(tools::ParsePlanArguments({"a.nc"}, options, error));
    EXPECT_FALSE(options.version);
}

TEST(PlanToolArguments, VersionIsOneLineWithTheProjectsVersion) {
    EXPECT_EQ(tools::PlanVersion(), "quorvane-plan " QUORVANE_EXPECTED_VERSION "\n");
}

TEST(PlanToolArguments, UsageNamesEveryOptionTheParserTakes) {
    const std::string usage = tools::PlanUsage();
    EXPECT_EQ(usage.rfind("usage: quorvane-plan ", 0), 0u) << usage;
    for (const char* option : {"--config FILE", "--json", "-h, --help", "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option << " missing from\n" << usage;
    }
    EXPECT_EQ(usage.back(), '\n');
}

} // namespace
