#include "motion/run_journal.h"

#include <charconv>
#include <cstdio>
#include <utility>
#include <vector>

namespace motion {
namespace {

constexpr std::string_view Format = "quorvane run journal 1";

std::uint64_t rotl(std::uint64_t v, int k) {
    return (v << k) | (v >> (64 - k));
}

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

template <class Number> bool numberOf(std::string_view text, Number& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

std::string rowText(const std::optional<std::size_t>& row) {
    return row ? std::to_string(*row) : std::string("none");
}

bool rowOf(std::string_view text, std::optional<std::size_t>& row) {
    if (text == "none") {
        row.reset();
        return true;
    }
    std::size_t r = 0;
    if (!numberOf(text, r)) {
        return false;
    }
    row = r;
    return true;
}

// Reads one "key value" line into the journal; false for a key it does not know or a value
// that does not read.
bool readLine(std::string_view key, std::string_view value, RunJournal& j) {
    if (key == "file" || key == "pulses" || key.starts_with("position")) {
        const auto text = unescaped(value);
        if (!text) {
            return false;
        }
        if (key == "file") {
            j.gcodePath = *text;
        } else if (key == "pulses") {
            j.pulsesPerMmText = *text;
        } else if (key.size() == 10 && key[9] >= 'x' && key[9] <= 'z') {
            j.positions[static_cast<std::size_t>(key[9] - 'x')] = *text;
        } else {
            return false;
        }
        return true;
    }
    if (key == "bytes") {
        return numberOf(value, j.fileBytes);
    }
    if (key == "hash") {
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), j.contentHash, 16);
        return error == std::errc() && end == value.data() + value.size();
    }
    if (key == "inverse") {
        if (value.size() != 3) {
            return false;
        }
        for (std::size_t a = 0; a < 3; ++a) {
            if (value[a] != '0' && value[a] != '1') {
                return false;
            }
            j.inverse[a] = value[a] == '1';
        }
        return true;
    }
    if (key == "arc-tolerance") {
        return numberOf(value, j.arcToleranceMm);
    }
    if (key == "rows") {
        return numberOf(value, j.rows);
    }
    if (key == "acknowledged") {
        return rowOf(value, j.lastAckedRow);
    }
    if (key == "acknowledged-line") {
        return numberOf(value, j.lastAckedLine);
    }
    if (key == "in-flight") {
        return rowOf(value, j.rowInFlight);
    }
    return false;
}

} // namespace

void ContentHash::word(std::uint64_t w) {
    h_ = (rotl(h_, 29) ^ w) * 0x9E3779B97F4A7C15ull;
}

void ContentHash::Add(std::string_view bytes) {
    bytes_ += bytes.size();
    std::size_t i = 0;
    while (i < bytes.size() && tailBytes_ != 0) {
        tail_ |= std::uint64_t{static_cast<unsigned char>(bytes[i++])} << (8 * tailBytes_);
        if (++tailBytes_ == 8) {
            word(tail_);
            tail_ = 0;
            tailBytes_ = 0;
        }
    }
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t w = 0;
        for (int k = 7; k >= 0; --k) {
            w = (w << 8) | static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
        }
        word(w);
    }
    for (; i < bytes.size(); ++i) {
        tail_ |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * tailBytes_++);
    }
}

std::uint64_t ContentHash::Value() const {
    // The length goes in last, so a file and the same file with zero bytes added differ.
    std::uint64_t h = (rotl(h_, 29) ^ tail_) * 0x9E3779B97F4A7C15ull;
    h = (rotl(h, 29) ^ bytes_) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    return h ^ (h >> 32);
}

std::string JournalText(const RunJournal& j) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(j.contentHash));
    std::string text(Format);
    text += "\nfile " + escaped(j.gcodePath);
    text += "\nbytes " + std::to_string(j.fileBytes);
    text += "\nhash " + std::string(hash);
    text += "\npulses " + escaped(j.pulsesPerMmText);
    text += "\ninverse ";
    for (const bool inverse : j.inverse) {
        text += inverse ? '1' : '0';
    }
    char tolerance[32];
    std::snprintf(tolerance, sizeof tolerance, "%.17g", j.arcToleranceMm);
    text += "\narc-tolerance " + std::string(tolerance);
    text += "\nrows " + std::to_string(j.rows);
    text += "\nacknowledged " + rowText(j.lastAckedRow);
    text += "\nacknowledged-line " + std::to_string(j.lastAckedLine);
    for (std::size_t a = 0; a < 3; ++a) {
        text += std::string("\nposition-").append(1, "xyz"[a]).append(" ");
        text += escaped(j.positions[a]);
    }
    text += "\nin-flight " + rowText(j.rowInFlight);
    text += "\nend\n";
    return text;
}

std::optional<RunJournal> ReadJournal(std::string_view text) {
    RunJournal journal;
    std::size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            return std::nullopt; // cut short
        }
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != Format) {
                return std::nullopt;
            }
            first = false;
            continue;
        }
        if (line == "end") {
            return at == text.size() ? std::optional(journal) : std::nullopt;
        }
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos ||
            !readLine(line.substr(0, space), line.substr(space + 1), journal)) {
            return std::nullopt;
        }
    }
    return std::nullopt; // no "end": written only in part
}

std::optional<std::string> ResumeRefusal(const RunJournal& journal, const ResumeCheck& now) {
    const std::string file = "\"" + journal.gcodePath + "\"";
    if (!now.fileFound) {
        return "The unfinished run's file " + file + " is no longer there.";
    }
    if (now.fileBytes != journal.fileBytes || now.contentHash != journal.contentHash) {
        return "The unfinished run's file " + file +
               " has changed since the run: its lines may not be the lines that were cut.";
    }
    if (now.pulsesPerMmText != journal.pulsesPerMmText) {
        return "Pulses per MM is " + now.pulsesPerMmText + " now but was " +
               journal.pulsesPerMmText + " during the run: its positions would not hold.";
    }
    if (now.inverse != journal.inverse) {
        return std::string("An Inverse box has changed since the run: its moves would go the "
                           "other way.");
    }
    if (now.arcToleranceMm != journal.arcToleranceMm) {
        return std::string("The arc tolerance has changed since the run: its arcs would be cut "
                           "as other straight moves.");
    }
    return std::nullopt;
}

std::string ResumeOfferText(const RunJournal& journal) {
    std::string text = "A run of \"" + journal.gcodePath + "\" did not finish";
    if (journal.lastAckedRow) {
        text += ": the board had finished row " + std::to_string(*journal.lastAckedRow + 1) +
                " (line " + std::to_string(journal.lastAckedLine) + " of the file)";
    } else {
        text += " before the board finished its first row";
    }
    text += ".";
    if (journal.rowInFlight) {
        text += " Row " + std::to_string(*journal.rowInFlight + 1) +
                " was in flight: the machine may have made it, in part or not at all.";
    }
    text += "\n\nLoad the file and go on from row " + std::to_string(journal.ResumeRow() + 1) +
            "? The displays will show where the last finished row left the machine; you "
            "confirm that, or zero the axes, before anything moves.";
    return text;
}

} // namespace motion
