#include "gcode/program_load.h"

#include "encoding/number_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

namespace gcode {
namespace {

bool sameCell(const Program& a, const WordCell& x, const Program& b, const WordCell& y) {
    if (x.present != y.present) {
        return false;
    }
    if (!x.present) {
        return true;
    }
    if (!x.pooled && !y.pooled) {
        return x.value == y.value;
    }
    char bufA[16];
    char bufB[16];
    return a.WordBodyView(x, bufA) == b.WordBodyView(y, bufB);
}

std::string times(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "on line 4" for once, "3 times, the first on line 4" for more.
std::string tally(const ReadAccount::Tally& t, const char* one, const char* many) {
    if (t.count == 1) {
        return std::string("1 ") + one + " on line " + std::to_string(t.firstLine);
    }
    return times(t.count, one, many) + ", the first on line " + std::to_string(t.firstLine);
}

std::string where(const ReadAccount::Tally& t) {
    if (t.count == 1) {
        return "on line " + std::to_string(t.firstLine);
    }
    return std::to_string(t.count) + " times from line " + std::to_string(t.firstLine);
}

// Rows `from` on of `a` against the same rows of `b`, which has at least as many.
bool sameRows(const Program& a, const Program& b, std::size_t from) {
    const auto rowsA = a.Rows();
    const auto rowsB = b.Rows();
    for (std::size_t r = from; r < rowsA.size(); ++r) {
        if (rowsA[r].MotionOf() != rowsB[r].MotionOf()) {
            return false;
        }
        for (int w = 0; w < 4; ++w) {
            if (!sameCell(a, rowsA[r].Word(w), b, rowsB[r].Word(w))) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

std::vector<std::string> DescribeLoad(const Program& program, double arcToleranceMm) {
    std::vector<std::string> lines;
    const ReadAccount& a = program.account;
    if (program.dialect == Dialect::Design) {
        lines.push_back("Read by the original line filter: it reads every move of this file as "
                        "G-code means it.");
    } else {
        lines.push_back("Read by the G-code reader: the original line filter would have dropped "
                        "or misread moves of this file.");
    }
    if (a.arcs.count > 0) {
        lines.push_back("Arcs: " + tally(a.arcs, "arc", "arcs") + ", cut as " +
                        times(a.arcSegments, "straight move", "straight moves") + " within " +
                        encoding::FormatSignificant(arcToleranceMm) + " mm of the arc.");
    }
    if (a.inchLines.count > 0) {
        lines.push_back("Inches: " + tally(a.inchLines, "move", "moves") +
                        ", converted to millimetres.");
    }
    if (a.incrementalLines.count > 0) {
        lines.push_back("Incremental: " + tally(a.incrementalLines, "move", "moves") +
                        ", converted to positions.");
    }
    if (a.offsetLines.count > 0) {
        lines.push_back("Offsets (G92): " + tally(a.offsetLines, "line", "lines") +
                        ", applied to the positions that follow.");
    }
    if (a.drillBlocks.count > 0) {
        lines.push_back("Drilling cycles: " + tally(a.drillBlocks, "block", "blocks") + ", as " +
                        times(a.drillMoves, "straight move", "straight moves") + ".");
    }
    if (!a.skipped.empty()) {
        std::string skipped = "Skipped, as the board cannot act on them: ";
        for (std::size_t i = 0; i < a.skipped.size(); ++i) {
            skipped += (i == 0 ? "" : "; ") + a.skipped[i].first + " " + where(a.skipped[i].second);
        }
        lines.push_back(skipped + ".");
    }
    if (a.endLine != 0 && a.fileLines > a.endLine) {
        lines.push_back("The program ends on line " + std::to_string(a.endLine) +
                        " (M2 or M30): " + times(a.fileLines - a.endLine, "line", "lines") +
                        " after it are not loaded.");
    }
    return lines;
}

std::optional<std::string> SkippedMovesQuestion(const Program& program) {
    std::string moves;
    for (const auto& [what, t] : program.account.skipped) {
        if (what.rfind("G28", 0) == 0 || what.rfind("G30", 0) == 0 || what.rfind("G53", 0) == 0) {
            moves += (moves.empty() ? "" : "; ") + what + " " + where(t);
        }
    }
    if (moves.empty()) {
        return std::nullopt;
    }
    return "This program asks for moves the machine cannot make without a home position: " + moves +
           ". They are skipped, so the machine will not go where the program expects "
           "it to there. Run it anyway?";
}

bool SameMoves(const Program& a, const Program& b) {
    return a.LineCount() == b.LineCount() && sameRows(a, b, 0);
}

ProgramLoad::ProgramLoad(LoadSettings settings)
    : settings_(std::move(settings)), builder_(settings_.feeds) {
    builder_.ReserveRowsFor(settings_.fileBytes);
    if (!settings_.designOnly) {
        reader_.emplace(
            ReaderSettings{settings_.feeds, settings_.arcToleranceMm, settings_.fileBytes});
    }
}

void ProgramLoad::filterLine(std::string_view line, std::string* keptText) {
    ++fileLine_;
    // The one split into lines serves both readers: the reader takes the same line.
    if (reader_) {
        reader_->ReadLine(line);
    }
    const std::string_view kept = FilterLine(line);
    if (!kept.empty()) {
        if (keptText) {
            keptText->append(kept);
            keptText->append("\r\n");
        }
        if (!rowsDiffer_) {
            builder_.AddLine(kept);
            keptLines_.Keep(kept_, fileLine_);
        }
        ++kept_;
    }
    if (reader_) {
        compareRows();
    }
    if (rowsDiffer_) {
        giveSlice(false);
    } else {
        giveDesignSlice(false);
    }
}

void ProgramLoad::SliceRows(SliceSink sink, std::size_t rowsPerSlice, bool eitherDialect) {
    sliceSink_ = std::move(sink);
    rowsPerSlice_ = std::max<std::size_t>(rowsPerSlice, 1);
    designSlices_ = eitherDialect;
}

void ProgramLoad::giveDesignSlice(bool last) {
    if (!sliceSink_ || !designSlices_ || refusal_) {
        return;
    }
    const Program& design = builder_.Partial();
    const std::size_t rows = design.LineCount();
    if (rows - designSliced_ >= rowsPerSlice_ || (last && rows > designSliced_)) {
        sliceSink_(design.Slice(designSliced_, rows));
        designSliced_ = rows;
    }
}

void ProgramLoad::giveSlice(bool last) {
    if (!sliceSink_ || refusal_ || reader_->Refusal()) {
        return;
    }
    const Program& read = reader_->Partial();
    const std::size_t rows = read.LineCount();
    if (rows - sliced_ >= rowsPerSlice_ || (last && rows > sliced_)) {
        sliceSink_(read.Slice(sliced_, rows));
        sliced_ = rows;
    }
}

void ProgramLoad::Feed(std::string_view chunk, std::string* keptText) {
    if (refusal_) {
        return;
    }
    splitter_.Feed(chunk, [&](std::string_view line) { filterLine(line, keptText); });
    if (splitter_.OverlongLine() != 0) {
        refusal_ = OverlongLineRefusal(splitter_.OverlongLine());
        return;
    }
    if (reader_) {
        refusal_ = reader_->Refusal();
    }
}

void ProgramLoad::compareRows() {
    if (rowsDiffer_) {
        return;
    }
    // Both have read the same lines of the file: reading it the same way, they have made the
    // same rows from the same lines. Compared after every line, so the choice never depends on
    // the pieces the file came in.
    const Program& design = builder_.Partial();
    const Program& read = reader_->Partial();
    rowsDiffer_ = design.LineCount() != read.LineCount() || !sameRows(design, read, rowsCompared_);
    rowsCompared_ = design.LineCount();
}

void ProgramLoad::Finish(std::string* keptText) {
    if (refusal_) {
        return;
    }
    splitter_.Finish([&](std::string_view line) { filterLine(line, keptText); });
    if (!rowsDiffer_) {
        giveDesignSlice(true);
    }
    Program design = builder_.Finish();
    design.TempLineCount = kept_;
    design.fileLines = std::move(keptLines_);
    if (!reader_) {
        program_ = std::move(design);
        return;
    }
    reader_->Finish();
    if ((refusal_ = reader_->Refusal())) {
        return;
    }
    const bool designChosen = !rowsDiffer_ && SameMoves(design, reader_->Partial());
    if (!designChosen && (rowsDiffer_ || designSlices_)) {
        giveSlice(true); // the reader's rows, from the first when the original's were given
    }
    Program read = reader_->TakeProgram();
    if (designChosen) {
        // The original loader reads this file right: its rows, with what the reader noticed.
        design.account = std::move(read.account);
        design.AdoptNotes(read);
        program_ = std::move(design);
    } else {
        read.TempLineCount = kept_;
        program_ = std::move(read);
    }
}

Program ProgramLoad::TakeProgram() {
    Program done = std::move(program_);
    program_ = Program();
    return done;
}

Program LoadGcode(std::string_view fileBytes, const LoadSettings& settings,
                  std::optional<LoadRefusal>* refusal) {
    ProgramLoad load(settings);
    load.Feed(fileBytes);
    load.Finish();
    if (refusal) {
        *refusal = load.Refusal();
    }
    return load.Refusal() ? Program() : load.TakeProgram();
}

LoadFileResult LoadGcodeFile(const std::string& path, const LoadSettings& settings,
                             ProgramLoad::SliceSink slices, std::size_t rowsPerSlice) {
    LoadFileResult result;
    if (std::optional<std::string> why = NotAGcodeFile(path)) {
        result.error = std::move(*why);
        return result;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        result.error = std::strerror(errno);
        return result;
    }
    // Room for rows is set aside from the file's size as address space only, and no more than
    // a few million rows' worth: a sparse or growing file claims any size it likes. 64 KiB
    // pieces stay within the allocator's ordinary pools, and larger ones read no faster.
    LoadSettings sized = settings;
    std::error_code unknown;
    sized.fileBytes = std::filesystem::file_size(path, unknown);
    if (unknown) {
        sized.fileBytes = 0;
    }
    ProgramLoad load(sized);
    if (slices) {
        load.SliceRows(std::move(slices), rowsPerSlice);
    }
    constexpr std::size_t ReadBytes = std::size_t{64} << 10;
    const std::unique_ptr<char[]> buffer(new char[ReadBytes]);
    for (;;) {
        const std::size_t n = std::fread(buffer.get(), 1, ReadBytes, file);
        load.Feed(std::string_view(buffer.get(), n));
        if (n < ReadBytes || load.Refusal()) {
            break;
        }
    }
    const bool readError = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (!load.Refusal() && readError) {
        result.error = std::strerror(readErrno);
        return result;
    }
    load.Finish();
    if (load.Refusal()) {
        result.refusal = load.Refusal();
        result.error = result.refusal->message;
        return result;
    }
    result.program = load.TakeProgram();
    result.ok = true;
    return result;
}

} // namespace gcode
