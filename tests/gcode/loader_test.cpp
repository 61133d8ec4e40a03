#include "gcode/loader.h"
#include "gcode/program_load.h"

#include "encoding/number_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Row = std::array<std::string, 5>;

const gcode::FeedDefaults DefaultFeeds{"500", "1000"};

std::vector<Row> RowsOf(const gcode::Program& program) {
    std::vector<Row> rows;
    for (std::size_t r = 0; r < program.LineCount(); ++r) {
        Row row;
        for (int c = 0; c < 5; ++c) {
            row[static_cast<std::size_t>(c)] = program.CellText(r, c);
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<Row> Load(const std::string& text, const gcode::FeedDefaults& feeds = DefaultFeeds) {
    return RowsOf(gcode::LoadProgram(text, feeds));
}

// The route the dry run loads by: through a file on disk.
gcode::LoadFileResult LoadThroughFile(const std::string& file, gcode::KeptLineNumbers& lines) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("quorvane-loader-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         ".nc");
    std::ofstream(path, std::ios::binary) << file;
    gcode::LoadSettings settings;
    settings.feeds = DefaultFeeds;
    settings.designOnly = true;
    gcode::LoadFileResult loaded = gcode::LoadGcodeFile(path.string(), settings);
    lines = loaded.program.fileLines;
    std::filesystem::remove(path);
    return loaded;
}

struct RowCase {
    const char* name;
    std::string file;
    std::vector<Row> rows;
};

TEST(Loader, TurnsKeptLinesIntoRowsOfFiveCells) {
    const std::vector<RowCase> cases = {
        {"block number and all words",
         "N10 G01 X10 Y5 F200\n",
         {{"G01 ", "X0010.000 ", "Y0005.000 ", "", "F0200.000 "}}},
        {"leading blanks cut; first G00 feed from Travspeed without a blank",
         "  G00 Z5\n",
         {{"G00 ", "", "", "Z0005.000 ", "F1000.000"}}},
        {"coordinate line continues G01 with the last G01 feed",
         "G01 X1 F50\nX20\n",
         {{"G01 ", "X0001.000 ", "", "", "F0050.000 "},
          {"G01 ", "X0020.000 ", "", "", "F0050.000 "}}},
        {"coordinate line as first motion line is G00",
         "X20\n",
         {{"G00 ", "X0020.000 ", "", "", "F1000.000"}}},
        {"lower-case letters kept",
         "G01 x10 y5\n",
         {{"G01 ", "x0010.000 ", "y0005.000 ", "", "F0500.000"}}},
        {"words without blanks",
         "G01X10Y5\n",
         {{"G01 ", "X0010.000 ", "Y0005.000 ", "", "F0500.000"}}},
        {"F before the coordinates is remembered",
         "G01 F100 X10\nG01 X20\n",
         {{"G01 ", "X0010.000 ", "", "", "F0100.000 "},
          {"G01 ", "X0020.000 ", "", "", "F0100.000 "}}},
        {"F glued to a Y word", "G01 F100Y5\n", {{"G01 ", "", "Y0005.000 ", "", "F0100.000 "}}},
        {"G00 and G01 keep separate feeds",
         "G00 X1 F900\nG01 X2\nG00 X3\nG01 X4 f70\nG01 X5\n",
         {{"G00 ", "X0001.000 ", "", "", "F0900.000 "},
          {"G01 ", "X0002.000 ", "", "", "F0500.000"},
          {"G00 ", "X0003.000 ", "", "", "F0900.000 "},
          {"G01 ", "X0004.000 ", "", "", "f0070.000 "},
          {"G01 ", "X0005.000 ", "", "", "f0070.000 "}}},
        {"later word of the same letter overwrites",
         "G01 X1 x2\n",
         {{"G01 ", "x0002.000 ", "", "", "F0500.000"}}},
        {"words that are not numbers stay as written",
         "G01 X5) Y Z1e3 XY7\n",
         {{"G01 ", "X ", "Y0007.000 ", "Z1000.000 ", "F0500.000"}}},
        {"other letters and tabs belong to the word",
         "G01 X10I5 Y2\t\n",
         {{"G01 ", "X10I5 ", "Y0002.000 ", "", "F0500.000"}}},
        {"rounding halves away from zero on the digits",
         "G01 X2.0005 Y-0.0004 Z-12.3456\n",
         {{"G01 ", "X0002.001 ", "Y0000.000 ", "Z-0012.346 ", "F0500.000"}}},
        {"large values print five digits or go to the text pool",
         "G01 X12345.6 Y123456789 Z-2147483.647\n",
         {{"G01 ", "X12345.600 ", "Y123456789.000 ", "Z-2147483.647 ", "F0500.000"}}},
        {"a G00 alone is a row without words", "G00\n", {{"G00 ", "", "", "", "F1000.000"}}},
        {"G001 counts as G00", "G001 X1\n", {{"G00 ", "X0001.000 ", "", "", "F1000.000"}}},
    };
    for (const RowCase& c : cases) {
        EXPECT_EQ(Load(c.file), c.rows) << c.name;
    }
}

TEST(Loader, DropsLinesItDoesNotUnderstand) {
    const std::string dropped = "G1 X10\nG02 X10 Y10 I5 J0\ng01 X10\nM03\n(comment X5)\nF300\n"
                                "%\n\tG01 X5\nN10\nN10 F100 X5\n   \n\nT1 M6\nG21\nG0 X1\n";
    const gcode::Program program = gcode::LoadProgram(dropped, DefaultFeeds);
    EXPECT_EQ(program.LineCount(), 0u);
    EXPECT_EQ(program.TempLineCount, 0u);
    EXPECT_EQ(program.XExtent.Shown(), "0");
}

TEST(Loader, FilterCutsToTheFirstMotionLetter) {
    EXPECT_EQ(gcode::FilterLine(" N10 G01 X5"), "G01 X5");
    EXPECT_EQ(gcode::FilterLine("N0042X1"), "X1");
    EXPECT_EQ(gcode::FilterLine("  ab Z-1"), "Z-1");
    EXPECT_EQ(gcode::FilterLine("Y3 F10"), "Y3 F10");
    EXPECT_EQ(gcode::FilterLine("N10 x5 Y2"), "Y2"); // lower-case x is no cut target
    EXPECT_EQ(gcode::FilterLine(" N5 F20 X1"), "");  // cut to F, which is dropped
}

TEST(Loader, AcceptsEveryLineEndAndAnUnterminatedLastLine) {
    const std::vector<Row> expected = {{"G00 ", "X0001.000 ", "", "", "F1000.000"},
                                       {"G01 ", "X0002.000 ", "", "", "F0500.000"},
                                       {"G01 ", "", "Y0003.000 ", "", "F0500.000"}};
    for (const char* file :
         {"G00 X1\r\nG01 X2\r\nY3\r\n", "G00 X1\nG01 X2\nY3\n", "G00 X1\rG01 X2\rY3\r",
          "G00 X1\r\nG01 X2\rY3", "G00 X1\n\rG01 X2\nY3"}) {
        EXPECT_EQ(Load(file), expected) << testing::PrintToString(file);
    }
}

TEST(Loader, EightBitBytesPassThroughUnchanged) {
    const std::string file = "G01 X5\xE9 Y\xff\x80\n";
    const std::vector<Row> rows = Load(file);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1], "X5\xE9 ");
    EXPECT_EQ(rows[0][2], "Y\xff\x80 ");
}

struct ExtentCase {
    const char* file;
    const char* x;
    const char* y;
};

TEST(Loader, ExtentsCompareByNumberWhenBothTextsAreNumbers) {
    const std::vector<ExtentCase> cases = {
        {"X9000\nX12000\n", "12000.00", "0"},
        {"X12000\nX9000\n", "12000.00", "0"},
        {"X-5\nX-3\n", "-0003.00", "0"},
        {"X-5\nX3\n", "0003.000", "0"},
        {"X3\nX-5\n", "0003.000", "0"},
        {"G01 X10.5 Y-2\nY-7\nX10.4\n", "0010.500", "-0002.00"},
        {"G01 x7 y8\n", "0007.000", "0008.000"},
        {"X5\nXabc\n", "abc ", "0"}, // a text ranks by character code
        {"Xabc\nX5\n", "abc ", "0"}, // "0005.000" sorts below "abc "
        {"X-1\nX-0.0001\n", "0000.000", "0"},
        {"X12345.678\nX12345.679\n", "12345.67", "0"},
        {"X123456789\nX99999\n", "12345678", "0"},
        {"Y1 Y5 Y2\n", "0", "0005.000"}, // every word counts, also overwritten ones
    };
    for (const ExtentCase& c : cases) {
        const gcode::Program program = gcode::LoadProgram(c.file, DefaultFeeds);
        EXPECT_EQ(program.XExtent.Shown(), c.x) << c.file;
        EXPECT_EQ(program.YExtent.Shown(), c.y) << c.file;
    }
}

TEST(Loader, ExtentOrderTreatsTheNumberZeroAsLowest) {
    gcode::Extent none;
    gcode::Extent small;
    small.Offer("-0005.00");
    gcode::Extent large;
    large.Offer("0012.000");
    EXPECT_TRUE(small.Greater(none));
    EXPECT_FALSE(none.Greater(small));
    EXPECT_TRUE(large.Greater(small));
    EXPECT_FALSE(none.Greater(none));
    EXPECT_TRUE(gcode::ExtentTextGreater("12000.00", "9000.000"));
    EXPECT_TRUE(gcode::ExtentTextGreater("b", "a"));
    EXPECT_TRUE(gcode::ExtentTextGreater("\xe9", "a")); // bytes above 127 sort high
}

TEST(Loader, NoStateSurvivesFromAnEarlierLoad) {
    const std::string file = "X1\nG01 X9000 F70\nX2\nG00 Y4\n";
    const gcode::Program first = gcode::LoadProgram(file, DefaultFeeds);
    const gcode::Program second = gcode::LoadProgram(file, DefaultFeeds);
    EXPECT_EQ(RowsOf(first), RowsOf(second));
    EXPECT_EQ(RowsOf(second)[0][0], "G00 ");
    EXPECT_EQ(second.XExtent.Shown(), "9000.000");
}

TEST(Loader, DefaultFeedsAreFormattedSpeedTexts) {
    EXPECT_EQ(Load("G01 X1\n", {"0500.00", "x"})[0][4], "F0500.000");
    EXPECT_EQ(Load("G00 X1\n", {"0500.00", "fast"})[0][4], "Ffast");
    EXPECT_EQ(Load("G00 X1\n", {"", ""})[0][4], "F");
}

TEST(Loader, ChunkedPassesGiveTheSameProgramAsOneShot) {
    // Chunk borders fall everywhere, including between the CR and LF of one line end.
    const std::string file = "%\r\n(head)\r\nN1 G00 Z5\r\n G01 Z-1 F100\rX1.5 Y2\nX2 Y3\r\nM30";
    const std::vector<Row> expected = Load(file);
    ASSERT_EQ(expected.size(), 4u);
    for (std::size_t size = 1; size <= file.size(); ++size) {
        gcode::LineFilter filter;
        std::string kept;
        for (std::size_t at = 0; at < file.size(); at += size) {
            filter.Feed(std::string_view(file).substr(at, size), kept);
        }
        filter.Finish(kept);
        ASSERT_EQ(filter.TempLineCount(), 4u) << size;
        gcode::ProgramBuilder builder(DefaultFeeds);
        for (std::size_t at = 0; at < kept.size(); at += size) {
            builder.Feed(std::string_view(kept).substr(at, size));
        }
        EXPECT_EQ(RowsOf(builder.Finish()), expected) << size;
    }
}

TEST(Loader, CompactNumbersMatchTheNumberTextFormatting) {
    std::mt19937 random(7);
    const std::string alphabet = "0123456789.-+e\t9";
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        const int length = static_cast<int>(random() % 12);
        for (int k = 0; k < length; ++k) {
            text.push_back(alphabet[random() % alphabet.size()]);
        }
        std::int32_t thousandths = 0;
        const std::string formatted = encoding::Format(text);
        if (gcode::ThousandthsOfWordText(text, thousandths)) {
            char buf[16];
            ASSERT_EQ(std::string(buf, gcode::WriteThousandths(thousandths, buf)), formatted)
                << '"' << text << '"';
        } else {
            // Kept as text: not a number, or a number beyond 32-bit thousandths.
            const auto value = encoding::NumberOf(text);
            ASSERT_TRUE(!value || std::abs(*value) > 2147483.6465) << '"' << text << '"';
        }
    }
}

TEST(Loader, KeptLineNumbersSendEachRowBackToItsFileLine) {
    // Dropped lines at the start, in runs, one at a time and at the end; every line end.
    const std::string file = "%\r\n(header)\r\nG21\r\nG00 X1\r\nX2\r\n(c)\rX3\nM5\nM6\nM7\n"
                             "G01 Y1\nY2\r\n(c)\nY3\nM30\n(end)";
    const std::vector<std::uint32_t> expected = {4, 5, 7, 11, 12, 14};
    gcode::KeptLineNumbers lines;
    const gcode::LoadFileResult loaded = LoadThroughFile(file, lines);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    ASSERT_EQ(loaded.program.LineCount(), expected.size());
    for (std::size_t row = 0; row < expected.size(); ++row) {
        EXPECT_EQ(lines.FileLine(row), expected[row]) << "row " << row;
    }
    EXPECT_EQ(lines.FileLine(expected.size()), 0u); // no such row

    // A million rows with a line dropped before every thousandth.
    gcode::KeptLineNumbers many;
    std::uint32_t fileLine = 0;
    for (std::size_t row = 0; row < 1000000; ++row) {
        fileLine += row % 1000 == 0 ? 2 : 1;
        many.Keep(row, fileLine);
    }
    EXPECT_EQ(many.FileLine(0), 2u);
    EXPECT_EQ(many.FileLine(999), 1001u);
    EXPECT_EQ(many.FileLine(1000), 1003u);
    EXPECT_EQ(many.FileLine(999999), 1001000u);
}

TEST(Loader, AFileReadInPiecesLoadsAsTheWholeTextWithEveryLineInItsPlace) {
    // Moves and comments of any length with every kind of line end, and a "\r\n" split across
    // every power-of-two offset from 4 KiB to 1 MiB: wherever the file is cut into pieces, one
    // line end stays one and no line is joined to its neighbour.
    std::mt19937 random(20261209);
    std::string file;
    std::vector<std::uint32_t> expected;
    std::uint32_t fileLine = 0;
    std::size_t boundary = 4096;
    const char* ends[] = {"\n", "\r\n", "\r"};
    while (file.size() < (std::size_t{1} << 20) + 4096) {
        std::string line;
        const bool move = random() % 3 != 0;
        if (move) {
            line = "G01 X" + std::to_string(random() % 100000) + " Y" +
                   std::to_string(random() % 1000) + "." + std::to_string(random() % 1000);
        } else {
            line = "(" + std::string(random() % 5000, 'c') + ")";
        }
        std::string end = ends[random() % 3];
        if (file.size() + line.size() + 2 > boundary) {
            // This line ends astride the boundary: its "\r" just before, its "\n" just after.
            if (boundary - 1 > file.size() + 3) {
                line = "(" + std::string(boundary - 1 - file.size() - 2, 'b') + ")";
                end = "\r\n";
            }
            boundary *= 2;
        }
        ++fileLine;
        if (line[0] == 'G') {
            expected.push_back(fileLine);
        }
        file += line + end;
    }
    for (std::size_t b = 4096; b <= (std::size_t{1} << 20); b *= 2) {
        ASSERT_EQ(file.substr(b - 1, 2), "\r\n") << b;
    }

    gcode::KeptLineNumbers lines;
    const gcode::LoadFileResult loaded = LoadThroughFile(file, lines);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    const gcode::Program whole = gcode::LoadProgram(file, DefaultFeeds);
    ASSERT_EQ(loaded.program.LineCount(), expected.size());
    EXPECT_EQ(loaded.program.TempLineCount, expected.size());
    EXPECT_EQ(RowsOf(loaded.program), RowsOf(whole));
    for (std::size_t row = 0; row < expected.size(); ++row) {
        ASSERT_EQ(lines.FileLine(row), expected[row]) << "row " << row;
    }
}

TEST(Loader, RowsStayCompact) {
    std::string file;
    for (int i = 0; i < 10000; ++i) {
        file += "G01 X" + std::to_string(i) + ".125 Y-3.5 Z0.001 F100\n";
    }
    const gcode::Program program = gcode::LoadProgram(file, DefaultFeeds);
    // Rows grow by doubling, so at most two rows of storage per row loaded.
    EXPECT_LE(program.MemoryBytes() / program.LineCount(), 2 * sizeof(gcode::ProgramRow));
}

} // namespace

namespace {

std::string LongLine(std::size_t bytes, char fill = 'X') {
    return std::string(bytes, fill);
}

} // namespace

TEST(LoaderLimits, ALineLongerThanOneMebibyteEndsTheLoadAndIsNamed) {
    const std::string before = "G00 X1\r\n(two)\r\n";
    const std::string longest = "G01 X2 " + LongLine(gcode::MaxLineBytes - 7, ' ');
    const std::string tooLong = "G01 X3 " + LongLine(gcode::MaxLineBytes - 6, ' ');

    std::optional<gcode::LoadRefusal> refusal;
    const gcode::Program fits =
        gcode::LoadProgram(before + longest + "\nX4\n", DefaultFeeds, &refusal);
    EXPECT_FALSE(refusal);
    EXPECT_EQ(fits.LineCount(), 3u);

    const gcode::Program refused =
        gcode::LoadProgram(before + tooLong + "\nX4\n", DefaultFeeds, &refusal);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->fileLine, 3u);
    EXPECT_NE(refusal->message.find("Line 3 "), std::string::npos) << refusal->message;
    EXPECT_NE(refusal->message.find("1 MiB"), std::string::npos) << refusal->message;
    EXPECT_EQ(refused.LineCount(), 1u); // only the rows before it

    // The same in pieces, as the window reads: also for a last line with no end at all.
    for (const std::string& file : {before + tooLong + "\nX4\n", before + tooLong}) {
        for (const std::size_t piece : {std::size_t{4096}, std::size_t{1} << 20}) {
            gcode::LineFilter filter;
            std::string kept;
            for (std::size_t at = 0; at < file.size() && !filter.Refusal(); at += piece) {
                filter.Feed(std::string_view(file).substr(at, piece), kept);
            }
            filter.Finish(kept);
            ASSERT_TRUE(filter.Refusal()) << piece;
            EXPECT_EQ(filter.Refusal()->fileLine, 3u);
            EXPECT_EQ(filter.TempLineCount(), 1u);
        }
    }
}

TEST(LoaderLimits, AFileWithNoLineEndStopsAtTheLimitAndHoldsNothingMore) {
    // Any number of chunks without a line end: the splitter drops what it held at the limit
    // and takes nothing more, so a 3 GB run of zero bytes costs no more than 1 MiB.
    gcode::LineFilter filter;
    std::string kept;
    const std::string zeros(std::size_t{1} << 16, '\0');
    for (int i = 0; i < 64; ++i) {
        filter.Feed(zeros, kept);
    }
    ASSERT_TRUE(filter.Refusal());
    EXPECT_EQ(filter.Refusal()->fileLine, 1u);
    EXPECT_TRUE(kept.empty());
    filter.Feed("\nG00 X1\n", kept);
    filter.Finish(kept);
    EXPECT_EQ(filter.TempLineCount(), 0u);
}

TEST(LoaderLimits, ReplacedAndOverlongWordsCostARowAFewHundredBytesAtMost) {
    // A line of half a million X words that are no numbers: one cell, one pooled text.
    std::string xq = "G01 ";
    for (int i = 0; i < 500000; ++i) {
        xq += "Xq";
    }
    const gcode::Program words = gcode::LoadProgram(xq + "\n", DefaultFeeds);
    ASSERT_EQ(words.LineCount(), 1u);
    EXPECT_EQ(words.CellText(0, gcode::XColumn), "Xq ");
    EXPECT_EQ(words.XExtent.Shown(), "q ");
    EXPECT_LT(words.MemoryBytes(), std::size_t{4096});

    // Rows that repeat a text word share it.
    std::string same;
    for (int i = 0; i < 10000; ++i) {
        same += "X\n";
    }
    const gcode::Program repeated = gcode::LoadProgram(same, DefaultFeeds);
    EXPECT_LE(repeated.MemoryBytes() / repeated.LineCount(), 2 * sizeof(gcode::ProgramRow));

    // A very long word that is no number keeps its start and a mark that never reads as a
    // number, even where its start alone would.
    const std::string zeros = "0." + LongLine(100000, '0') + "q";
    const gcode::Program cut = gcode::LoadProgram("G01 Y" + zeros + "\n", DefaultFeeds);
    const std::string cell = cut.CellText(0, gcode::YColumn);
    EXPECT_EQ(cell.size(), 1 + gcode::MaxCellTextBytes + 1);
    EXPECT_EQ(cell.substr(0, 10), "Y0.0000000");
    EXPECT_EQ(cell.substr(cell.size() - 4), "... ");
    EXPECT_FALSE(encoding::ReadsAsNumber(cell.substr(1)));
    EXPECT_LT(cut.MemoryBytes(), std::size_t{4096});
    EXPECT_EQ(cut.YExtent.Shown(), "0.000000");
}

TEST(LoaderLimits, WordsOfAnyNumberOfDigitsAreKeptExactly) {
    for (const std::string digits :
         {"99999999999999999999999", "-9223372036854775808", "18446744073709551617.5",
          "0000000000000000000000000000000000001"}) {
        std::int32_t thousandths = 0;
        const std::string formatted = encoding::Format(digits);
        if (gcode::ThousandthsOfWordText(digits, thousandths)) {
            char buf[16];
            EXPECT_EQ(std::string(buf, gcode::WriteThousandths(thousandths, buf)), formatted);
        }
        const gcode::Program program = gcode::LoadProgram("G01 X" + digits + "\n", DefaultFeeds);
        EXPECT_EQ(program.CellText(0, gcode::XColumn), "X" + formatted + " ") << digits;
    }
}

TEST(LoaderLimits, FoldersAndDevicesAreNoGcodeFiles) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    const gcode::LoadFileResult fromFolder = gcode::LoadGcodeFile(folder.string(), {DefaultFeeds});
    EXPECT_FALSE(fromFolder.ok);
    EXPECT_EQ(fromFolder.error, "it is a folder, not a G-code file");
#if defined(__unix__)
    const gcode::LoadFileResult fromDevice = gcode::LoadGcodeFile("/dev/zero", {DefaultFeeds});
    EXPECT_FALSE(fromDevice.ok);
    EXPECT_EQ(fromDevice.error, "it is a device, not a G-code file");
#endif
    EXPECT_FALSE(gcode::NotAGcodeFile(folder / "no such file.nc"));
}
