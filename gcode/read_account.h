// What the G-code reader made of a file beyond its moves: what it converted, what it skipped
// and where. The window's program check and the dry run's summary tell the operator from it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace gcode {

struct ReadAccount {
    // How often something happened, and the first file line (1-based) it happened on.
    struct Tally {
        std::uint64_t count = 0;
        std::uint64_t firstLine = 0;

        void Add(std::uint64_t fileLine) {
            if (count++ == 0) {
                firstLine = fileLine;
            }
        }
    };

    // Words and moves the board cannot act on, by what they are ("S (spindle speed)", "G28
    // move (machine home)", ...), in the order they first appear.
    std::vector<std::pair<std::string, Tally>> skipped;
    Tally arcs;                    // G2, G3 moves
    std::uint64_t arcSegments = 0; // the straight moves they become at the arc tolerance
    Tally inchLines;               // moves programmed in inches (G20)
    Tally incrementalLines;        // moves programmed incrementally (G91)
    Tally offsetLines;             // G92 offsets set or changed
    Tally drillBlocks;             // drilling cycle blocks (G73, G81 .. G83)
    std::uint64_t drillMoves = 0;  // the straight moves they become
    std::uint64_t endLine = 0;     // the M2 or M30 that ended the program; 0 when none did
    std::uint64_t fileLines = 0;   // lines in the file, those after the end included

    // Every line on which something was skipped, with what: bit i stands for skipped[i].
    struct SkippedLine {
        std::uint64_t fileLine = 0;
        std::uint32_t what = 0;
    };
    std::vector<SkippedLine> skippedLines;

    void Skip(const std::string& what, std::uint64_t fileLine) {
        std::size_t i = 0;
        while (i < skipped.size() && skipped[i].first != what) {
            ++i;
        }
        if (i == skipped.size()) {
            skipped.emplace_back(what, Tally{});
        }
        skipped[i].second.Add(fileLine);
        if (skippedLines.empty() || skippedLines.back().fileLine != fileLine) {
            skippedLines.push_back(SkippedLine{fileLine, 0});
        }
        skippedLines.back().what |= std::uint32_t{1} << (i & 31);
    }

    // What was skipped on one line, as the names of `skipped` joined by "; ".
    std::string SkippedOn(const SkippedLine& line) const {
        std::string text;
        for (std::size_t i = 0; i < skipped.size() && i < 32; ++i) {
            if ((line.what & (std::uint32_t{1} << i)) != 0) {
                text += text.empty() ? "" : "; ";
                text += skipped[i].first;
            }
        }
        return text;
    }
};

} // namespace gcode
