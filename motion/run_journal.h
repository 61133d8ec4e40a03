// The resume point a live run keeps on disk while it goes, so that after a crash or a power cut
// the next start knows which line the board had finished: the file it came from (with a hash
// that any edit changes), the settings that change where a line takes the machine, the last
// acknowledged row with the displays it left, and the row that was in flight.
#pragma once

#include "motion/planning.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace motion {

// A 64-bit hash of a file's bytes, fed a piece at a time. Each 8-byte word goes through a step
// that is one-to-one for a given word, so changing any one word of a file always changes the
// hash; other edits collide with a chance of one in 2^64.
class ContentHash {
public:
    void Add(std::string_view bytes);
    std::uint64_t Value() const;
    std::uint64_t Bytes() const { return bytes_; }

private:
    void word(std::uint64_t w);

    std::uint64_t h_ = 0x243F6A8885A308D3ull;
    std::uint64_t bytes_ = 0;
    std::uint64_t tail_ = 0; // the bytes of an unfinished word, first byte lowest
    unsigned tailBytes_ = 0;
};

struct RunJournal {
    std::string gcodePath; // as the load opened it
    std::uint64_t fileBytes = 0;
    std::uint64_t contentHash = 0;
    // What changes the geometry of the rows and the steps they send.
    std::string pulsesPerMmText;
    std::array<bool, 3> inverse{};
    double arcToleranceMm = 0;
    std::size_t rows = 0;
    // The last row the board acknowledged (none: no row yet) with its file line, and the
    // displays it left; the row sent after it, if its acknowledgement has not come.
    std::optional<std::size_t> lastAckedRow;
    std::uint64_t lastAckedLine = 0;
    std::array<std::string, 3> positions{"0000.000", "0000.000", "0000.000"};
    std::optional<std::size_t> rowInFlight;

    // The row a resume goes on from: the one after the last acknowledged.
    std::size_t ResumeRow() const { return lastAckedRow ? *lastAckedRow + 1 : 0; }

    friend bool operator==(const RunJournal&, const RunJournal&) = default;
};

// The journal as its file holds it: a first line naming the format, then one "key value" line
// each, texts with their backslashes and line breaks escaped.
std::string JournalText(const RunJournal& journal);
// None for a text that is not a whole journal (a file cut short is no resume point).
std::optional<RunJournal> ReadJournal(std::string_view text);

// What the file and the settings are now, to hold against a journal.
struct ResumeCheck {
    bool fileFound = false;
    std::uint64_t fileBytes = 0;
    std::uint64_t contentHash = 0;
    std::string pulsesPerMmText;
    std::array<bool, 3> inverse{};
    double arcToleranceMm = 0;
};

// Why the run in the journal cannot go on with the file and settings as they are now, in the
// operator's words; none when it can.
std::optional<std::string> ResumeRefusal(const RunJournal& journal, const ResumeCheck& now);

// The offer made at start-up: which file, where the run got to, and that the line in flight
// may or may not have been made.
std::string ResumeOfferText(const RunJournal& journal);

} // namespace motion
