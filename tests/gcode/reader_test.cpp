// The G-code reader and the choice between it and the original filter, on G-code as CAM
// programs write it. Each case is a file and the rows it must become: the file line, then the
// five cells ("-" for an empty one).
#include "gcode/program_load.h"
#include "gcode/reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const gcode::FeedDefaults Feeds{"500", "1000"};

std::vector<std::string> RowsOf(const gcode::Program& program) {
    std::vector<std::string> rows;
    for (std::size_t r = 0; r < program.LineCount(); ++r) {
        std::string row = std::to_string(program.fileLines.FileLine(r));
        for (int c = 0; c < gcode::ProgramColumns; ++c) {
            std::string cell = program.CellText(r, c);
            while (!cell.empty() && cell.back() == ' ') {
                cell.pop_back();
            }
            row += ' ' + (cell.empty() ? std::string("-") : cell);
        }
        rows.push_back(row);
    }
    return rows;
}

gcode::Program Read(const std::string& file, std::optional<gcode::LoadRefusal>* refusal = nullptr) {
    return gcode::ReadGcode(file, {Feeds, gcode::DefaultArcToleranceMm}, refusal);
}

struct ReadCase {
    const char* name;
    std::string file;
    std::vector<std::string> rows;
};

TEST(Reader, ReadsGcodeAsCamProgramsWriteIt) {
    const std::vector<ReadCase> cases = {
        {"motion codes in every spelling, words with and without blanks",
         "G0X1\ng00 y2\nG000 Z 3\nG1 X4 F100\ng01x5\nG 1 Y 6\n",
         {"1 G00 X0001.000 - - F1000.000", "2 G00 - Y0002.000 - F1000.000",
          "3 G00 - - Z0003.000 F1000.000", "4 G01 X0004.000 - - F0100.000",
          "5 G01 X0005.000 - - F0100.000", "6 G01 - Y0006.000 - F0100.000"}},
        {"comments, block numbers, block delete, % and empty lines",
         "%\n(header)\nN10 G0 X1 (go) Y2 ; there\n\n/G1 Z-1 F50\n%\n",
         {"3 G00 X0001.000 Y0002.000 - F1000.000", "5 G01 - - Z-0001.000 F0050.000"}},
        {"feed moves before any F take the Cutting speed; G0 always the Travelling one",
         "G1 X1\nG0 X2 F300\nG1 X3\n",
         {"1 G01 X0001.000 - - F0500.000", "2 G00 X0002.000 - - F1000.000",
          "3 G01 X0003.000 - - F0300.000"}},
        {"inches: positions and feeds in millimetres, exactly",
         "G20 G1 X1 Y0.0001 F10\nG21 X2\n",
         {"1 G01 X0025.400 Y0000.003 - F0254.000", "2 G01 X0002.000 - - F0254.000"}},
        {"incremental moves never drift, and G90 goes back to positions",
         "G91 G1 X0.1 F100\nX0.1\nX0.1\nG90 X0\n",
         {"1 G01 X0000.100 - - F0100.000", "2 G01 X0000.200 - - F0100.000",
          "3 G01 X0000.300 - - F0100.000", "4 G01 X0000.000 - - F0100.000"}},
        {"G92 offsets: set, suspended, restored, cleared",
         "G0 X10\nG92 X0\nG0 X5\nG92.2\nG0 X5\nG92.3\nG0 X1\nG92.1\nG0 X1\n",
         {"1 G00 X0010.000 - - F1000.000", "3 G00 X0015.000 - - F1000.000",
          "5 G00 X0005.000 - - F1000.000", "7 G00 X0011.000 - - F1000.000",
          "9 G00 X0001.000 - - F1000.000"}},
        {"skipped words leave the rest of their line acting",
         "G28 G91 Z0.\nT1 M6\nS10000 M3\nG43 Z15. H1\nG53 G0 Z0\nM5 M9\nG90 X1\n",
         {"4 G00 - - Z0015.000 F1000.000", "7 G00 X0001.000 - - F1000.000"}},
        {"the program ends at M30", "G0 X1\nM30\nG0 X2\n", {"1 G00 X0001.000 - - F1000.000"}},
        {"arcs: one row each, the end in its cells, clockwise and counter-clockwise",
         "G0 X10 Y0\nG2 X0 Y-10 I-10 J0 F200\nG3 X10 Y0 R10\nG18 G2 X0 Z10 I-10 K0\n",
         {"1 G00 X0010.000 Y0000.000 - F1000.000", "2 G02 X0000.000 Y-0010.000 - F0200.000",
          "3 G03 X0010.000 Y0000.000 - F0200.000", "4 G02 X0000.000 - Z0010.000 F0200.000"}},
        {"a drilling cycle: every straight move a row of its line",
         "G0 Z5\nG99 G81 X1 Y2 Z-1 R1 F100\nX3\nG80\n",
         {"1 G00 - - Z0005.000 F1000.000", "2 G00 X0001.000 Y0002.000 - F1000.000",
          "2 G00 - - Z0001.000 F1000.000", "2 G01 - - Z-0001.000 F0100.000",
          "2 G00 - - Z0001.000 F1000.000", "3 G00 X0003.000 - - F1000.000",
          "3 G01 - - Z-0001.000 F0100.000", "3 G00 - - Z0001.000 F1000.000"}},
        {"an arc with its centre and no end is a full circle",
         "G0 X10\nG2 I-10 F100\n",
         {"1 G00 X0010.000 - - F1000.000", "2 G02 X0010.000 Y0000.000 - F0100.000"}},
        {"another cycle goes on with the series: G98 climbs to the Z before it, on the way across",
         "G0 Z10\nG99 G81 X1 Z-1 R2 F100\nG98 G83 X2 Z-1 R2 Q5\n",
         {"1 G00 - - Z0010.000 F1000.000", "2 G00 X0001.000 - - F1000.000",
          "2 G00 - - Z0002.000 F1000.000", "2 G01 - - Z-0001.000 F0100.000",
          "2 G00 - - Z0002.000 F1000.000", "3 G00 X0002.000 - Z0010.000 F1000.000",
          "3 G00 - - Z0002.000 F1000.000", "3 G01 - - Z-0001.000 F0100.000",
          "3 G00 - - Z0010.000 F1000.000"}},
        {"G91 cycles: R counts from the Z before the series, a kept Z from the new R",
         "G0 Z10\nG91 G99 G81 X1 Z-3 R-5 F100\nX1 R2\n",
         {"1 G00 - - Z0010.000 F1000.000", "2 G00 X0001.000 - - F1000.000",
          "2 G00 - - Z0005.000 F1000.000", "2 G01 - - Z0002.000 F0100.000",
          "2 G00 - - Z0005.000 F1000.000", "3 G00 - - Z0012.000 F1000.000",
          "3 G00 X0002.000 - - F1000.000", "3 G01 - - Z0009.000 F0100.000",
          "3 G00 - - Z0012.000 F1000.000"}},
    };
    for (const ReadCase& c : cases) {
        std::optional<gcode::LoadRefusal> refusal;
        const gcode::Program program = Read(c.file, &refusal);
        EXPECT_FALSE(refusal) << c.name << ": " << refusal->message;
        EXPECT_EQ(RowsOf(program), c.rows) << c.name;
    }
}

TEST(Reader, RefusesWhatWouldChangeTheGeometryNamingItsLine) {
    struct Refused {
        std::string file;
        std::uint64_t line;
        const char* says;
    };
    for (const Refused& c : std::vector<Refused>{
             {"G0 X1\n#1 = 5\n", 2, "parameters (#)"},
             {"G0 X[1+2]\n", 1, "expression"},
             {"O100 sub\n", 1, "O words"},
             {"G41 D1 G1 X1\n", 1, "cutter radius compensation"},
             {"G55 G0 X1\n", 1, "work offset"},
             {"G10 L2 P1 X0\n", 1, "G10"},
             {"G93 G1 X1 F2\n", 1, "inverse-time"},
             {"G5 X1 Y1 I1 J1 P1 Q1\n", 1, "spline"},
             {"G0 A10\n", 1, "does not know: A10"},
             {"M98 P100\n", 1, "M98"},
             {"G0 X1 X2\n", 1, "two X words"},
             {"G0 G1 X1\n", 1, "two G codes of one group"},
             {"G0 X1 (unclosed\n", 1, "not closed"},
             {"G1 X1 I2\n", 1, "I, J, K or R without a G2 or G3"},
             {"G2 X10 Y0 I0 J7\n", 1, "arc that cannot be cut"}, // radii 7 and 12.2
             {"G2 X30 Y0 R10\n", 1, "arc that cannot be cut"},   // chord 30 > 2 R
             {"G2 X0 Y0 I2000000 J0\n", 1, "more than 65536 straight moves"},
             {"G0 X1\nG80\nX2\n", 3, "after G80"},
             {"G0 X1 Y1\nG90.1 G2 X3 Y1 I2\n", 2, "absolute centres (G90.1) without its J"},
             {"G0 Z5\nG81 X1 Z-1 F100\n", 2, "without its R plane"},
             {"G0 Z5\nG99 G81 X1 R1 Z-1 F100\nG0 X0\nG81 X2\n", 4, "without its R plane"},
             {"G0 Z5\nG81 X1 R1 Z-1 F100\nG83 X2 R1 Z-1\n", 3, "G83 without its peck depth"},
             {"G0 Z5\nG83 X1 R1 Z-1 Q0 F100\n", 2, "G83 needs a peck depth"},
             {"G0 X1e3\n", 1, "does not know: E3"},
             {"G0 X999999999\n", 1, "too large"},
         }) {
        std::optional<gcode::LoadRefusal> refusal;
        Read(c.file, &refusal);
        ASSERT_TRUE(refusal) << c.file;
        EXPECT_EQ(refusal->fileLine, c.line) << c.file;
        EXPECT_NE(refusal->message.find(c.says), std::string::npos) << refusal->message;
        EXPECT_EQ(refusal->message.rfind("Line " + std::to_string(c.line) + " of the file ", 0), 0u)
            << refusal->message;
    }
}

TEST(Reader, CountsWhatItSkipsConvertsAndRemembers) {
    const gcode::Program program =
        Read("G20\nT2 M6 (6 mm drill)\nS5000 M3\nG0 X1\nG91 X1 S6000\nM0\nG4 P1.5\nG1 X1 F2\n"
             "G2 X1 Y1 I0 J1\nM30\nG0 X0\n");
    const gcode::ReadAccount& a = program.account;
    std::vector<std::string> skipped;
    for (const auto& [what, tally] : a.skipped) {
        skipped.push_back(what + " " + std::to_string(tally.count) + "x from " +
                          std::to_string(tally.firstLine));
    }
    EXPECT_EQ(skipped, (std::vector<std::string>{
                           "T (tool number) 1x from 2", "M6 (tool change) 1x from 2",
                           "S (spindle speed) 2x from 3", "M3, M4, M5 (spindle) 1x from 3",
                           "M0 (program stop) 1x from 6", "G4 (dwell) 1x from 7"}));
    EXPECT_EQ(a.inchLines.count, 4u);
    EXPECT_EQ(a.incrementalLines.count, 3u);
    EXPECT_EQ(a.incrementalLines.firstLine, 5u);
    EXPECT_EQ(a.arcs.count, 1u);
    EXPECT_GT(a.arcSegments, 10u);
    EXPECT_EQ(a.endLine, 10u);
    EXPECT_EQ(a.fileLines, 11u);
    ASSERT_EQ(a.skippedLines.size(), 5u);
    EXPECT_EQ(a.SkippedOn(a.skippedLines[2]), "S (spindle speed)"); // line 5
    // Stops and dwells wait before the row that follows them.
    const auto notes = program.Notes();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].kind, gcode::RowNote::Kind::ToolChange);
    EXPECT_EQ(notes[0].beforeRow, 0u);
    EXPECT_NE(notes[0].text.find("6 mm drill"), std::string::npos);
    EXPECT_EQ(notes[1].kind, gcode::RowNote::Kind::Stop);
    EXPECT_EQ(notes[1].beforeRow, 2u);
    EXPECT_EQ(notes[2].seconds, 1.5);
    // The arc keeps its geometry for the run: centre (2 in, 1 in) in millimetres.
    const gcode::Arc* arc = program.ArcOf(3);
    ASSERT_NE(arc, nullptr);
    EXPECT_NEAR(arc->centreU, 76.2, 1e-9);
    EXPECT_NEAR(arc->centreV, 25.4, 1e-9);
    EXPECT_EQ(program.ArcOf(2), nullptr);
}

// A file the original filter reads the same loads as it always did, byte for byte; any other
// file loads as the reader reads it.
TEST(ProgramLoad, TheOriginalFilterKeepsTheFilesItReadsRight) {
    struct Choice {
        std::string file;
        gcode::Dialect dialect;
    };
    for (const Choice& c : std::vector<Choice>{
             {"N10 G00 X10 Y5\nG01 x10 F100\nY20\nM30\n", gcode::Dialect::Design},
             {"%\n(comment)\nG01 X1 F100\nS1000 M3\nG00 Z5\n", gcode::Dialect::Design},
             {"G0 X10\n", gcode::Dialect::Reader},                // the filter drops G0
             {"G01 X1 F100\nF200\nX2\n", gcode::Dialect::Reader}, // and a lone F
             {"G00 X1 F300\n", gcode::Dialect::Reader},           // G00 runs at its own F
             {"G21 G90\nG01 X1 F100\n", gcode::Dialect::Design},  // only modes it drops
             // The same move, but from another line: the reader ends at M2 on line 1.
             {"M2Z5\nN30 G00 Z5\n", gcode::Dialect::Reader},
             {"G01 X1 F100\nG02 X2 Y1 R1\n", gcode::Dialect::Reader},
         }) {
        const gcode::LoadSettings settings{Feeds, gcode::DefaultArcToleranceMm, false};
        const gcode::Program program = gcode::LoadGcode(c.file, settings);
        EXPECT_EQ(program.dialect, c.dialect) << c.file;
        if (c.dialect == gcode::Dialect::Design) {
            const gcode::Program original = gcode::LoadProgram(c.file, Feeds);
            EXPECT_EQ(RowsOf(program), RowsOf(original)) << c.file;
        }
    }
    // The account and the notes go with either way.
    const gcode::Program both =
        gcode::LoadGcode("G01 X1 F100\nM0\nS200\nG01 X2\n", {Feeds, 0.002, false});
    EXPECT_EQ(both.dialect, gcode::Dialect::Design);
    EXPECT_EQ(both.Notes().size(), 1u);
    EXPECT_EQ(both.account.skipped.size(), 2u);
}

} // namespace
