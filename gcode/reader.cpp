#include "gcode/reader.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"
#include "gcode/drill_cycle.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace gcode {
namespace {

// Positions, offsets and word values in nanometres (or a word's number times 10^9).
using Nano = std::int64_t;
constexpr Nano NanoPerMm = 1'000'000'000;
// No word of a real part comes near a hundred kilometres; below it every sum of two positions,
// and every inch word turned into millimetres, stays far inside 64 bits.
constexpr Nano MaxNano = NanoPerMm * 100'000'000; // 100 km; an inch word of it still converts

constexpr std::array<std::int64_t, 19> Pow10 = [] {
    std::array<std::int64_t, 19> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) {
        p[i] = p[i - 1] * 10;
    }
    return p;
}();

// a / b rounded half away from zero, b > 0: the rounding of every number text here.
std::int64_t roundedDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    const std::int64_t r = a % b;
    if (r >= 0 ? r >= b - r : -r >= b + r) {
        return a >= 0 ? q + 1 : q - 1;
    }
    return q;
}

// MaxNano / 10^e: the largest significand that 10^e scales within MaxNano, without a division
// for every number of the file.
constexpr std::array<std::uint64_t, 19> MaxNanoOver = [] {
    std::array<std::uint64_t, 19> m{};
    for (std::size_t e = 0; e < m.size(); ++e) {
        m[e] = static_cast<std::uint64_t>(MaxNano) / static_cast<std::uint64_t>(Pow10[e]);
    }
    return m;
}();

// The number of a word times 10^9, exactly while it has at most nine decimals (rounded half
// away beyond); false when it is too large to be a position.
bool nanoOf(const encoding::LeadingNumber& n, Nano& out) {
    const long long dropped =
        n.significantDigits > encoding::LeadingNumber::SignificandDigits
            ? static_cast<long long>(n.significantDigits -
                                     encoding::LeadingNumber::SignificandDigits)
            : 0;
    const long long e = dropped - static_cast<long long>(n.decimals) + 9;
    std::uint64_t v = n.significand;
    if (e >= 0) {
        if (v == 0) {
            out = 0;
            return true;
        }
        const auto scale =
            static_cast<std::uint64_t>(Pow10[static_cast<std::size_t>(std::min(e, 18LL))]);
        if (e > 18 || v > MaxNanoOver[static_cast<std::size_t>(e)]) {
            return false;
        }
        v *= scale;
    } else if (-e > 18) {
        v = 0;
    } else {
        const auto d = static_cast<std::uint64_t>(Pow10[static_cast<std::size_t>(-e)]);
        const std::uint64_t r = v % d;
        v = v / d + (r >= d - r ? 1 : 0);
    }
    if (v > static_cast<std::uint64_t>(MaxNano)) {
        return false;
    }
    out = n.negative ? -static_cast<Nano>(v) : static_cast<Nano>(v);
    return true;
}

// A byte of a line as it goes into the compact line: in upper case, or 0 where it is no part of
// a word (blanks, comment marks, control and 8-bit bytes).
constexpr std::array<char, 256> KeptByte = [] {
    std::array<char, 256> table{};
    for (int c = 0x21; c < 0x7F; ++c) {
        table[static_cast<std::size_t>(c)] =
            static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    table['('] = table[';'] = 0;
    return table;
}();

constexpr int Letters = 26;
constexpr int letterIndex(char upper) {
    return upper - 'A';
}

// G and M codes times ten (G92.1 is 921).
constexpr int code(int whole, int tenth = 0) {
    return whole * 10 + tenth;
}

// One line's words, checked for what RS274/NGC allows on one line.
// One per reader, cleared for every line: the values are read only where their letter is present.
struct Block {
    std::array<Nano, Letters> value;
    std::uint32_t present = 0;
    // G codes by modal group, times ten; -1 where the line has none.
    int motion = -1, plane = -1, distance = -1, arcDistance = -1, units = -1, feedMode = -1,
        cutterComp = -1, toolLength = -1, coordinates = -1, pathControl = -1, retract = -1,
        nonModal = -1;
    // M codes by group.
    int stop = -1, toolChange = -1, spindle = -1;
    std::vector<int> coolant;
    std::string comment; // the line's comments, joined by a blank

    bool Has(char letter) const { return (present & (1u << letterIndex(letter))) != 0; }
    Nano Value(char letter) const {
        return Has(letter) ? value[static_cast<std::size_t>(letterIndex(letter))] : 0;
    }
    void Clear() {
        present = 0;
        motion = plane = distance = arcDistance = units = feedMode = cutterComp = toolLength =
            coordinates = pathControl = retract = nonModal = -1;
        stop = toolChange = spindle = -1;
        coolant.clear();
        comment.clear();
    }
    bool HasAxis() const { return Has('X') || Has('Y') || Has('Z'); }
};

// The modal groups of G codes, as the block holds them.
constexpr int Block::*GroupMembers[] = {
    &Block::motion,      &Block::plane,       &Block::distance,   &Block::arcDistance,
    &Block::units,       &Block::feedMode,    &Block::cutterComp, &Block::toolLength,
    &Block::coordinates, &Block::pathControl, &Block::retract,    &Block::nonModal};

// For each G code below G100 (times ten), its group in GroupMembers, or -1 when unknown.
constexpr auto GroupOfCode = [] {
    std::array<std::int8_t, 1000> at{};
    at.fill(-1);
    const auto put = [&at](std::int8_t group, std::initializer_list<int> codes) {
        for (const int c : codes) {
            at[static_cast<std::size_t>(c)] = group;
        }
    };
    put(0, {code(0), code(1), code(2), code(3), code(73), code(80), code(81), code(82), code(83)});
    put(1, {code(17), code(18), code(19)});
    put(2, {code(90), code(91)});
    put(3, {code(90, 1), code(91, 1)});
    put(4, {code(20), code(21)});
    put(5, {code(93), code(94), code(95)});
    put(6, {code(40), code(41), code(42), code(41, 1), code(42, 1)});
    put(7, {code(43), code(43, 1), code(43, 2), code(49)});
    put(8, {code(54), code(55), code(56), code(57), code(58), code(59), code(59, 1), code(59, 2),
            code(59, 3)});
    put(9, {code(61), code(61, 1), code(64)});
    put(10, {code(98), code(99)});
    put(11, {code(4), code(10), code(28), code(28, 1), code(30), code(30, 1), code(53), code(92),
             code(92, 1), code(92, 2), code(92, 3)});
    return at;
}();

// Which modal group a G code belongs to (a pointer into the block), or null when unknown.
int* groupOf(Block& b, int g) {
    if (g < 0 || static_cast<std::size_t>(g) >= GroupOfCode.size() ||
        GroupOfCode[static_cast<std::size_t>(g)] < 0) {
        return nullptr;
    }
    return &(b.*GroupMembers[GroupOfCode[static_cast<std::size_t>(g)]]);
}

std::string codeText(char letter, int tenths) {
    std::string text(1, letter);
    text += std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        text += '.';
        text += static_cast<char>('0' + tenths % 10);
    }
    return text;
}

// A sentence of another part as a clause of the reader's own: "The arc's centre ..." becomes
// "the arc's centre ...", without its full stop. A sentence that starts with a code or a letter
// of G-code ("G83 needs ...", "L is ...") keeps it as written.
std::string clause(std::string sentence) {
    if (!sentence.empty() && sentence.back() == '.') {
        sentence.pop_back();
    }
    if (sentence.size() >= 2 && sentence[0] >= 'A' && sentence[0] <= 'Z' && sentence[1] >= 'a' &&
        sentence[1] <= 'z') {
        sentence[0] = static_cast<char>(sentence[0] - 'A' + 'a');
    }
    return sentence;
}

// What the reader refuses among the codes it knows the group of, and why.
const char* refusedCode(int g) {
    switch (g) {
    case code(41):
    case code(42):
    case code(41, 1):
    case code(42, 1):
        return "turns cutter radius compensation on, which this program cannot follow";
    case code(93):
        return "sets inverse-time feed (G93); only feeds in units per minute are understood";
    case code(95):
        return "sets feed per spindle turn (G95); only feeds in units per minute are understood";
    case code(55):
    case code(56):
    case code(57):
    case code(58):
    case code(59):
    case code(59, 1):
    case code(59, 2):
    case code(59, 3):
        return "selects another work offset; only G54, the place the machine stands at the "
               "load, is understood";
    case code(10):
        return "sets offsets with G10, which this program does not keep";
    case code(43, 1):
    case code(43, 2):
        return "sets a dynamic tool length offset, which this program does not keep";
    default:
        return nullptr;
    }
}

} // namespace

struct GcodeReader::State {
    explicit State(ReaderSettings s) : settings(std::move(s)) {
        travelFeed = defaultFeed(settings.feeds.travelSpeedText);
        cutFeed = defaultFeed(settings.feeds.cutSpeedText);
    }

    ReaderSettings settings;
    Program program;
    LineSplitter splitter;
    std::optional<LoadRefusal> refusal;
    bool ended = false; // M2 or M30: nothing after it is read
    std::uint64_t fileLine = 0;

    // The modal state, as a run from the load position starts it.
    Nano position[3] = {0, 0, 0}; // the load frame
    Nano offset[3] = {0, 0, 0};   // G92, in force
    Nano savedOffset[3] = {0, 0, 0};
    int motion = code(0); // a coordinate line before any G0 or G1 is a rapid, as it always was
    Plane plane = Plane::XY;
    bool inches = false;
    bool incremental = false;
    bool incrementalCentres = true; // G91.1
    bool retractToR = false;        // G98
    std::optional<Nano> feed;       // F as written, in units per minute of its line
    bool feedInches = false;
    // The R, Z, Q and P words of a drilling cycle, as written: a block of the same cycle that
    // follows without them reads them again, in its own units and distance mode, as RS274/NGC
    // interpreters do. Any other motion code in between forgets them.
    std::optional<Nano> cycleR, cycleZ, cyclePeck, cycleDwell;
    // The Z before the first block of a series of cycle blocks, whichever cycles follow: G98
    // climbs back to it, and an incremental R counts from it.
    std::optional<Nano> cycleSeriesZ;
    std::string lastTool; // the last T word, for a tool change's note

    WordCell travelFeed;
    WordCell cutFeed;
    std::string line; // the line without blanks and comments, upper case
    Block block;      // its words

    // -- words --------------------------------------------------------------------------------

    WordCell defaultFeed(const std::string& text) {
        // The speed boxes' texts become feed cells as the original loader makes them: the
        // formatted number, without the blank a word from a file has.
        WordCell cell;
        cell.present = true;
        std::int32_t thousandths = 0;
        if (ThousandthsOfWordText(text, thousandths)) {
            cell.value = thousandths;
        } else {
            cell.pooled = true;
            cell.value = pool(encoding::Format(text));
        }
        return cell;
    }

    std::int32_t pool(std::string text) {
        if (!program.pool_.empty() && program.pool_.back() == text) {
            return static_cast<std::int32_t>(program.pool_.size() - 1);
        }
        program.pool_.push_back(std::move(text));
        return static_cast<std::int32_t>(program.pool_.size() - 1);
    }

    // A cell of a length or speed in nanometres: its thousandths, or its text beyond 32 bits.
    WordCell cellOf(Nano nano) {
        WordCell cell;
        cell.present = true;
        cell.trailingBlank = true;
        const std::int64_t thousandths = roundedDiv(nano, 1'000'000);
        if (thousandths >= std::numeric_limits<std::int32_t>::min() &&
            thousandths <= std::numeric_limits<std::int32_t>::max()) {
            cell.value = static_cast<std::int32_t>(thousandths);
        } else {
            cell.pooled = true;
            cell.value = pool(encoding::FormatThousandths(thousandths));
        }
        return cell;
    }

    // An inch is exactly 25.4 mm: exact for words of up to eight decimals. 25.4 v is 25 v and
    // 0.4 v, so nothing beyond MaxNano is ever multiplied out of 64 bits.
    static Nano inchesToMm(Nano value) { return value * 25 + roundedDiv(value * 4, 10); }
    Nano toMm(Nano value) const { return inches ? inchesToMm(value) : value; }

    bool refuse(const std::string& why) {
        if (!refusal) {
            refusal = LoadRefusal{fileLine, "Line " + std::to_string(fileLine) + " of the file " +
                                                why + ", so the file is not loaded."};
        }
        return false;
    }

    // The line without blanks and comments, upper case; false when a comment is not closed or
    // a byte cannot be part of G-code.
    bool compact(std::string_view raw, Block& block) {
        // Written through a pointer into room for the whole line: the line only shrinks.
        line.resize(raw.size());
        char* out = line.data();
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const char c = raw[i];
            // Most bytes are kept as they are or in upper case: one look-up decides.
            if (const char kept = KeptByte[static_cast<unsigned char>(c)]; kept != 0) {
                *out++ = kept;
                continue;
            }
            if (c == '(') {
                const std::size_t close = raw.find(')', i + 1);
                if (close == std::string_view::npos) {
                    return refuse("has a comment that is not closed: \"(\" without \")\"");
                }
                if (!block.comment.empty()) {
                    block.comment += ' ';
                }
                block.comment.append(raw.substr(i + 1, close - i - 1));
                i = close;
            } else if (c == ';') {
                if (!block.comment.empty()) {
                    block.comment += ' ';
                }
                block.comment.append(raw.substr(i + 1));
                break;
            } else if (c == ' ' || c == '\t') {
                continue;
            } else if (static_cast<unsigned char>(c) < 0x20 ||
                       static_cast<unsigned char>(c) >= 0x7F) {
                return refuse("holds a character that is no part of G-code (byte " +
                              std::to_string(static_cast<unsigned char>(c)) + ")");
            }
        }
        line.resize(static_cast<std::size_t>(out - line.data()));
        return true;
    }

    bool addCode(Block& block, char letter, Nano value) {
        // Codes have at most one decimal: G92.1 is 921.
        if (value < 0 || value % 100'000'000 != 0 || value > 10'000 * NanoPerMm) {
            return refuse("has a code the program does not know: " + std::string(1, letter) +
                          encoding::FormatSignificant(static_cast<double>(value) / 1e9));
        }
        const int tenths = static_cast<int>(value / 100'000'000);
        if (letter == 'G') {
            int* group = groupOf(block, tenths);
            if (group == nullptr) {
                return refuse(tenths == code(5) || tenths == code(5, 1) || tenths == code(5, 2)
                                  ? "has a spline (" + codeText('G', tenths) +
                                        "), which this program cannot cut"
                                  : "has a code the program does not know: " +
                                        codeText('G', tenths));
            }
            if (*group >= 0) {
                return refuse("has two G codes of one group: " + codeText('G', *group) + " and " +
                              codeText('G', tenths));
            }
            *group = tenths;
            return true;
        }
        int* group = nullptr;
        switch (tenths) {
        case code(0):
        case code(1):
        case code(2):
        case code(30):
            group = &block.stop;
            break;
        case code(6):
            group = &block.toolChange;
            break;
        case code(3):
        case code(4):
        case code(5):
            group = &block.spindle;
            break;
        case code(7):
        case code(8):
        case code(9):
            block.coolant.push_back(tenths);
            return true;
        default:
            return refuse("has a code the program does not know: " + codeText('M', tenths));
        }
        if (*group >= 0) {
            return refuse("has two M codes of one group: " + codeText('M', *group) + " and " +
                          codeText('M', tenths));
        }
        *group = tenths;
        return true;
    }

    bool parse(Block& block) {
        std::string_view rest(line);
        if (!rest.empty() && rest.front() == '/') {
            rest.remove_prefix(1); // block delete: the line is run all the same
        }
        while (!rest.empty()) {
            const char letter = rest.front();
            if (letter == '#') {
                return refuse("uses parameters (#), which this program does not understand");
            }
            if (letter == '[') {
                return refuse("uses an expression ([ ]), which this program does not understand");
            }
            if (letter == 'O') {
                return refuse("uses O words (subroutines or loops), which this program does not "
                              "understand");
            }
            if (letter < 'A' || letter > 'Z' ||
                std::string_view("ABCEOUVW").find(letter) != std::string_view::npos) {
                return refuse("has a word the program does not know: " +
                              std::string(rest.substr(0, std::min<std::size_t>(rest.size(), 12))));
            }
            rest.remove_prefix(1);
            const encoding::LeadingNumber number = encoding::LeadingNumberOf(rest);
            if (number.mantissa.empty()) {
                if (!rest.empty() && (rest.front() == '[' || rest.front() == '#')) {
                    return refuse(rest.front() == '[' ? "uses an expression ([ ]), which this "
                                                        "program does not understand"
                                                      : "uses parameters (#), which this program "
                                                        "does not understand");
                }
                return refuse("has " + std::string(1, letter) + " without a number");
            }
            // The number ends with its digits: an E after them is the next word, not an exponent.
            const std::size_t length = static_cast<std::size_t>(
                number.mantissa.data() + number.mantissa.size() - rest.data());
            Nano value = 0;
            if (!nanoOf(number, value)) {
                return refuse("has a number too large for any machine: " + std::string(1, letter) +
                              std::string(rest.substr(0, std::min<std::size_t>(length, 24))));
            }
            rest.remove_prefix(length);
            if (letter == 'G' || letter == 'M') {
                if (!addCode(block, letter, value)) {
                    return false;
                }
                continue;
            }
            if (letter == 'N') {
                continue; // block numbers only name lines
            }
            const std::uint32_t bit = 1u << letterIndex(letter);
            if ((block.present & bit) != 0) {
                return refuse("has two " + std::string(1, letter) + " words");
            }
            block.present |= bit;
            block.value[static_cast<std::size_t>(letterIndex(letter))] = value;
        }
        return true;
    }

    // -- rows ---------------------------------------------------------------------------------

    WordCell feedCell(bool rapid) {
        if (rapid) {
            return travelFeed;
        }
        if (!feed) {
            return cutFeed;
        }
        return cellOf(feedInches ? inchesToMm(*feed) : *feed);
    }

    // One row to `target`, its cells the axes in `axes` (bit 0 X, 1 Y, 2 Z).
    void addRow(Motion kind, const Nano (&target)[3], unsigned axes) {
        ProgramRow row;
        row.SetMotion(kind);
        for (int a = 0; a < 3; ++a) {
            if ((axes & (1u << a)) != 0) {
                const WordCell cell = cellOf(target[a]);
                row.SetWord(a, cell);
                if (a < 2) {
                    offerExtent(a == 0 ? program.XExtent : program.YExtent, cell);
                }
            }
        }
        row.SetWord(FeedColumn - 1, feedCell(kind == Motion::Rapid));
        program.fileLines.Keep(program.rows_.size(), fileLine);
        program.rows_.push_back(row);
        for (int a = 0; a < 3; ++a) {
            position[a] = target[a];
        }
    }

    void offerExtent(Extent& extent, const WordCell& cell) {
        if (!cell.pooled) {
            extent.OfferThousandths(cell.value);
            return;
        }
        const std::string& text = program.pool_[static_cast<std::size_t>(cell.value)];
        extent.Offer(std::string_view(text).substr(0, 8));
    }

    void note(RowNote::Kind kind, double seconds, std::string text) {
        program.notes_.push_back(
            RowNote{program.rows_.size(), kind, seconds, fileLine, std::move(text)});
    }

    // -- the line, in the order RS274/NGC runs a line's words ----------------------------------

    bool run(const Block& b, std::string_view raw) {
        if (b.feedMode >= 0 && refusedCode(b.feedMode)) {
            return refuse(refusedCode(b.feedMode));
        }
        if (b.Has('F')) {
            feed = b.Value('F');
            feedInches = b.units >= 0 ? b.units == code(20) : inches;
        }
        if (!boardWords(b, raw) || !modes(b)) {
            return false;
        }
        if (b.nonModal >= 0 && refusedCode(b.nonModal)) {
            return refuse(refusedCode(b.nonModal));
        }
        if (!nonModalMoves(b) || !motionOf(b)) {
            return false;
        }
        programStop(b, raw);
        return true;
    }

    // The spindle, tool, coolant and dwell words the board cannot act on: skipped and counted,
    // a tool change and a dwell remembered on the row they stand before.
    bool boardWords(const Block& b, std::string_view raw) {
        if (b.Has('S')) {
            program.account.Skip("S (spindle speed)", fileLine);
        }
        if (b.Has('T')) {
            program.account.Skip("T (tool number)", fileLine);
            lastTool = 'T';
            lastTool += encoding::FormatSignificant(static_cast<double>(b.Value('T')) / 1e9);
        }
        if (b.toolChange >= 0) {
            program.account.Skip("M6 (tool change)", fileLine);
            // The tool may have been named on a line of its own before.
            std::string text(raw);
            if (!b.Has('T') && !lastTool.empty()) {
                text = lastTool + ": " + text;
            }
            note(RowNote::Kind::ToolChange, 0, std::move(text));
        }
        if (b.spindle >= 0) {
            program.account.Skip("M3, M4, M5 (spindle)", fileLine);
        }
        if (!b.coolant.empty()) {
            program.account.Skip("M7, M8, M9 (coolant)", fileLine);
        }
        if (b.nonModal == code(4)) {
            if (!b.Has('P') || b.Value('P') < 0) {
                return refuse("has a dwell (G4) without a P word of 0 seconds or more");
            }
            program.account.Skip("G4 (dwell)", fileLine);
            note(RowNote::Kind::Dwell, static_cast<double>(b.Value('P')) / 1e9, std::string(raw));
        }
        return true;
    }

    // The modes the line sets: plane, units, distance modes and retract; offsets and
    // compensation refused or skipped.
    bool modes(const Block& b) {
        if (b.plane >= 0) {
            plane = static_cast<Plane>(b.plane / 10);
        }
        if (b.units >= 0) {
            inches = b.units == code(20);
        }
        for (const int g : {b.cutterComp, b.toolLength, b.coordinates}) {
            if (g >= 0 && refusedCode(g)) {
                return refuse(refusedCode(g));
            }
        }
        if (b.toolLength == code(43) || b.Has('H')) {
            program.account.Skip("G43 H (tool length offset)", fileLine);
        }
        if (b.Has('D')) {
            program.account.Skip("D (tool diameter)", fileLine);
        }
        if (b.distance >= 0) {
            incremental = b.distance == code(91);
        }
        if (b.arcDistance >= 0) {
            incrementalCentres = b.arcDistance == code(91, 1);
        }
        if (b.retract >= 0) {
            retractToR = b.retract == code(99);
        }
        return true;
    }

    // M0 and M1 remembered on the row after them; M2 and M30 end the program.
    void programStop(const Block& b, std::string_view raw) {
        if (b.stop == code(0)) {
            program.account.Skip("M0 (program stop)", fileLine);
            note(RowNote::Kind::Stop, 0, std::string(raw));
        } else if (b.stop == code(1)) {
            program.account.Skip("M1 (optional stop)", fileLine);
            note(RowNote::Kind::OptionalStop, 0, std::string(raw));
        } else if (b.stop == code(2) || b.stop == code(30)) {
            ended = true;
            program.account.endLine = fileLine;
        }
    }

    // G28, G30, G53 and the G92 family: the codes that take the line's axis words themselves.
    bool nonModalMoves(const Block& b) {
        switch (b.nonModal) {
        case code(28):
        case code(30):
            program.account.Skip(b.nonModal == code(28) ? "G28 (move home)" : "G30 (move home)",
                                 fileLine);
            return true;
        case code(28, 1):
        case code(30, 1):
            program.account.Skip("G28.1, G30.1 (home position)", fileLine);
            return true;
        case code(53):
            program.account.Skip("G53 (move in machine coordinates)", fileLine);
            return true;
        case code(92):
            if (!b.HasAxis()) {
                return refuse("has G92 without an X, Y or Z word");
            }
            for (int a = 0; a < 3; ++a) {
                if (b.Has(static_cast<char>('X' + a))) {
                    offset[a] = position[a] - toMm(b.Value(static_cast<char>('X' + a)));
                    savedOffset[a] = offset[a];
                }
            }
            program.account.offsetLines.Add(fileLine);
            return true;
        case code(92, 1):
            for (int a = 0; a < 3; ++a) {
                offset[a] = savedOffset[a] = 0;
            }
            program.account.offsetLines.Add(fileLine);
            return true;
        case code(92, 2):
            for (Nano& o : offset) {
                o = 0;
            }
            program.account.offsetLines.Add(fileLine);
            return true;
        case code(92, 3):
            for (int a = 0; a < 3; ++a) {
                offset[a] = savedOffset[a];
            }
            program.account.offsetLines.Add(fileLine);
            return true;
        default:
            return true;
        }
    }

    // Where an axis word takes its axis: absolute words count from the G92 offset, incremental
    // ones from where the axis stands.
    Nano targetOf(const Block& b, int a) const {
        const char letter = static_cast<char>('X' + a);
        if (!b.Has(letter)) {
            return position[a];
        }
        const Nano v = toMm(b.Value(letter));
        return incremental ? position[a] + v : v + offset[a];
    }

    bool withinReach(const Nano (&target)[3]) {
        for (const Nano t : target) {
            if (t > MaxNano || t < -MaxNano) {
                return refuse("moves farther than a thousand kilometres from the load position");
            }
        }
        return true;
    }

    bool motionOf(const Block& b) {
        const int previousMotion = motion;
        if (b.motion >= 0) {
            motion = b.motion;
        }
        if (!isCycle(motion)) {
            cycleSeriesZ.reset(); // a series of cycle blocks ends at G80 or any other motion
        }
        // The axis words belong to G28, G30, G53 or G92 when the line has one of those.
        const bool axisWordsTaken = b.nonModal == code(28) || b.nonModal == code(30) ||
                                    b.nonModal == code(53) || b.nonModal == code(92);
        if (axisWordsTaken) {
            if (b.motion >= 0 && b.nonModal == code(92)) {
                return refuse("has G92 and a motion code together");
            }
            return true;
        }
        const bool arcWords = b.Has('I') || b.Has('J') || b.Has('K') || b.Has('R');
        // An arc without X, Y or Z ends where it starts: a full circle round its centre.
        const bool fullCircle = (motion == code(2) || motion == code(3)) && arcWords;
        if (!b.HasAxis() && !fullCircle) {
            if (arcWords && motion != code(2) && motion != code(3) && !isCycle(motion)) {
                return refuse("has I, J, K or R without a G2 or G3 to use them");
            }
            return true; // a motion code alone only sets the mode
        }
        if (motion == code(80)) {
            return refuse("has X, Y or Z after G80 cancelled the motion: give G0 or G1");
        }

        if (b.Has('Q') && !isCycle(motion) && b.pathControl != code(64)) {
            return refuse("has a Q word outside a drilling cycle");
        }
        if (b.Has('L') && !isCycle(motion)) {
            return refuse("has an L word outside a drilling cycle");
        }
        if (inches) {
            program.account.inchLines.Add(fileLine);
        }
        if (incremental) {
            program.account.incrementalLines.Add(fileLine);
        }
        if (isCycle(motion)) {
            return drill(b, previousMotion == motion);
        }
        Nano target[3];
        unsigned axes = 0;
        for (int a = 0; a < 3; ++a) {
            target[a] = targetOf(b, a);
            axes |= b.Has(static_cast<char>('X' + a)) ? 1u << a : 0u;
        }
        if (!withinReach(target)) {
            return false;
        }
        if (motion == code(0) || motion == code(1)) {
            if (arcWords) {
                return refuse("has I, J, K or R without a G2 or G3 to use them");
            }
            if (b.Has('P') && b.nonModal != code(4) && b.pathControl != code(64)) {
                return refuse("has a P word that no code on it uses");
            }
            addRow(motion == code(0) ? Motion::Rapid : Motion::Feed, target, axes);
            return true;
        }
        return arc(b, target, axes);
    }

    static bool isCycle(int m) {
        return m == code(73) || m == code(81) || m == code(82) || m == code(83);
    }

    static std::array<double, 3> mm(const Nano (&p)[3]) {
        return {static_cast<double>(p[0]) / 1e9, static_cast<double>(p[1]) / 1e9,
                static_cast<double>(p[2]) / 1e9};
    }

    // The centre words of each plane: G17 I and J, G18 I and K, G19 J and K.
    static constexpr char centreLetter[3] = {'I', 'J', 'K'};

    // The centre an arc's I, J, K words give on the plane's axes `u` and `v`, written into
    // `centre`; false when the words cannot give one.
    bool arcCentre(const Block& b, int u, int v, Nano (&centre)[3]) {
        const int across = 3 - u - v;
        if (b.Has(centreLetter[across])) {
            return refuse("has an arc with " + std::string(1, centreLetter[across]) +
                          ", which does not lie in the plane (" +
                          codeText('G', code(static_cast<int>(plane))) + ")");
        }
        if (!b.Has(centreLetter[u]) && !b.Has(centreLetter[v])) {
            return refuse("has an arc without its centre (I, J, K) or radius (R)");
        }
        for (const int a : {u, v}) {
            // A missing incremental centre word is 0, the centre level with the start; a
            // missing absolute one is no place at all.
            if (!incrementalCentres && !b.Has(centreLetter[a])) {
                return refuse("has an arc with absolute centres (G90.1) without its " +
                              std::string(1, centreLetter[a]) + " word");
            }
            const Nano w = b.Has(centreLetter[a]) ? toMm(b.Value(centreLetter[a])) : 0;
            // An absolute centre word counts from the program's zero, as a position does.
            centre[a] = incrementalCentres ? position[a] + w : w + offset[a];
        }
        return true;
    }

    bool arc(const Block& b, const Nano (&target)[3], unsigned axes) {
        const bool clockwise = motion == code(2);
        int turns = 1;
        if (b.Has('P')) {
            const Nano p = b.Value('P');
            if (p < NanoPerMm || p % NanoPerMm != 0) {
                return refuse("has an arc with P that is not a whole number of turns");
            }
            turns = static_cast<int>(std::min<Nano>(p / NanoPerMm, 1'000'000));
        }
        int u = 0, v = 1;
        if (plane == Plane::ZX) {
            u = 2;
            v = 0;
        } else if (plane == Plane::YZ) {
            u = 1;
            v = 2;
        }
        ArcRefusal why;
        std::optional<Arc> made;
        const std::array<double, 3> start = mm(position);
        const std::array<double, 3> end = mm(target);
        if (b.Has('R')) {
            if (b.Has('I') || b.Has('J') || b.Has('K')) {
                return refuse("has an arc with both R and I, J or K");
            }
            made = ArcFromRadius(start, end, static_cast<double>(toMm(b.Value('R'))) / 1e9, plane,
                                 clockwise, turns, why);
        } else {
            Nano centre[3] = {position[0], position[1], position[2]};
            if (!arcCentre(b, u, v, centre)) {
                return false;
            }
            made = ArcFromCentre(start, end, mm(centre), plane, clockwise, turns, why);
        }
        if (!made) {
            return refuse("has an arc that cannot be cut: " + clause(why.message));
        }
        const std::optional<std::size_t> segments = ArcSegmentCount(*made, settings.arcToleranceMm);
        if (!segments) {
            return refuse("has an arc that would take more than " + std::to_string(MaxArcSegments) +
                          " straight moves at the arc tolerance");
        }
        program.account.arcs.Add(fileLine);
        program.account.arcSegments += *segments;
        program.arcs_.push_back(Program::RowArc{program.rows_.size(), *made});
        // The end point of the plane's axes always goes in the cells, so the row shows where
        // the arc ends, as does the third axis when it moves.
        addRow(clockwise ? Motion::ArcClockwise : Motion::ArcCounterClockwise, target,
               axes | (1u << u) | (1u << v));
        return true;
    }

    // `sameCycle`: the block goes on with the cycle of the block before, and so may leave out
    // the R, Z, Q and P words that block gave.
    bool drill(const Block& b, bool sameCycle) {
        if (plane != Plane::XY) {
            return refuse("has a drilling cycle in " +
                          codeText('G', code(static_cast<int>(plane))) +
                          "; drilling is understood along Z (G17) only");
        }
        if (b.Has('I') || b.Has('J') || b.Has('K')) {
            return refuse("has I, J or K in a drilling cycle");
        }
        DrillBlock block;
        if (!cycleWords(b, sameCycle) || !drillBlockOf(b, block)) {
            return false;
        }
        CycleRefusal why;
        const std::optional<std::vector<CycleMove>> moves =
            DrillBlockMoves(block, mm(position), why);
        if (!moves) {
            return refuse("has a drilling cycle that cannot be drilled: " + clause(why.message));
        }
        program.account.drillBlocks.Add(fileLine);
        program.account.drillMoves += moves->size();
        return addCycleRows(*moves);
    }

    // Takes the block's R, Z, Q and P, kept from the blocks of the same cycle before it; false
    // (refused) where the cycle lacks one it needs: it would be drilled from or to 0.
    bool cycleWords(const Block& b, bool sameCycle) {
        if (!sameCycle) {
            cycleR.reset();
            cycleZ.reset();
            cyclePeck.reset();
            cycleDwell.reset();
        }
        for (const auto& [letter, word] :
             {std::pair{'R', &cycleR}, std::pair{'Z', &cycleZ}, std::pair{'Q', &cyclePeck},
              std::pair{'P', &cycleDwell}}) {
            if (b.Has(letter)) {
                *word = b.Value(letter);
            }
        }
        const std::string cycle = codeText('G', motion);
        if (!cycleR) {
            return refuse("has a drilling cycle (" + cycle + ") without its R plane (R)");
        }
        if (!cycleZ) {
            return refuse("has a drilling cycle (" + cycle +
                          ") without the bottom of its hole (Z)");
        }
        if ((motion == code(73) || motion == code(83)) && !cyclePeck) {
            return refuse("has " + cycle + " without its peck depth (Q)");
        }
        if (motion == code(82) && !cycleDwell) {
            return refuse("has G82 without its dwell (P)");
        }
        return true;
    }

    // The block in mm of the load frame, absolute, as the cycle's moves are made from it.
    bool drillBlockOf(const Block& b, DrillBlock& block) {
        if (!cycleSeriesZ) {
            cycleSeriesZ = position[2];
        }
        // Incremental: R from the Z the series started at, the bottom from R.
        const Nano r = incremental ? *cycleSeriesZ + toMm(*cycleR) : toMm(*cycleR) + offset[2];
        const Nano bottom = incremental ? r + toMm(*cycleZ) : toMm(*cycleZ) + offset[2];
        int repeats = 1;
        if (b.Has('L')) {
            const Nano l = b.Value('L');
            if (l % NanoPerMm != 0 || l < 0) {
                return refuse("has an L that is not a whole number of repeats");
            }
            repeats = static_cast<int>(std::min<Nano>(l / NanoPerMm, 100'000));
        }
        block.code = motion / 10;
        block.retractToR = retractToR;
        block.r = static_cast<double>(r) / 1e9;
        block.bottom = static_cast<double>(bottom) / 1e9;
        block.peck = cyclePeck ? static_cast<double>(toMm(*cyclePeck)) / 1e9 : 0;
        block.dwellSeconds = motion == code(82) ? static_cast<double>(*cycleDwell) / 1e9 : 0;
        block.repeats = repeats;
        block.seriesStartZ = static_cast<double>(*cycleSeriesZ) / 1e9;
        for (int a = 0; a < 2; ++a) {
            const char letter = static_cast<char>('X' + a);
            const Nano w = b.Has(letter) ? toMm(b.Value(letter)) : 0;
            const Nano first =
                incremental ? position[a] + w : (b.Has(letter) ? w + offset[a] : position[a]);
            block.firstHole[static_cast<std::size_t>(a)] = static_cast<double>(first) / 1e9;
            block.step[static_cast<std::size_t>(a)] =
                incremental ? static_cast<double>(w) / 1e9 : 0;
        }
        return true;
    }

    // A row per move of a cycle, each with the axes it moves (to another shown position).
    bool addCycleRows(const std::vector<CycleMove>& moves) {
        for (const CycleMove& m : moves) {
            Nano target[3];
            unsigned axes = 0;
            for (int a = 0; a < 3; ++a) {
                target[a] =
                    static_cast<Nano>(std::llround(m.target[static_cast<std::size_t>(a)] * 1e9));
                if (roundedDiv(target[a], 1'000'000) != roundedDiv(position[a], 1'000'000)) {
                    axes |= 1u << a;
                }
            }
            if (!withinReach(target)) {
                return false;
            }
            addRow(m.rapid ? Motion::Rapid : Motion::Feed, target, axes);
            if (m.dwellAfterSeconds > 0) {
                note(RowNote::Kind::Dwell, m.dwellAfterSeconds, "G82 P");
            }
        }
        return true;
    }

    void readLine(std::string_view raw) {
        ++fileLine;
        if (refusal || ended) {
            return;
        }
        block.Clear();
        if (!compact(raw, block)) {
            return;
        }
        if (line.empty() || line.front() == '%') {
            return; // a comment, an empty line, or the tape's start and end marks
        }
        if (parse(block)) {
            run(block, raw);
        }
    }
};

GcodeReader::GcodeReader(ReaderSettings settings)
    : state_(std::make_unique<State>(std::move(settings))) {
    state_->program.dialect = Dialect::Reader;
    state_->program.ReserveRowsFor(state_->settings.fileBytes);
}

GcodeReader::~GcodeReader() = default;

void GcodeReader::Feed(std::string_view chunk) {
    State& s = *state_;
    s.splitter.Feed(chunk, [&s](std::string_view line) { s.readLine(line); });
    if (s.splitter.OverlongLine() != 0 && !s.refusal) {
        s.refusal = OverlongLineRefusal(s.splitter.OverlongLine());
    }
}

void GcodeReader::ReadLine(std::string_view line) {
    state_->readLine(line);
}

void GcodeReader::Finish() {
    State& s = *state_;
    s.splitter.Finish([&s](std::string_view line) { s.readLine(line); });
}

const std::optional<LoadRefusal>& GcodeReader::Refusal() const {
    return state_->refusal;
}

const Program& GcodeReader::Partial() const {
    return state_->program;
}

Program GcodeReader::TakeProgram() {
    Program done = std::move(state_->program);
    done.TempLineCount = done.LineCount();
    done.account.fileLines = state_->fileLine;
    state_->program = Program();
    state_->program.dialect = Dialect::Reader;
    return done;
}

Program ReadGcode(std::string_view fileBytes, const ReaderSettings& settings,
                  std::optional<LoadRefusal>* refusal) {
    GcodeReader reader(settings);
    reader.Feed(fileBytes);
    reader.Finish();
    if (refusal) {
        *refusal = reader.Refusal();
    }
    return reader.TakeProgram();
}

} // namespace gcode
