// A loaded program: one row of five cells per kept line, held compactly.
//
// A million-line program must fit in a few tens of megabytes, so a row keeps no text at all:
// a word cell is its letter's case, whether a blank follows, and either the number in
// thousandths (every cell that reads as a number and fits 32 bits) or an index into a small
// pool of texts for the rest. The cell texts the table shows are produced from this on demand
// and are byte for byte the texts the loader defines (X0012.500 and a blank, and so on).
#pragma once

#include "gcode/arc.h"
#include "gcode/extent.h"
#include "gcode/large_block.h"
#include "gcode/read_account.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gcode {

inline constexpr int ProgramColumns = 5;

// Columns of a row: the motion code, then the X, Y, Z and feed words.
enum Column : int { MotionColumn = 0, XColumn, YColumn, ZColumn, FeedColumn };

// One word cell (X, Y, Z or feed) in 40 bits, spread over a row's value and flag fields.
struct WordCell {
    bool present = false;
    bool lowerCase = false;     // the letter was written in lower case (x, y, z, f)
    bool trailingBlank = false; // every word from a line has one; a default feed word has none
    bool pooled = false;        // value indexes the text pool instead of holding thousandths
    std::int32_t value = 0;

    friend bool operator==(const WordCell&, const WordCell&) = default;
};

// The motion of a row: G00, G01, G02 or G03.
enum class Motion : std::uint8_t { Rapid = 0, Feed = 1, ArcClockwise = 2, ArcCounterClockwise = 3 };

// A row: four word values and their flags, 20 bytes.
struct ProgramRow {
    std::int32_t value[4] = {0, 0, 0, 0};
    // Bit 0: a feed move (G01, G02, G03; else G00). Then four bits per word cell, from bit 1
    // for X: present, lower case, trailing blank, pooled. Bit 17: an arc, bit 18: turning
    // counter-clockwise (G03).
    std::uint32_t flags = 0;

    bool IsFeedMove() const { return (flags & 1u) != 0; }
    bool IsArc() const { return (flags & ArcBit) != 0; }
    Motion MotionOf() const;
    void SetMotion(Motion motion);
    WordCell Word(int wordIndex) const;
    void SetWord(int wordIndex, const WordCell& cell);

    static constexpr std::uint32_t ArcBit = 1u << 17;
    static constexpr std::uint32_t CounterClockwiseBit = 1u << 18;
};

// The motion code as the table's first column shows it: "G00 " .. "G03 ".
std::string_view MotionCode(Motion motion);

// Where a file asks the run to stop or wait before a row: a program stop (M0), an optional stop
// (M1), a tool change (M6) or a dwell (G4 P, and the dwell of G82 at the bottom of a hole).
struct RowNote {
    enum class Kind : std::uint8_t { Stop, OptionalStop, ToolChange, Dwell };
    std::size_t beforeRow = 0; // the row the run would send next; the row count after the last
    Kind kind = Kind::Stop;
    double seconds = 0;         // a dwell's length
    std::uint64_t fileLine = 0; // 1-based
    std::string text;           // the file's words for a stop or tool change, comments included
};

// Which way a file was read: by the original loader's line filter, or by the G-code reader.
enum class Dialect : std::uint8_t { Design, Reader };

// The 1-based file line of each row, for messages that send the operator back to the file.
// Held as the rows where the distance between row and file line changes: a CAM file keeps
// nearly every line, so a million rows take a handful of entries instead of 4 MB.
class KeptLineNumbers {
public:
    // Rows come in order, one call each.
    void Keep(std::size_t row, std::uint64_t fileLine);
    // 0 for a row that was never kept.
    std::uint64_t FileLine(std::size_t row) const;
    std::size_t MemoryBytes() const { return steps_.capacity() * sizeof(Step); }

private:
    struct Step {
        std::size_t row;      // the first row with this distance
        std::uint64_t offset; // file line minus row
    };
    std::vector<Step> steps_;
    std::size_t rows_ = 0;
};

static_assert(sizeof(ProgramRow) == 20, "rows are the bulk of a loaded program's memory");

class Program {
public:
    std::size_t LineCount() const { return rows_.size(); }
    std::span<const ProgramRow> Rows() const { return rows_; }

    // The cell text exactly as the table holds it ("G01 ", "X0012.500 ", "F0500.000", or "").
    std::string CellText(std::size_t row, int column) const;
    // The same, appended to out; lets a caller reuse one buffer for many cells.
    void AppendCellText(std::size_t row, int column, std::string& out) const;

    // The text after a word cell's letter, without the trailing blank ("0012.500"); the number
    // a run reads from the cell is the number of this text.
    void AppendWordBody(const WordCell& cell, std::string& out) const;
    std::string WordBody(const WordCell& cell) const;
    // The same without copying: a view of the pooled text, or of the number written into buf.
    std::string_view WordBodyView(const WordCell& cell, char (&buf)[16]) const;

    // Number of lines pass 1 kept; equals LineCount() after a completed load.
    std::size_t TempLineCount = 0;
    Extent XExtent;
    Extent YExtent;

    // How the file was read, and what the reader made of it (empty for the original loader).
    Dialect dialect = Dialect::Design;
    ReadAccount account;
    // The file line each row comes from (1-based; 0 where it is not known).
    KeptLineNumbers fileLines;

    // The arc of an arc row (G02, G03), none for any other row.
    const Arc* ArcOf(std::size_t row) const;
    struct RowArc {
        std::size_t row;
        Arc arc;
    };
    // Every arc row's arc, in row order: for walking the rows without looking each arc up.
    std::span<const RowArc> Arcs() const { return arcs_; }
    std::span<const RowNote> Notes() const { return notes_; }
    // Takes the notes of another reading of the same file, whose rows are these rows.
    void AdoptNotes(Program& other) { notes_ = std::move(other.notes_); }

    // Bytes held by the program, for checking the per-row budget. Room for rows beyond the
    // last is not counted: a large block is only address space until a row is written to it.
    std::size_t MemoryBytes() const;

    // Rows `from` to `to` (past the end: up to the end) as a program of their own, with their
    // arcs and texts; nothing else. Planning one of its rows from a machine state gives what
    // planning the same row of this program gives: a row's plan reads only the row.
    Program Slice(std::size_t from, std::size_t to) const;

    // Room for the rows a file of this many bytes may hold, set aside before reading it so the
    // rows never move while they are read: as address space only, and at most a few million.
    void ReserveRowsFor(std::uint64_t fileBytes);

private:
    friend class ProgramBuilder;
    friend class GcodeReader;
    std::vector<ProgramRow, LargeBlockAllocator<ProgramRow>> rows_;
    std::vector<std::string> pool_;
    std::vector<RowArc> arcs_; // in row order
    std::vector<RowNote> notes_;
};

// The word letter of a word column, in upper case.
char WordLetter(int wordIndex);

// The "0000.000" text of a number given in thousandths; returns the length written (at most
// 13 characters).
std::size_t WriteThousandths(std::int32_t thousandths, char* out);

// The thousandths of a word's text when the loader's formatting of it is a number that fits
// 32 bits; false for every other text (those are kept as formatted text instead).
bool ThousandthsOfWordText(std::string_view text, std::int32_t& thousandths);

} // namespace gcode
