// Every control of the main window, under the names the rest of the program uses for it. Each
// widget also carries its name as its Qt objectName, so tests and scripts can find it.
#pragma once

#include "motion/planning.h"

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableView;
class QToolButton;
class QWidget;

namespace device {
class TickTimer;
}

namespace gcode {
class ToolpathView;
class ProgramTableModel;
} // namespace gcode

namespace app {

struct MainControls {
    // Frames, in the order they are laid out.
    QGroupBox* Frame4 = nullptr; // "Plot Window"
    QGroupBox* Frame1 = nullptr; // "Gcode"
    QGroupBox* Frame3 = nullptr; // "Position"
    QGroupBox* Frame5 = nullptr; // "Run Controls"
    QGroupBox* Frame2 = nullptr; // "Jog Controls"
    QGroupBox* Feed = nullptr;   // "Feed Rates MM/Min"
    QGroupBox* Frame6 = nullptr; // "Status"

    gcode::ToolpathView* Picture1 = nullptr;
    // Above the view: the side it looks from, fit, and whether rapids are drawn.
    QToolButton* ViewTop = nullptr;
    QToolButton* ViewFront = nullptr;
    QToolButton* ViewSide = nullptr;
    QToolButton* View3D = nullptr;
    QToolButton* ViewFit = nullptr;
    QCheckBox* ShowRapids = nullptr;
    QTableView* Grid1 = nullptr;
    gcode::ProgramTableModel* Grid1Model = nullptr;

    // Position
    QLabel* XpositionDisplay = nullptr;
    QLabel* YpositionDisplay = nullptr;
    QLabel* ZpositionDisplay = nullptr;
    QPushButton* XResetZeroButton = nullptr;
    QPushButton* YResetZeroButton = nullptr;
    QPushButton* ZResetZeroButton = nullptr;
    QLineEdit* Text13 = nullptr;     // GOTO target X
    QLineEdit* Text14 = nullptr;     // GOTO target Y
    QLineEdit* Text15 = nullptr;     // GOTO target Z
    QPushButton* Command4 = nullptr; // "GOTO"

    // Run controls
    QPushButton* LoadGcode = nullptr;
    QPushButton* Run2 = nullptr;
    QPushButton* Command3 = nullptr;  // "STOP"
    QCheckBox* Check3 = nullptr;      // "Scale to fit box"
    QCheckBox* Check2 = nullptr;      // "Simulate"
    QPushButton* Pause = nullptr;     // stops the run after the line in progress, keeping its place
    QPushButton* LiftZ = nullptr;     // Z up to the safe height, as an ordinary move
    QSpinBox* FeedOverride = nullptr; // percent of every feed move's speed
    QCheckBox* OptionalStop = nullptr; // M1 in the file pauses the run; per user

    // Jog controls: JogButtons[0] is JogButton1.
    std::array<QToolButton*, 10> JogButtons{};
    QCheckBox* InverseX = nullptr;
    QCheckBox* InverseY = nullptr;
    QCheckBox* InverseZ = nullptr;

    // Feed rates and machine settings
    QLineEdit* jogspeeds = nullptr;
    QLineEdit* Travspeed = nullptr;
    QLineEdit* cutspeed = nullptr;
    QCheckBox* Check1 = nullptr; // "Override Gcode"
    QCheckBox* Dlimits = nullptr;
    QLineEdit* Text16 = nullptr; // simulator delay, ms
    QLineEdit* pwm1 = nullptr;
    QLabel* PWD = nullptr;
    QLineEdit* setpulses = nullptr;
    QLineEdit* ArcTolerance = nullptr; // mm; the operator's own, kept apart from quorvane.cfg
    QLineEdit* Clearance = nullptr;    // mm above the highest Z cut that an approach climbs to

    // Status
    QLabel* xmaxloaded = nullptr;
    QLabel* ymaxloaded = nullptr;
    QLabel* linesload = nullptr;
    QLabel* LineProcessed = nullptr;
    QProgressBar* RunProgress = nullptr; // how far a live or simulated run has come
    QLabel* RunProgressText = nullptr;   // "line N of M, about T left"
    QLabel* Packet = nullptr;
    QLabel* CheckText = nullptr;     // what planning the loaded program found
    QLabel* BoardState = nullptr;    // whether a board is there and may be opened
    QPushButton* Command5 = nullptr; // "Help"

    // Working fields kept out of sight: Text1..Text12 (Texts[0] is Text1), the plot scale
    // buttons and the jog ramp timer.
    std::array<QLineEdit*, 12> Texts{};
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    device::TickTimer* Timer1 = nullptr; // on the program's timeline: made with the device link

    // The working fields by what they hold.
    QLineEdit* StatusField() const { return Texts[8]; } // Text9: the board's last code, or "OA"
    // Text1..Text3: the axis' distance of the move just planned ("" when it was not planned).
    QLineEdit* DistanceEcho(motion::Axis a) const { return Texts[motion::index(a)]; }
    // Text4..Text6: the axis' step count.
    QLineEdit* StepsEcho(motion::Axis a) const { return Texts[3 + motion::index(a)]; }
    // Text7, Text8, Text10: the direction bit before inversion.
    QLineEdit* DirectionEcho(motion::Axis a) const {
        return Texts[a == motion::Axis::Z ? 9 : 6 + motion::index(a)];
    }
    QLineEdit* XBinaryEcho() const { return Texts[10]; } // Text11: the X count in 24 bits

    QToolButton* JogButton(int number) const {
        return JogButtons[static_cast<std::size_t>(number - 1)];
    }
};

// The position displays: green on black, and amber on dark red while not verified.
inline constexpr char VerifiedDisplayStyle[] =
    "color: #00ff00; background-color: black; padding: 0px 6px;";
inline constexpr char UnverifiedDisplayStyle[] =
    "color: #ffb000; background-color: #600000; padding: 0px 6px;";

// Creates every control inside `window` with its layout and start-up texts.
MainControls BuildMainControls(QWidget* window);

// The operation controls a run and a device message lock, always these 25 in this order.
std::array<QWidget*, 25> LockedControls(const MainControls& c);

} // namespace app
