// The G-code reader: G-code as CAM programs write it, read as an RS274/NGC interpreter reads it
// and turned into the rows a run plans, with nothing dropped in silence.
//
// Words are a letter and a number in either case, blanks anywhere; ( ) and ; comments; a
// leading / (the line is run); N numbers; % lines. The reader understands what a three-axis
// router does with its moves: G0 to G3 in the planes G17, G18, G19 (arcs by centre or radius,
// full circles, turns, helices), inches and millimetres, absolute and incremental distances
// for positions and arc centres, the G92 offsets, the drilling cycles G73, G81, G82, G83 with
// G98, G99 and L repeats, and F in units per minute. What the board cannot act on is skipped
// and counted (spindle, coolant, tools, tool length, moves in machine coordinates); program
// stops, tool changes and dwells are remembered on the rows they stand before. What would
// change the geometry and is not understood refuses the file at its line.
//
// Every position is held exactly, in nanometres of the load frame (the machine's place at the
// load is the origin), so incremental moves and inch conversions never drift; a row's cells are
// its targets rounded to thousandths, as the displays show them.
#pragma once

#include "gcode/loader.h"
#include "gcode/program.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace gcode {

struct ReaderSettings {
    FeedDefaults feeds; // the Cutting speed for feed moves until the file sets F; G0 Travelling
    double arcToleranceMm = DefaultArcToleranceMm;
    std::uint64_t fileBytes = 0; // the file's size where known, to set room for its rows aside
};

class GcodeReader {
public:
    explicit GcodeReader(ReaderSettings settings);
    ~GcodeReader();
    GcodeReader(const GcodeReader&) = delete;
    GcodeReader& operator=(const GcodeReader&) = delete;

    // The file's bytes, in pieces of any size; Finish takes a last line without a line end.
    void Feed(std::string_view chunk);
    void Finish();
    // One line without its line end, for a caller that splits the file itself; not mixed with
    // Feed.
    void ReadLine(std::string_view line);

    // Set at the first line the reader refuses (or a line too long to be G-code); nothing more
    // is read, and the file must not be loaded.
    const std::optional<LoadRefusal>& Refusal() const;
    // The rows read so far, their file lines, arcs and notes, and the account.
    Program TakeProgram();
    // The same without taking them: the rows read so far.
    const Program& Partial() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The reader over a whole file in memory.
Program ReadGcode(std::string_view fileBytes, const ReaderSettings& settings,
                  std::optional<LoadRefusal>* refusal = nullptr);

} // namespace gcode
