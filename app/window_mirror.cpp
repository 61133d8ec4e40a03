#include "app/window_mirror.h"

#include "app/field_text.h"
#include "app/motion_state.h"
#include "gcode/toolpath_view.h"
#include "motion/run_control.h"

#include <QLabel>
#include <QLineEdit>

namespace app {

void ShowPositions(const MainControls& c, const MotionState& motion) {
    QLabel* displays[3] = {c.XpositionDisplay, c.YpositionDisplay, c.ZpositionDisplay};
    // The tool in the view follows the displays, whatever moved the machine.
    if (const auto shown = motion::ShownThousandths(motion.machine)) {
        c.Picture1->SetMarker(std::array<double, 3>{static_cast<double>((*shown)[0]) / 1000.0,
                                                    static_cast<double>((*shown)[1]) / 1000.0,
                                                    static_cast<double>((*shown)[2]) / 1000.0});
    } else {
        c.Picture1->SetMarker(std::nullopt);
    }
    for (const motion::Axis a : motion::kAxes) {
        QLabel* display = displays[motion::index(a)];
        display->setText(FieldText(motion.machine[a].positionText));
        const std::string& why = motion.unverified[motion::index(a)];
        const QString tip = why.empty() ? QString() : FieldText(why);
        if (display->toolTip() != tip) {
            display->setToolTip(tip);
            display->setStyleSheet(why.empty() ? VerifiedDisplayStyle : UnverifiedDisplayStyle);
        }
    }
}

void ShowMoveEchoes(const MainControls& c, const motion::PlannedMove& move) {
    const bool reported = !move.report.error;
    for (const motion::Axis a : motion::kAxes) {
        const auto& echo = move.echoes[motion::index(a)];
        c.DistanceEcho(a)->setText(echo ? FieldText(echo->distanceText) : QString());
        c.StepsEcho(a)->setText(reported ? FieldText(move.report.StepsText(a)) : QString());
    }
    if (reported) {
        c.XBinaryEcho()->setText(FieldText(move.report.XBinaryText()));
    }
}

void ShowDirectionEchoes(const MainControls& c, const std::array<std::optional<bool>, 3>& bits) {
    for (const motion::Axis a : motion::kAxes) {
        if (const auto bit = bits[motion::index(a)]) {
            c.DirectionEcho(a)->setText(*bit ? QStringLiteral("1") : QStringLiteral("0"));
        }
    }
}

void ShowDirectionEchoes(const MainControls& c, const motion::PlannedMove& move) {
    std::array<std::optional<bool>, 3> bits;
    for (const motion::Axis a : motion::kAxes) {
        if (const auto& echo = move.echoes[motion::index(a)]) {
            bits[motion::index(a)] = echo->direction;
        }
    }
    ShowDirectionEchoes(c, bits);
}

void ShowPacket(const MainControls& c, const encoding::MotionReport& report) {
    c.Packet->setText(FieldText(report.Packet()));
}

} // namespace app
