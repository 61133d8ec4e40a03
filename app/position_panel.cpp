#include "app/position_panel.h"

#include "encoding/thousandths.h"

#include "app/device_link.h"
#include "app/field_text.h"
#include "app/operator_messages.h"
#include "app/window_mirror.h"
#include "manual/zeroing.h"
#include "motion/goto_move.h"
#include "motion/program_run.h"

#include <QLineEdit>

namespace app {

void PositionPanel::Command4_Click() {
    const MainControls& c = u_.controls;
    QLineEdit* boxes[3] = {c.Text13, c.Text14, c.Text15};
    std::array<std::string, 3> entries;
    for (const motion::Axis a : motion::kAxes) {
        QLineEdit* box = boxes[motion::index(a)];
        entries[motion::index(a)] = motion::NormaliseGotoEntry(CoreText(box->text()));
        box->setText(FieldText(entries[motion::index(a)]));
    }
    go(entries, "the GOTO");
}

void PositionPanel::LiftZ_Click(std::int64_t safeZ) {
    const motion::MachineState& machine = u_.motion.machine;
    std::int64_t z = 0;
    if (encoding::ThousandthsOfShownPosition(machine[motion::Axis::Z].positionText, z) &&
        z >= safeZ) {
        return;
    }
    go({machine[motion::Axis::X].positionText, machine[motion::Axis::Y].positionText,
        encoding::FormatThousandths(safeZ)},
       "Lift Z");
}

// One move to the normalised entries at the travel speed, sent like every move.
void PositionPanel::go(const std::array<std::string, 3>& entries, std::string_view during) {
    MoveGateway* gateway = u_.device.Gateway();
    if (gateway == nullptr || u_.guard.Busy()) {
        return; // one motion at a time: a run, a load or another GOTO is waiting
    }
    const MotionGuard::Hold hold(u_.guard);
    const MainControls& c = u_.controls;
    MotionState& m = u_.motion;
    m.flags.LimitStop = 0;
    motion::ClearDirections(m.machine);
    const motion::PlannedMove move =
        motion::PlanGoto(m.machine, u_.settings.Plan(), entries, u_.settings.TravelSpeed());
    if (move.error) {
        // Nothing is sent, so the displays stay where the machine is.
        u_.messages.Show(FieldText(move.error->message));
        return;
    }
    m.machine = move.after;
    ShowPositions(c, m);
    ShowMoveEchoes(c, move);
    ShowDirectionEchoes(c, move);
    if (gateway->Send(move.report, u_.settings.Simulate(), u_.settings.SimulatorDelayMs(),
                      during) != MoveGateway::Sent::Done) {
        ShowPositions(c, m); // cut short: where its last part took the machine
    }
}

void PositionPanel::ResetZero_Click(motion::Axis axis) {
    manual::ZeroAxis(u_.motion.machine, axis);
    u_.motion.unverified[motion::index(axis)].clear(); // the operator knows where it stands now
    ShowPositions(u_.controls, u_.motion);
}

} // namespace app
