// Loading a G-code file: the one way the window, the dry run, the benchmarks and the fuzz target
// turn a file into a program.
//
// Every file goes through two readers at once: the original loader's line filter, which keeps
// the lines starting with G00, G01, X, Y or Z and drops the rest, and the G-code reader, which
// reads G-code as CAM programs write it. A file the filter reads exactly as the reader does
// (the same moves, kinds and speeds, row for row) loads as the original loader loads it, byte
// for byte. Any other file loads as the reader reads it: the filter would drop or misread some
// of it without a word. What the reader skipped, converted and remembered goes with either.
#pragma once

#include "gcode/arc.h"
#include "gcode/loader.h"
#include "gcode/program.h"
#include "gcode/reader.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gcode {

struct LoadSettings {
    FeedDefaults feeds;
    double arcToleranceMm = DefaultArcToleranceMm;
    // Only the original loader, as it always read files (the dry run's --dialect design).
    bool designOnly = false;
    // The file's size where known: room for its rows is set aside before reading, so they
    // are written once instead of moving each time they outgrow their room.
    std::uint64_t fileBytes = 0;
};

class ProgramLoad {
public:
    explicit ProgramLoad(LoadSettings settings);

    // The file's bytes in pieces of any size. The lines the original filter keeps are appended
    // to `keptText` (the working copy temp.txt), each with CR LF, when it is given.
    void Feed(std::string_view chunk, std::string* keptText = nullptr);
    // Takes a last line without a line end, and chooses the program.
    void Finish(std::string* keptText = nullptr);

    // Hands the reader's rows over a slice at a time (Program::Slice), in order, from the line
    // on which the file can only load as the reader reads it; the last slice comes with
    // Finish. A file that loads as the original loader reads it gives no slice at all.
    //
    // With `eitherDialect`, the original loader's rows are handed over too, as they are made,
    // while the file may still load as it reads it; then, should the file turn out to load as
    // the reader reads it, the reader's rows from the first. A slice whose dialect differs from
    // the one before it therefore starts the rows again: the slices after the last such change
    // are the rows of the program chosen.
    using SliceSink = std::function<void(Program slice)>;
    void SliceRows(SliceSink sink, std::size_t rowsPerSlice, bool eitherDialect = false);

    // Why the file is not loaded: a line too long to be G-code, or a line the reader refuses.
    const std::optional<LoadRefusal>& Refusal() const { return refusal_; }
    // Lines the original filter kept (temp.txt's lines).
    std::size_t TempLineCount() const { return kept_; }
    // The program chosen by Finish; empty after a refusal.
    Program TakeProgram();

private:
    void filterLine(std::string_view line, std::string* keptText);
    // Compares the rows both have made since the last line; the original loader stops
    // building rows at the first that differs, as its program can no longer be chosen.
    void compareRows();
    void giveSlice(bool last);
    void giveDesignSlice(bool last);

    LoadSettings settings_;
    LineSplitter splitter_;
    ProgramBuilder builder_;
    std::optional<GcodeReader> reader_;
    std::optional<LoadRefusal> refusal_;
    Program program_;
    std::size_t kept_ = 0;
    bool rowsDiffer_ = false;
    std::size_t rowsCompared_ = 0;
    std::uint64_t fileLine_ = 0;
    KeptLineNumbers keptLines_;
    SliceSink sliceSink_;
    std::size_t rowsPerSlice_ = 0;
    std::size_t sliced_ = 0;
    bool designSlices_ = false;
    std::size_t designSliced_ = 0;
};

// True when two programs make the same moves: row for row the same motion, the same X, Y and Z
// targets and the same feed (the cells' numbers; the letters' case and blanks aside).
bool SameMoves(const Program& a, const Program& b);

// What a load did besides making rows, a sentence a line, for the window's program check and
// the dry run's summary: which way the file was read, the arcs and the segments they became,
// what was converted, what was skipped and where, and where the program ended.
std::vector<std::string> DescribeLoad(const Program& program, double arcToleranceMm);

// The question to ask before the first run of a program whose file asked for moves the board
// cannot make without a home position (G28, G30, G53): they were skipped, so the machine will
// not go where the file expects it to. None for any other program.
std::optional<std::string> SkippedMovesQuestion(const Program& program);

// A whole file in memory, as a Load with this file would make it. A refusal leaves the program
// empty and is set in `refusal` when given.
Program LoadGcode(std::string_view fileBytes, const LoadSettings& settings,
                  std::optional<LoadRefusal>* refusal = nullptr);

struct LoadFileResult {
    bool ok = false;
    std::string error;                  // why the file could not be read, or the refusal's words
    std::optional<LoadRefusal> refusal; // read, but refused
    Program program;
};

// A file read a piece at a time; the file is never held whole in memory. Slices of rows go to
// `slices` as ProgramLoad::SliceRows gives them, when it is set.
LoadFileResult LoadGcodeFile(const std::string& path, const LoadSettings& settings,
                             ProgramLoad::SliceSink slices = {}, std::size_t rowsPerSlice = 0);

} // namespace gcode
