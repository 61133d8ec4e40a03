#include "gcode/program.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace gcode {
namespace {

constexpr std::uint32_t PresentBit = 1u;
constexpr std::uint32_t LowerBit = 2u;
constexpr std::uint32_t BlankBit = 4u;
constexpr std::uint32_t PooledBit = 8u;

constexpr int flagShift(int wordIndex) {
    return 1 + 4 * wordIndex;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The thousandths of a canonical "0000.000" text, when it fits 32 bits.
bool thousandthsOfFormatted(std::string_view text, std::int32_t& out) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) {
        ++i;
    }
    const std::size_t point = text.find('.', i);
    if (point == std::string_view::npos || point - i < 4 || text.size() != point + 4) {
        return false;
    }
    std::int64_t magnitude = 0;
    for (std::size_t k = i; k < text.size(); ++k) {
        if (k == point) {
            continue;
        }
        if (!isDigit(text[k])) {
            return false;
        }
        magnitude = magnitude * 10 + (text[k] - '0');
        if (magnitude > std::numeric_limits<std::int32_t>::max()) {
            return false;
        }
    }
    const auto value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    // Only texts the writer reproduces exactly are stored as numbers ("-0000.000" is not one).
    char check[16];
    const std::size_t len = WriteThousandths(value, check);
    if (std::string_view(check, len) != text) {
        return false;
    }
    out = value;
    return true;
}

} // namespace

Motion ProgramRow::MotionOf() const {
    if (!IsArc()) {
        return IsFeedMove() ? Motion::Feed : Motion::Rapid;
    }
    return (flags & CounterClockwiseBit) != 0 ? Motion::ArcCounterClockwise : Motion::ArcClockwise;
}

void ProgramRow::SetMotion(Motion motion) {
    flags &= ~(1u | ArcBit | CounterClockwiseBit);
    switch (motion) {
    case Motion::Rapid:
        break;
    case Motion::Feed:
        flags |= 1u;
        break;
    case Motion::ArcClockwise:
        flags |= 1u | ArcBit;
        break;
    case Motion::ArcCounterClockwise:
        flags |= 1u | ArcBit | CounterClockwiseBit;
        break;
    }
}

std::string_view MotionCode(Motion motion) {
    static constexpr std::string_view codes[4] = {"G00 ", "G01 ", "G02 ", "G03 "};
    return codes[static_cast<std::size_t>(motion) & 3u];
}

void KeptLineNumbers::Keep(std::size_t row, std::uint64_t fileLine) {
    // Never below zero, as every row comes from a line at or after its own number's place.
    const std::uint64_t offset = fileLine - std::uint64_t{row};
    if (steps_.empty() || steps_.back().offset != offset) {
        steps_.push_back(Step{row, offset});
    }
    rows_ = row + 1;
}

std::uint64_t KeptLineNumbers::FileLine(std::size_t row) const {
    if (row >= rows_ || steps_.empty()) {
        return 0;
    }
    const auto after = std::upper_bound(steps_.begin(), steps_.end(), row,
                                        [](std::size_t r, const Step& s) { return r < s.row; });
    return row + std::prev(after)->offset;
}

Program Program::Slice(std::size_t from, std::size_t to) const {
    Program slice;
    to = std::min(to, rows_.size());
    if (from >= to) {
        return slice;
    }
    slice.dialect = dialect;
    slice.rows_.assign(rows_.begin() + static_cast<std::ptrdiff_t>(from),
                       rows_.begin() + static_cast<std::ptrdiff_t>(to));
    for (ProgramRow& row : slice.rows_) {
        for (int w = 0; w < 4; ++w) {
            WordCell cell = row.Word(w);
            if (cell.present && cell.pooled) {
                slice.pool_.push_back(pool_[static_cast<std::size_t>(cell.value)]);
                cell.value = static_cast<std::int32_t>(slice.pool_.size() - 1);
                row.SetWord(w, cell);
            }
        }
    }
    auto arc = std::lower_bound(arcs_.begin(), arcs_.end(), from,
                                [](const RowArc& a, std::size_t r) { return a.row < r; });
    for (; arc != arcs_.end() && arc->row < to; ++arc) {
        slice.arcs_.push_back(RowArc{arc->row - from, arc->arc});
    }
    slice.TempLineCount = slice.rows_.size();
    return slice;
}

const Arc* Program::ArcOf(std::size_t row) const {
    const auto at = std::lower_bound(arcs_.begin(), arcs_.end(), row,
                                     [](const RowArc& a, std::size_t r) { return a.row < r; });
    return at != arcs_.end() && at->row == row ? &at->arc : nullptr;
}

WordCell ProgramRow::Word(int wordIndex) const {
    const std::uint32_t bits = flags >> flagShift(wordIndex);
    WordCell cell;
    cell.present = (bits & PresentBit) != 0;
    cell.lowerCase = (bits & LowerBit) != 0;
    cell.trailingBlank = (bits & BlankBit) != 0;
    cell.pooled = (bits & PooledBit) != 0;
    cell.value = value[wordIndex];
    return cell;
}

void ProgramRow::SetWord(int wordIndex, const WordCell& cell) {
    std::uint32_t bits = 0;
    if (cell.present) {
        bits = PresentBit | (cell.lowerCase ? LowerBit : 0u) |
               (cell.trailingBlank ? BlankBit : 0u) | (cell.pooled ? PooledBit : 0u);
    }
    const int shift = flagShift(wordIndex);
    flags = (flags & ~(0xFu << shift)) | (bits << shift);
    value[wordIndex] = cell.present ? cell.value : 0;
}

char WordLetter(int wordIndex) {
    static constexpr char letters[4] = {'X', 'Y', 'Z', 'F'};
    return letters[wordIndex & 3];
}

std::size_t WriteThousandths(std::int32_t thousandths, char* out) {
    // A 32-bit cell writes at most 13 characters, well inside the general writer's room.
    return encoding::WriteThousandthsText(thousandths, out);
}

bool ThousandthsOfWordText(std::string_view text, std::int32_t& thousandths) {
    // Plain decimals of at most 15 digits are rounded on their digits, as the number-text
    // formatting does; anything else (exponents, tabs, very long or very large numbers) takes
    // the general formatting and keeps the result only if it is a 32-bit number text.
    const char* p = text.data();
    const char* const end = p + text.size();
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    // Past the fast route's limit the whole part stops growing, so no count of digits can
    // overflow it; it stays above the limit and takes the general route.
    std::int64_t whole = 0;
    std::size_t digitCount = 0;
    while (p < end && isDigit(*p)) {
        if (whole <= 2000000) {
            whole = whole * 10 + (*p - '0');
        }
        ++p;
        ++digitCount;
    }
    int fraction = 0;
    std::size_t fractionDigits = 0;
    bool roundUp = false;
    if (p < end && *p == '.') {
        ++p;
        while (p < end && isDigit(*p)) {
            if (fractionDigits < 3) {
                fraction = fraction * 10 + (*p - '0');
            } else if (fractionDigits == 3) {
                roundUp = *p >= '5';
            }
            ++fractionDigits;
            ++p;
        }
    }
    if (p == end && digitCount + fractionDigits > 0 && digitCount + fractionDigits <= 15 &&
        whole <= 2000000) {
        for (std::size_t k = fractionDigits; k < 3; ++k) {
            fraction *= 10;
        }
        const std::int64_t magnitude = whole * 1000 + fraction + (roundUp ? 1 : 0);
        thousandths = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
        return true;
    }
    const std::string formatted = encoding::Format(text);
    return thousandthsOfFormatted(formatted, thousandths);
}

void Program::AppendWordBody(const WordCell& cell, std::string& out) const {
    if (cell.pooled) {
        out += pool_[static_cast<std::size_t>(cell.value)];
        return;
    }
    char buf[16];
    out.append(buf, WriteThousandths(cell.value, buf));
}

std::string_view Program::WordBodyView(const WordCell& cell, char (&buf)[16]) const {
    if (cell.pooled) {
        return pool_[static_cast<std::size_t>(cell.value)];
    }
    return std::string_view(buf, WriteThousandths(cell.value, buf));
}

std::string Program::WordBody(const WordCell& cell) const {
    std::string text;
    AppendWordBody(cell, text);
    return text;
}

void Program::AppendCellText(std::size_t row, int column, std::string& out) const {
    if (row >= rows_.size() || column < 0 || column >= ProgramColumns) {
        return;
    }
    const ProgramRow& r = rows_[row];
    if (column == MotionColumn) {
        out += MotionCode(r.MotionOf());
        return;
    }
    const WordCell cell = r.Word(column - 1);
    if (!cell.present) {
        return;
    }
    const char letter = WordLetter(column - 1);
    out.push_back(cell.lowerCase ? static_cast<char>(letter - 'A' + 'a') : letter);
    AppendWordBody(cell, out);
    if (cell.trailingBlank) {
        out.push_back(' ');
    }
}

std::string Program::CellText(std::size_t row, int column) const {
    std::string text;
    AppendCellText(row, column, text);
    return text;
}

void Program::ReserveRowsFor(std::uint64_t fileBytes) {
    // CAM files run to about 18 bytes a line; a file of shorter lines grows its rows as
    // usual beyond this. A file that claims more than it holds (sparse, or growing) is held to
    // 80 MB of address space.
    constexpr std::uint64_t BytesPerRow = 8;
    constexpr std::uint64_t MostRows = std::uint64_t{1} << 22;
    const std::uint64_t rows = std::min(fileBytes / BytesPerRow, MostRows);
    if (rows * sizeof(ProgramRow) >= LargeBlockBytes) {
        rows_.reserve(static_cast<std::size_t>(rows));
    }
}

std::size_t Program::MemoryBytes() const {
    std::size_t bytes = sizeof(*this) + rows_.size() * sizeof(ProgramRow) +
                        pool_.capacity() * sizeof(std::string) + arcs_.capacity() * sizeof(RowArc) +
                        notes_.capacity() * sizeof(RowNote) + fileLines.MemoryBytes();
    for (const RowNote& note : notes_) {
        if (note.text.capacity() > 15) {
            bytes += note.text.capacity() + 1;
        }
    }
    for (const std::string& s : pool_) {
        if (s.capacity() > 15) {
            bytes += s.capacity() + 1;
        }
    }
    return bytes;
}

} // namespace gcode
