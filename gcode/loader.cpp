#include "gcode/loader.h"

#include "encoding/number_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>

namespace gcode {
namespace {

// Per byte: the word column of a word letter (0..3), or -1.
constexpr std::array<signed char, 256> makeWordIndex() {
    std::array<signed char, 256> t{};
    for (auto& v : t) {
        v = -1;
    }
    t['X'] = t['x'] = 0;
    t['Y'] = t['y'] = 1;
    t['Z'] = t['z'] = 2;
    t['F'] = t['f'] = 3;
    return t;
}
constexpr std::array<signed char, 256> WordIndex = makeWordIndex();

// Per byte: ends a word (a blank or the next word letter).
constexpr std::array<bool, 256> makeWordStop() {
    std::array<bool, 256> t{};
    for (int c = 0; c < 256; ++c) {
        t[static_cast<std::size_t>(c)] = c == ' ' || WordIndex[static_cast<std::size_t>(c)] >= 0;
    }
    return t;
}
constexpr std::array<bool, 256> WordStop = makeWordStop();

bool isCutTarget(char c) {
    return c == 'G' || c == 'X' || c == 'Y' || c == 'Z' || c == 'F';
}

std::string_view cutToFirstWord(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (isCutTarget(line[i])) {
            return line.substr(i);
        }
    }
    return {};
}

bool startsWithMotionCode(std::string_view line) {
    return line.size() >= 3 && line[0] == 'G' && line[1] == '0' &&
           (line[2] == '0' || line[2] == '1');
}

constexpr int FeedWord = 3;

} // namespace

std::string_view FilterLine(std::string_view line) {
    if (!line.empty() && line[0] == ' ') {
        line = cutToFirstWord(line);
    }
    if (line.empty()) {
        return {};
    }
    if (line[0] == 'N') {
        line = cutToFirstWord(line);
        if (line.empty()) {
            return {};
        }
    }
    switch (line[0]) {
    case 'G':
        return startsWithMotionCode(line) ? line : std::string_view();
    case 'X':
    case 'Y':
    case 'Z':
        return line;
    default:
        return {};
    }
}

void LineFilter::keep(std::string_view line, std::string& keptText) {
    const std::string_view kept = FilterLine(line);
    if (!kept.empty()) {
        keptText.append(kept);
        keptText.append("\r\n");
        ++tempLineCount_;
    }
}

void LineFilter::Feed(std::string_view chunk, std::string& keptText) {
    splitter_.Feed(chunk, [&](std::string_view line) { keep(line, keptText); });
}

void LineFilter::Finish(std::string& keptText) {
    splitter_.Finish([&](std::string_view line) { keep(line, keptText); });
}

std::optional<LoadRefusal> LineFilter::Refusal() const {
    if (splitter_.OverlongLine() == 0) {
        return std::nullopt;
    }
    return OverlongLineRefusal(splitter_.OverlongLine());
}

LoadRefusal OverlongLineRefusal(std::uint64_t fileLine) {
    return LoadRefusal{fileLine,
                       "Line " + std::to_string(fileLine) + " of the file is longer than 1 MiB (" +
                           std::to_string(MaxLineBytes) +
                           " characters), which no G-code line is, so the file is "
                           "not loaded.",
                       true};
}

ProgramBuilder::ProgramBuilder(FeedDefaults feeds, std::size_t expectedRows)
    : feeds_(std::move(feeds)) {
    program_.rows_.reserve(expectedRows);
}

std::int32_t ProgramBuilder::poolIndex(std::string text) {
    // Neighbouring rows often repeat a text word; they share the entry.
    if (!program_.pool_.empty() && program_.pool_.back() == text) {
        return static_cast<std::int32_t>(program_.pool_.size() - 1);
    }
    program_.pool_.push_back(std::move(text));
    return static_cast<std::int32_t>(program_.pool_.size() - 1);
}

WordCell ProgramBuilder::makeCell(std::string_view text, bool lowerCase, bool trailingBlank) {
    LineWord word;
    readWord(text, lowerCase, word);
    WordCell cell;
    cell.present = true;
    cell.lowerCase = lowerCase;
    cell.trailingBlank = trailingBlank;
    cell.pooled = word.isText;
    cell.value = word.isText ? poolIndex(std::move(word.text)) : word.value;
    return cell;
}

void ProgramBuilder::readWord(std::string_view text, bool lowerCase, LineWord& word) {
    word.present = true;
    word.lowerCase = lowerCase;
    std::int32_t thousandths = 0;
    word.isText = !ThousandthsOfWordText(text, thousandths);
    if (!word.isText) {
        word.value = thousandths;
        return;
    }
    word.text = encoding::Format(text);
    if (word.text.size() > MaxCellTextBytes) {
        word.text = word.text.substr(0, MaxCellTextBytes - 3) + "...";
    }
}

void ProgramBuilder::offerExtent(Extent& extent, const LineWord& word) {
    // The extent text is the 8 characters after the letter: the formatted word and its blank.
    if (!word.isText) {
        extent.OfferThousandths(word.value);
        return;
    }
    if (word.text.size() >= 8) {
        extent.Offer(std::string_view(word.text).substr(0, 8));
        return;
    }
    char candidate[8];
    std::memcpy(candidate, word.text.data(), word.text.size());
    candidate[word.text.size()] = ' ';
    extent.Offer(std::string_view(candidate, word.text.size() + 1));
}

void ProgramBuilder::AddLine(std::string_view line) {
    if (startsWithMotionCode(line)) {
        modalFeedMove_ = line[2] == '1';
    }
    // A line starting with a coordinate word gets ModalMotion in front; that prefix holds no
    // word letter, so scanning the line alone finds the same words.
    ProgramRow row;
    row.flags = modalFeedMove_ ? 1u : 0u;

    for (LineWord& word : lineWords_) {
        word.present = false;
    }
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p < end) {
        const int index = WordIndex[static_cast<unsigned char>(*p)];
        if (index < 0) {
            ++p;
            continue;
        }
        const bool lowerCase = *p >= 'a';
        const char* q = p + 1;
        while (q < end && !WordStop[static_cast<unsigned char>(*q)]) {
            ++q;
        }
        // A later word of the same letter replaces this one in the row, but every word is
        // offered to the extents.
        LineWord& word = lineWords_[index];
        readWord(std::string_view(p + 1, static_cast<std::size_t>(q - p - 1)), lowerCase, word);
        if (index == 0) {
            offerExtent(program_.XExtent, word);
        } else if (index == 1) {
            offerExtent(program_.YExtent, word);
        }
        p = q; // the word's own characters hold no word letter
    }
    for (int index = 0; index < 4; ++index) {
        LineWord& word = lineWords_[index];
        if (!word.present) {
            continue;
        }
        WordCell cell;
        cell.present = true;
        cell.lowerCase = word.lowerCase;
        cell.trailingBlank = true;
        cell.pooled = word.isText;
        cell.value = word.isText ? poolIndex(std::move(word.text)) : word.value;
        row.SetWord(index, cell);
    }

    WordCell& lastFeed = modalFeedMove_ ? lastG01Feed_ : lastG00Feed_;
    bool& feedSet = modalFeedMove_ ? g01FeedSet_ : g00FeedSet_;
    WordCell feed = row.Word(FeedWord);
    if (!feed.present) {
        if (!feedSet) {
            const std::string& speed =
                modalFeedMove_ ? feeds_.cutSpeedText : feeds_.travelSpeedText;
            feed = makeCell(speed, false, false);
        } else {
            feed = lastFeed;
        }
        row.SetWord(FeedWord, feed);
    }
    lastFeed = feed;
    feedSet = true;
    program_.rows_.push_back(row);
}

void ProgramBuilder::Feed(std::string_view chunk) {
    splitter_.Feed(chunk, [this](std::string_view line) { AddLine(line); });
}

std::optional<LoadRefusal> ProgramBuilder::Refusal() const {
    if (splitter_.OverlongLine() == 0) {
        return std::nullopt;
    }
    return OverlongLineRefusal(splitter_.OverlongLine());
}

Program ProgramBuilder::Finish() {
    splitter_.Finish([this](std::string_view line) { AddLine(line); });
    Program done = std::move(program_);
    program_ = Program();
    return done;
}

Program LoadProgram(std::string_view fileBytes, const FeedDefaults& feeds,
                    std::optional<LoadRefusal>* refusal) {
    // Kept lines hold no line end, so writing them to the working copy and reading it back
    // gives these same lines: pass 2 can take each one as pass 1 keeps it.
    ProgramBuilder builder(feeds);
    std::size_t kept = 0;
    std::uint64_t fileLine = 0;
    KeptLineNumbers lines;
    const auto keep = [&](std::string_view line) {
        ++fileLine;
        const std::string_view k = FilterLine(line);
        if (!k.empty()) {
            builder.AddLine(k);
            lines.Keep(kept, fileLine);
            ++kept;
        }
    };
    LineSplitter splitter;
    splitter.Feed(fileBytes, keep);
    splitter.Finish(keep);
    if (refusal) {
        refusal->reset();
        if (splitter.OverlongLine() != 0) {
            *refusal = OverlongLineRefusal(splitter.OverlongLine());
        }
    }
    Program program = builder.Finish();
    program.TempLineCount = kept;
    program.fileLines = std::move(lines);
    return program;
}

std::optional<std::string> NotAGcodeFile(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) {
        return std::nullopt;
    }
    switch (status.type()) {
    case fs::file_type::directory:
        return "it is a folder, not a G-code file";
    case fs::file_type::character:
    case fs::file_type::block:
        return "it is a device, not a G-code file";
    case fs::file_type::socket:
        return "it is a socket, not a G-code file";
    default:
        return std::nullopt;
    }
}

} // namespace gcode
