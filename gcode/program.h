// A loaded program: one row of five cells per kept line, held compactly.
//
// A million-line program must fit in a few tens of megabytes, so a row keeps no text at all:
// a word cell is its letter's case, whether a blank follows, and either the number in
// thousandths (every cell that reads as a number and fits 32 bits) or an index into a small
// pool of texts for the rest. The cell texts the table shows are produced from this on demand
// and are byte for byte the texts the loader defines (X0012.500 and a blank, and so on).
#pragma once

#include "gcode/extent.h"
#include "gcode/large_block.h"

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

// A row: four word values and their flags, 20 bytes.
struct ProgramRow {
    std::int32_t value[4] = {0, 0, 0, 0};
    // Bit 0: motion code G01 (else G00). Then four bits per word cell, from bit 1 for X:
    // present, lower case, trailing blank, pooled.
    std::uint32_t flags = 0;

    bool IsFeedMove() const { return (flags & 1u) != 0; }
    WordCell Word(int wordIndex) const;
    void SetWord(int wordIndex, const WordCell& cell);
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

    // Bytes held by the program, for checking the per-row budget.
    std::size_t MemoryBytes() const;

private:
    friend class ProgramBuilder;
    std::vector<ProgramRow, LargeBlockAllocator<ProgramRow>> rows_;
    std::vector<std::string> pool_;
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
