#include "motion/run_control.h"

#include "encoding/number_text.h"
#include "encoding/thousandths.h"

#include <algorithm>
#include <limits>

namespace motion {

std::span<const gcode::RowNote> NotesBefore(const gcode::Program& program, std::size_t row) {
    const std::span<const gcode::RowNote> notes = program.Notes();
    const auto first = std::lower_bound(
        notes.begin(), notes.end(), row,
        [](const gcode::RowNote& note, std::size_t r) { return note.beforeRow < r; });
    auto last = first;
    while (last != notes.end() && last->beforeRow == row) {
        ++last;
    }
    return {first, last};
}

NoteAction ActionOf(const gcode::RowNote& note, bool optionalStops) {
    switch (note.kind) {
    case gcode::RowNote::Kind::Stop:
    case gcode::RowNote::Kind::ToolChange:
        return NoteAction::Pause;
    case gcode::RowNote::Kind::OptionalStop:
        return optionalStops ? NoteAction::Pause : NoteAction::None;
    case gcode::RowNote::Kind::Dwell:
        return note.seconds > 0 ? NoteAction::Dwell : NoteAction::None;
    }
    return NoteAction::None;
}

std::string StopNoteText(const gcode::RowNote& note) {
    const std::string at = " at line " + std::to_string(note.fileLine) + ": " + note.text;
    switch (note.kind) {
    case gcode::RowNote::Kind::ToolChange:
        return "Tool change" + at +
               "\nChange the tool. If its length differs, touch it off and zero Z. Then press Run "
               "to go on: a machine moved meanwhile first goes back, above the work.";
    case gcode::RowNote::Kind::OptionalStop:
        return "Optional stop" + at + "\nPress Run to go on.";
    default:
        return "Program stop" + at + "\nPress Run to go on.";
    }
}

double DwellSeconds(const gcode::Program& program) {
    double seconds = 0;
    for (const gcode::RowNote& note : program.Notes()) {
        if (note.kind == gcode::RowNote::Kind::Dwell && note.seconds > 0) {
            seconds += note.seconds;
        }
    }
    return seconds;
}

std::optional<std::array<std::int64_t, 3>> ShownThousandths(const MachineState& machine) {
    std::array<std::int64_t, 3> shown{};
    for (const Axis a : kAxes) {
        if (!encoding::ThousandthsOfShownPosition(machine[a].positionText, shown[index(a)])) {
            return std::nullopt;
        }
    }
    return shown;
}

std::array<bool, 3> DirectionBits(const MachineState& machine) {
    return {machine[Axis::X].direction, machine[Axis::Y].direction, machine[Axis::Z].direction};
}

RowStart PlanToRow(const gcode::Program& program, std::size_t row, const MachineState& start,
                   const PreparedPlanSettings& settings, const RunSpeeds& speeds) {
    RowStart out;
    out.machine = start;
    std::int64_t z = 0;
    out.highestZ = encoding::ThousandthsOfShownPosition(start[Axis::Z].positionText, z)
                       ? z
                       : std::numeric_limits<std::int64_t>::min();
    ProgramRowMove move;
    for (std::size_t r = 0; r < std::min(row, program.LineCount()); ++r) {
        PlanProgramRow(program, r, out.machine, settings, speeds, move);
        if (move.planned.error) {
            out.error = move.planned.error;
            out.errorRow = r;
            return out;
        }
        out.machine = move.planned.after;
        // An arc in a plane with Z rises between its ends: its vertices count too.
        for (const auto& vertex : move.via) {
            out.highestZ = std::max(out.highestZ, vertex[2]);
        }
        if (encoding::ThousandthsOfShownPosition(out.machine[Axis::Z].positionText, z)) {
            out.highestZ = std::max(out.highestZ, z);
        }
    }
    return out;
}

std::vector<ApproachLeg> ApproachLegs(const std::array<std::int64_t, 3>& from,
                                      const std::array<std::int64_t, 3>& to, std::int64_t highestZ,
                                      std::int64_t clearanceZ) {
    std::vector<ApproachLeg> legs;
    if (from == to) {
        return legs;
    }
    const std::int64_t safeZ = std::max(highestZ + std::max<std::int64_t>(clearanceZ, 0), from[2]);
    std::int64_t z = from[2];
    if (safeZ > z) {
        legs.push_back({{std::nullopt, std::nullopt, safeZ}, true});
        z = safeZ;
    }
    if (from[0] != to[0] || from[1] != to[1]) {
        ApproachLeg across{{}, true};
        for (std::size_t i = 0; i < 2; ++i) {
            if (from[i] != to[i]) {
                across.target[i] = to[i];
            }
        }
        legs.push_back(across);
    }
    if (z != to[2]) {
        // Down at the feed into the work; a target above the safe height is only a rapid away.
        legs.push_back({{std::nullopt, std::nullopt, to[2]}, to[2] > z});
    }
    return legs;
}

std::string ApproachText(std::int64_t fromZ, std::span<const ApproachLeg> legs,
                         std::string_view feedText) {
    std::string text;
    std::int64_t z = fromZ;
    for (const ApproachLeg& leg : legs) {
        std::string line;
        if (leg.target[2] && !leg.target[0] && !leg.target[1]) {
            line.append(*leg.target[2] > z ? "Z up to " : "Z down to ")
                .append(encoding::FormatThousandths(*leg.target[2]));
        } else {
            line = "Across to";
            for (const Axis a : kAxes) {
                if (const auto& t = leg.target[index(a)]) {
                    line.append(1, ' ').append(1, letter(a)).append(1, ' ');
                    line.append(encoding::FormatThousandths(*t));
                }
            }
        }
        z = leg.target[2].value_or(z);
        line.append(leg.rapid ? " at the travel speed" : std::string(" at ").append(feedText));
        text.append(text.empty() ? "" : "\n").append(line);
    }
    return text;
}

std::optional<std::size_t> ApproachFeedRow(const gcode::Program& program, std::size_t row) {
    for (std::size_t r = std::min(row + 1, program.LineCount()); r-- > 0;) {
        if (program.Rows()[r].IsFeedMove()) {
            return r;
        }
    }
    return std::nullopt;
}

std::string ApproachFeedSpeed(const gcode::Program& program, std::size_t row,
                              const RunSpeeds& speeds) {
    const std::optional<std::size_t> feedRow = ApproachFeedRow(program, row);
    if (!feedRow) {
        return encoding::Format(speeds.cutSpeedText);
    }
    char buffer[16];
    std::string longText;
    std::string text(RowSpeedText(program, *feedRow, speeds, buffer, longText));
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string ApproachFeedText(const gcode::Program& program, std::size_t row,
                             const RunSpeeds& speeds) {
    const std::string text = ApproachFeedSpeed(program, row, speeds);
    if (speeds.feedPercent != 100) {
        if (const auto scaled = OverriddenSpeed(text, speeds.feedPercent)) {
            return encoding::FormatThousandths(*scaled) + " mm/min (" +
                   std::to_string(speeds.feedPercent) + " %)";
        }
    }
    return text + " mm/min";
}

std::optional<std::int32_t> OverriddenSpeed(std::string_view speedText, int percent) {
    std::int64_t thousandths = 0;
    std::string_view text = speedText;
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    if (!encoding::ThousandthsOfShownPosition(text, thousandths) || thousandths < 0 ||
        thousandths > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(thousandths * percent / 100);
}

} // namespace motion
