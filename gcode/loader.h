// The G-code loader's two passes, without any window.
//
// Pass 1 reduces a file to the straight-move lines it understands (the working copy temp.txt
// holds them); pass 2 turns each kept line into one row of five cells and finds the workpiece
// extents. Lines end with CR LF, LF or a lone CR, a last line without an end still counts, and
// every byte is an 8-bit character that passes through unchanged.
//
// Both passes can be fed in chunks, so the window can load a large file a piece at a time and
// keep its progress bar moving; LoadProgram does both passes over a whole file at once.
#pragma once

#include "gcode/program.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gcode {

// The longest line a load takes, line end not counted. No G-code line comes near it; a longer
// one means a file that is not G-code (a disk image, a binary), which must never be held whole.
inline constexpr std::size_t MaxLineBytes = std::size_t{1} << 20;

// Why a load stops before the end of its file, in the operator's words.
struct LoadRefusal {
    std::uint64_t fileLine = 0; // 1-based
    std::string message;
    bool notGcode = false; // the file is no G-code at all (a line longer than any G-code line)
};

LoadRefusal OverlongLineRefusal(std::uint64_t fileLine);

// Cuts a byte stream into lines. A CR LF pair split across two chunks is still one line end.
// A line longer than MaxLineBytes stops it: neither that line nor any after it is passed on,
// so memory stays bounded whatever the input.
class LineSplitter {
public:
    template <class OnLine> void Feed(std::string_view chunk, OnLine&& onLine) {
        if (overlongLine_ != 0) {
            return;
        }
        const char* p = chunk.data();
        const char* const end = p + chunk.size();
        if (skipLf_ && p < end) {
            skipLf_ = false;
            if (*p == '\n') {
                ++p;
            }
        }
        if (!carry_.empty()) {
            const char* e = findLineEnd(p, end);
            if (carry_.size() + static_cast<std::size_t>(e - p) > MaxLineBytes) {
                stop();
                return;
            }
            carry_.append(p, e);
            if (e == end) {
                return;
            }
            ++lines_;
            onLine(std::string_view(carry_));
            carry_.clear();
            skipLf_ = *e == '\r' && e + 1 == end;
            p = afterLineEnd(e, end);
        }
        p = splitWhole(p, end, onLine);
        if (p == nullptr) {
            return;
        }
        if (static_cast<std::size_t>(end - p) > MaxLineBytes) {
            stop();
            return;
        }
        carry_.assign(p, end);
    }

    // The last line when the input does not end with a line end.
    template <class OnLine> void Finish(OnLine&& onLine) {
        if (!carry_.empty()) {
            ++lines_;
            onLine(std::string_view(carry_));
            carry_.clear();
        }
        skipLf_ = false;
    }

    // The 1-based number of the line that was too long, 0 while there is none.
    std::uint64_t OverlongLine() const { return overlongLine_; }

private:
    // Calls onLine for every complete line of [p, end) and returns where the unfinished last
    // line starts (end when the text ends with a line end), or null at a line that is too long.
    // Views point into the text itself.
    template <class OnLine> const char* splitWhole(const char* p, const char* end, OnLine& onLine) {
        // Both searches are remembered until passed, so a file of lone CRs (or of LFs only)
        // is still scanned once.
        const char* lf = find(p, end, '\n');
        const char* cr = find(p, end, '\r');
        while (p < end) {
            if (lf < p) {
                lf = find(p, end, '\n');
            }
            if (cr < p) {
                cr = find(p, end, '\r');
            }
            const char* e = lf < cr ? lf : cr;
            if (e == end) {
                break;
            }
            if (static_cast<std::size_t>(e - p) > MaxLineBytes) {
                stop();
                return nullptr;
            }
            ++lines_;
            onLine(std::string_view(p, static_cast<std::size_t>(e - p)));
            if (*e == '\r' && e + 1 == end) {
                skipLf_ = true;
            }
            p = afterLineEnd(e, end);
        }
        return p;
    }

    void stop() {
        overlongLine_ = lines_ + 1;
        carry_.clear();
        carry_.shrink_to_fit();
    }
    static const char* find(const char* p, const char* end, char c) {
        const void* hit = std::memchr(p, c, static_cast<std::size_t>(end - p));
        return hit ? static_cast<const char*>(hit) : end;
    }
    static const char* findLineEnd(const char* p, const char* end) {
        return std::min(find(p, end, '\n'), find(p, end, '\r'));
    }
    static const char* afterLineEnd(const char* e, const char* end) {
        if (*e == '\r' && e + 1 < end && e[1] == '\n') {
            return e + 2;
        }
        return e + 1;
    }

    std::string carry_;
    bool skipLf_ = false;
    std::uint64_t lines_ = 0;
    std::uint64_t overlongLine_ = 0;
};

// Pass 1 for one line: the line as it is kept (cut to its first G, X, Y, Z or F after leading
// blanks or a block number), or an empty view when the line is dropped. A kept line is never
// empty and starts with G00, G01, X, Y or Z.
std::string_view FilterLine(std::string_view line);

// Pass 1 over a stream: each kept line is appended to the working-copy text with CR LF.
class LineFilter {
public:
    void Feed(std::string_view chunk, std::string& keptText);
    void Finish(std::string& keptText);
    std::size_t TempLineCount() const { return tempLineCount_; }
    // Set once a line was too long: the load must stop there, as nothing more is kept.
    std::optional<LoadRefusal> Refusal() const;

private:
    void keep(std::string_view line, std::string& keptText);

    LineSplitter splitter_;
    std::size_t tempLineCount_ = 0;
};

// The speed box texts whose formatted values become the default feed words of a load.
struct FeedDefaults {
    std::string cutSpeedText;    // cutspeed: the first G01 row without an F word
    std::string travelSpeedText; // Travspeed: the first G00 row without an F word
};

// The longest text a cell keeps. Every formatted number is shorter (a double has at most 309
// integer digits); a longer text is no number, and its cell keeps the start of it and "...",
// which never reads as one, so one row can never hold more than a few hundred bytes.
inline constexpr std::size_t MaxCellTextBytes = 320;

// Pass 2: one row per kept line, with the modal motion code, the modal feeds of G00 and G01
// rows kept apart, and the extents. A new builder starts with no state from any earlier load.
class ProgramBuilder {
public:
    explicit ProgramBuilder(FeedDefaults feeds, std::size_t expectedRows = 0);

    void AddLine(std::string_view keptLine);
    // Room for the rows of a file of this many bytes (Program::ReserveRowsFor).
    void ReserveRowsFor(std::uint64_t fileBytes) { program_.ReserveRowsFor(fileBytes); }
    // Working-copy bytes in chunks; Finish takes a last line without a line end.
    void Feed(std::string_view chunk);
    Program Finish();

    std::size_t RowCount() const { return program_.rows_.size(); }
    // The rows built so far.
    const Program& Partial() const { return program_; }
    // Set once a working-copy line was too long; the rows stop before it.
    std::optional<LoadRefusal> Refusal() const;

private:
    // A word of the line being read; only the last word of each letter becomes a cell.
    struct LineWord {
        bool present = false;
        bool lowerCase = false;
        bool isText = false;    // not a 32-bit number: `text` holds its formatted text
        std::int32_t value = 0; // thousandths otherwise
        std::string text;
    };

    WordCell makeCell(std::string_view text, bool lowerCase, bool trailingBlank);
    std::int32_t poolIndex(std::string text);
    void readWord(std::string_view text, bool lowerCase, LineWord& word);
    void offerExtent(Extent& extent, const LineWord& word);

    FeedDefaults feeds_;
    Program program_;
    LineSplitter splitter_;
    bool modalFeedMove_ = false; // ModalMotion: "G00 " at the start of every load
    bool g00FeedSet_ = false;
    bool g01FeedSet_ = false;
    WordCell lastG00Feed_;
    WordCell lastG01Feed_;
    LineWord lineWords_[4]; // of the line being read, by word column
};

// Both passes of the original loader over a whole file in memory. A line that is too long ends
// the rows before it and sets `refusal` when given. (A Load reads with program_load.h.)
Program LoadProgram(std::string_view fileBytes, const FeedDefaults& feeds,
                    std::optional<LoadRefusal>* refusal = nullptr);

// Why a path cannot be loaded as a G-code file although it exists (a folder, a device that
// never ends); none for a file or a pipe, and none when it is missing (opening it says why).
std::optional<std::string> NotAGcodeFile(const std::filesystem::path& path);

} // namespace gcode
