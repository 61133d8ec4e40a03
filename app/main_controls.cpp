#include "app/main_controls.h"

#include "motion/run_control.h"

#include "gcode/program_table_model.h"
#include "gcode/toolpath_view.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace app {
namespace {

// Keeps its one child square and centred, as large as the space allows, so the plot grows
// with the window without being stretched.
template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLineEdit* field(QWidget* parent, const char* name, const char* text, int minChars = 8) {
    auto* edit = named(new QLineEdit(QString::fromLatin1(text), parent), name);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('0')) * minChars + 12);
    return edit;
}

// Arrow artwork for the jog pad, drawn rather than shipped: `degrees` counts anticlockwise
// from pointing right.
QIcon arrowIcon(double degrees) {
    QPixmap pixmap(50, 50);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(25, 25);
    painter.rotate(-degrees);
    QPainterPath arrow;
    arrow.moveTo(18, 0);
    arrow.lineTo(2, -13);
    arrow.lineTo(2, -5);
    arrow.lineTo(-17, -5);
    arrow.lineTo(-17, 5);
    arrow.lineTo(2, 5);
    arrow.lineTo(2, 13);
    arrow.closeSubpath();
    painter.fillPath(arrow, QColor(0x20, 0x40, 0x90));
    return QIcon(pixmap);
}

int twipsToPixels(const QWidget* widget, int twips) {
    return static_cast<int>(std::lround(twips * widget->logicalDpiX() / 1440.0));
}

void buildPlotFrame(MainControls& c, QWidget* window) {
    c.Frame4 = named(new QGroupBox(QStringLiteral("Plot Window"), window), "Frame4");
    c.Picture1 = named(new gcode::ToolpathView(), "Picture1");
    auto* layout = new QVBoxLayout(c.Frame4);
    auto* bar = new QHBoxLayout();
    const auto viewButton = [&c](const char* name, const char* caption, const char* tip) {
        auto* button = named(new QToolButton(c.Frame4), name);
        button->setText(QString::fromLatin1(caption));
        button->setToolTip(QString::fromLatin1(tip));
        return button;
    };
    c.ViewTop = viewButton("ViewTop", "Top", "Look from above: X and Y (Alt+1)");
    c.ViewFront = viewButton("ViewFront", "Front", "Look from the front: X and Z (Alt+2)");
    c.ViewSide = viewButton("ViewSide", "Side", "Look from the right: Y and Z (Alt+3)");
    c.View3D = viewButton("View3D", "3D", "Turned view; drag with the right button (Alt+4)");
    c.ViewFit = viewButton("ViewFit", "Fit", "Show the whole program (Home, or double-click)");
    int key = Qt::Key_1;
    for (QToolButton* button : {c.ViewTop, c.ViewFront, c.ViewSide, c.View3D}) {
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setShortcut(QKeySequence(Qt::ALT | static_cast<Qt::Key>(key++)));
        bar->addWidget(button);
    }
    c.ViewTop->setChecked(true);
    bar->addWidget(c.ViewFit);
    c.ShowRapids = named(new QCheckBox(QStringLiteral("Rapids"), c.Frame4), "ShowRapids");
    c.ShowRapids->setChecked(true);
    bar->addWidget(c.ShowRapids);
    bar->addStretch();
    layout->addLayout(bar);
    c.Picture1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(c.Picture1, 1);
}

void buildGcodeFrame(MainControls& c, QWidget* window) {
    c.Frame1 = named(new QGroupBox(QStringLiteral("Gcode"), window), "Frame1");
    c.Grid1 = named(new QTableView(c.Frame1), "Grid1");
    c.Grid1Model = new gcode::ProgramTableModel(c.Grid1);
    c.Grid1->setModel(c.Grid1Model);
    c.Grid1->horizontalHeader()->hide();
    // The row header shows the file line each row comes from; rows keep one height, which
    // keeps a million of them cheap.
    c.Grid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    c.Grid1->verticalHeader()->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    c.Grid1->setSelectionMode(QAbstractItemView::NoSelection);
    c.Grid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    c.Grid1->setWordWrap(false);
    auto* layout = new QVBoxLayout(c.Frame1);
    layout->addWidget(c.Grid1);
}

void buildPositionFrame(MainControls& c, QWidget* window) {
    c.Frame3 = named(new QGroupBox(QStringLiteral("Position"), window), "Frame3");
    auto* grid = new QGridLayout(c.Frame3);
    QFont displayFont = c.Frame3->font();
    displayFont.setPointSize(24);
    displayFont.setBold(true);
    QFont zeroFont = c.Frame3->font();
    zeroFont.setPointSize(18);
    const char* axes[] = {"X", "Y", "Z"};
    QLabel** displays[] = {&c.XpositionDisplay, &c.YpositionDisplay, &c.ZpositionDisplay};
    QPushButton** zeros[] = {&c.XResetZeroButton, &c.YResetZeroButton, &c.ZResetZeroButton};
    const char* displayNames[] = {"XpositionDisplay", "YpositionDisplay", "ZpositionDisplay"};
    const char* zeroNames[] = {"XResetZeroButton", "YResetZeroButton", "ZResetZeroButton"};
    for (int i = 0; i < 3; ++i) {
        auto* axis = new QLabel(QString::fromLatin1(axes[i]), c.Frame3);
        axis->setFont(zeroFont);
        auto* display = named(new QLabel(QStringLiteral("0000.000"), c.Frame3), displayNames[i]);
        display->setFont(displayFont);
        display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        display->setStyleSheet(QString::fromLatin1(VerifiedDisplayStyle));
        display->setMinimumWidth(
            QFontMetrics(displayFont).horizontalAdvance(QStringLiteral("-00000.000")) + 14);
        auto* zero = named(new QPushButton(QStringLiteral("Zero"), c.Frame3), zeroNames[i]);
        zero->setFont(zeroFont);
        *displays[i] = display;
        *zeros[i] = zero;
        grid->addWidget(axis, i, 0);
        grid->addWidget(display, i, 1);
        grid->addWidget(zero, i, 2);
    }
    auto* targets = new QHBoxLayout;
    QLineEdit** entries[] = {&c.Text13, &c.Text14, &c.Text15};
    const char* entryNames[] = {"Text13", "Text14", "Text15"};
    for (int i = 0; i < 3; ++i) {
        targets->addWidget(new QLabel(QString::fromLatin1(axes[i]), c.Frame3));
        *entries[i] = field(c.Frame3, entryNames[i], "0000.000", 9);
        targets->addWidget(*entries[i]);
    }
    c.Command4 = named(new QPushButton(QStringLiteral("GOTO"), c.Frame3), "Command4");
    targets->addWidget(c.Command4);
    grid->addLayout(targets, 3, 0, 1, 3);
}

void buildRunFrame(MainControls& c, QWidget* window) {
    c.Frame5 = named(new QGroupBox(QStringLiteral("Run Controls"), window), "Frame5");
    c.LoadGcode = named(new QPushButton(QStringLiteral("Load"), c.Frame5), "LoadGcode");
    c.Run2 = named(new QPushButton(QStringLiteral("Run"), c.Frame5), "Run2");
    c.Command3 = named(new QPushButton(QStringLiteral("STOP"), c.Frame5), "Command3");
    c.Command3->setStyleSheet(QStringLiteral("font-weight: bold; color: #b00000;"));
    c.Check3 = named(new QCheckBox(QStringLiteral("Scale to fit box"), c.Frame5), "Check3");
    c.Check2 = named(new QCheckBox(QStringLiteral("Simulate"), c.Frame5), "Check2");
    c.Pause = named(new QPushButton(QStringLiteral("Pause"), c.Frame5), "Pause");
    c.Pause->setEnabled(false); // only while a run goes
    c.LiftZ = named(new QPushButton(QStringLiteral("Lift Z"), c.Frame5), "LiftZ");
    c.FeedOverride = named(new QSpinBox(c.Frame5), "FeedOverride");
    c.FeedOverride->setRange(motion::MinFeedPercent, motion::MaxFeedPercent);
    c.FeedOverride->setSingleStep(motion::FeedPercentStep);
    c.FeedOverride->setValue(100);
    c.FeedOverride->setSuffix(QStringLiteral(" %"));
    c.FeedOverride->setToolTip(
        QStringLiteral("Feed override: the speed of every feed move from the next line on; rapids "
                       "keep theirs (Ctrl+Up, Ctrl+Down)"));
    c.OptionalStop =
        named(new QCheckBox(QStringLiteral("Optional stop"), c.Frame5), "OptionalStop");
    c.OptionalStop->setToolTip(QStringLiteral("Pause the run at every M1 in the file"));
    auto* grid = new QGridLayout(c.Frame5);
    grid->addWidget(c.LoadGcode, 0, 0);
    grid->addWidget(c.Run2, 0, 1);
    grid->addWidget(c.Command3, 0, 2);
    grid->addWidget(c.Pause, 1, 1);
    grid->addWidget(c.LiftZ, 1, 2);
    auto* feed = new QHBoxLayout;
    feed->addWidget(new QLabel(QStringLiteral("Feed"), c.Frame5));
    feed->addWidget(c.FeedOverride);
    grid->addLayout(feed, 1, 0);
    grid->addWidget(c.Check3, 2, 0, 1, 2);
    grid->addWidget(c.Check2, 2, 2);
    grid->addWidget(c.OptionalStop, 3, 0);
    // The right-hand column is full: the approach's one setting sits with the run.
    c.Clearance = field(c.Frame5, "Clearance", "5.000", 8);
    c.Clearance->setToolTip(QStringLiteral(
        "How far above the highest Z cut so far the machine goes before it crosses the work"));
    auto* clearance = new QHBoxLayout;
    clearance->addWidget(new QLabel(QStringLiteral("Clearance mm"), c.Frame5));
    clearance->addWidget(c.Clearance);
    grid->addLayout(clearance, 3, 1, 1, 2);
}

void buildJogFrame(MainControls& c, QWidget* window) {
    c.Frame2 = named(new QGroupBox(QStringLiteral("Jog Controls"), window), "Frame2");
    auto* grid = new QGridLayout(c.Frame2);
    struct Place {
        int row, column;
        double degrees;
    };
    // The pad: X/Y in a 3 x 3 square without a centre, Z up and down in a fourth column.
    const Place places[10] = {{0, 0, 135}, {1, 0, 180}, {2, 0, 225}, {0, 1, 90}, {2, 1, 270},
                              {0, 2, 45},  {1, 2, 0},   {2, 2, 315}, {0, 3, 90}, {2, 3, 270}};
    const int side = std::max(49, twipsToPixels(c.Frame2, 735));
    for (int i = 0; i < 10; ++i) {
        auto* button = new QToolButton(c.Frame2);
        button->setObjectName(QStringLiteral("JogButton%1").arg(i + 1));
        button->setIcon(arrowIcon(places[i].degrees));
        button->setIconSize(QSize(side - 14, side - 14));
        button->setFixedSize(side, side);
        // Only pressing and letting go jog; the keyboard must never start a move.
        button->setFocusPolicy(Qt::NoFocus);
        c.JogButtons[static_cast<std::size_t>(i)] = button;
        grid->addWidget(button, places[i].row, places[i].column);
    }
    grid->setColumnMinimumWidth(3, side + 12);
    auto* z = new QLabel(QStringLiteral("Z"), c.Frame2);
    z->setAlignment(Qt::AlignCenter);
    grid->addWidget(z, 1, 3);
    c.InverseX = named(new QCheckBox(QStringLiteral("Inverse X"), c.Frame2), "InverseX");
    c.InverseY = named(new QCheckBox(QStringLiteral("Inverse Y"), c.Frame2), "InverseY");
    c.InverseZ = named(new QCheckBox(QStringLiteral("Inverse Z"), c.Frame2), "InverseZ");
    auto* inverse = new QHBoxLayout;
    inverse->addWidget(c.InverseX);
    inverse->addWidget(c.InverseY);
    inverse->addWidget(c.InverseZ);
    grid->addLayout(inverse, 3, 0, 1, 4);
}

void buildFeedFrame(MainControls& c, QWidget* window) {
    c.Feed = named(new QGroupBox(QStringLiteral("Feed Rates MM/Min"), window), "Feed");
    auto* form = new QFormLayout(c.Feed);
    form->setVerticalSpacing(3); // the right-hand column decides the window's least height
    c.jogspeeds = field(c.Feed, "jogspeeds", "1000.00");
    c.Travspeed = field(c.Feed, "Travspeed", "1000.00");
    c.cutspeed = field(c.Feed, "cutspeed", "0500.00");
    c.Check1 = named(new QCheckBox(QStringLiteral("Override Gcode"), c.Feed), "Check1");
    c.Check1->setStyleSheet(QStringLiteral("color: red;"));
    c.Dlimits = named(new QCheckBox(QStringLiteral("Disable Limit Switches"), c.Feed), "Dlimits");
    c.Text16 = field(c.Feed, "Text16", "20");
    c.pwm1 = field(c.Feed, "pwm1", "57150", 16);
    c.PWD = named(new QLabel(QStringLiteral("PW Delay:"), c.Feed), "PWD");
    c.setpulses = field(c.Feed, "setpulses", "533.333");
    c.ArcTolerance = field(c.Feed, "ArcTolerance", "0.002");
    c.ArcTolerance->setToolTip(QStringLiteral(
        "How far the straight moves an arc is cut as may stray from it: 0.001 to 0.1 mm"));
    form->addRow(QStringLiteral("Jogging"), c.jogspeeds);
    form->addRow(QStringLiteral("Travelling"), c.Travspeed);
    form->addRow(QStringLiteral("Cutting"), c.cutspeed);
    form->addRow(c.Check1);
    form->addRow(c.Dlimits);
    form->addRow(QStringLiteral("Simulator Speed"), c.Text16);
    form->addRow(c.PWD, c.pwm1);
    form->addRow(QStringLiteral("Pulses per MM"), c.setpulses);
    form->addRow(QStringLiteral("Arc tolerance mm"), c.ArcTolerance);
}

void buildStatusFrame(MainControls& c, QWidget* window) {
    c.Frame6 = named(new QGroupBox(QStringLiteral("Status"), window), "Frame6");
    auto* grid = new QGridLayout(c.Frame6);
    c.xmaxloaded = named(new QLabel(QStringLiteral("0"), c.Frame6), "xmaxloaded");
    c.ymaxloaded = named(new QLabel(QStringLiteral("0"), c.Frame6), "ymaxloaded");
    c.linesload = named(new QLabel(QStringLiteral("Lines Loaded: 0"), c.Frame6), "linesload");
    c.LineProcessed = named(new QLabel(c.Frame6), "LineProcessed");
    c.LineProcessed->setMinimumWidth(c.LineProcessed->fontMetrics().horizontalAdvance("0000000"));
    c.RunProgress = named(new QProgressBar(c.Frame6), "RunProgress");
    c.RunProgress->setTextVisible(false);
    c.RunProgress->setMaximumHeight(c.RunProgress->fontMetrics().height());
    c.RunProgressText = named(new QLabel(c.Frame6), "RunProgressText");
    // Shown while a live or simulated run goes on; they take their room all the time, so the
    // frame does not jump when a run starts.
    for (QWidget* w :
         {static_cast<QWidget*>(c.RunProgress), static_cast<QWidget*>(c.RunProgressText)}) {
        QSizePolicy keep = w->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        w->setSizePolicy(keep);
        w->hide();
    }
    c.Packet = named(new QLabel(c.Frame6), "Packet");
    c.Packet->setTextInteractionFlags(Qt::TextSelectableByMouse);
    c.Packet->setMinimumWidth(c.Packet->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 33);
    c.CheckText = named(new QLabel(c.Frame6), "CheckText");
    c.CheckText->setWordWrap(true);
    c.CheckText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    c.CheckText->setMaximumWidth(c.Packet->minimumWidth() + 160);
    c.BoardState = named(new QLabel(QStringLiteral("Board: not found"), c.Frame6), "BoardState");
    c.Command5 = named(new QPushButton(QStringLiteral("Help"), c.Frame6), "Command5");
    grid->addWidget(new QLabel(QStringLiteral("Workpiece Size Loaded:"), c.Frame6), 0, 0);
    auto* size = new QHBoxLayout;
    size->addWidget(new QLabel(QStringLiteral("X"), c.Frame6));
    size->addWidget(c.xmaxloaded);
    size->addSpacing(12);
    size->addWidget(new QLabel(QStringLiteral("Y"), c.Frame6));
    size->addWidget(c.ymaxloaded);
    size->addStretch();
    grid->addLayout(size, 0, 1);
    grid->addWidget(c.linesload, 1, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Processing Line:"), c.Frame6), 2, 0);
    auto* processing = new QHBoxLayout;
    processing->addWidget(c.LineProcessed);
    processing->addWidget(c.RunProgress, 1);
    grid->addLayout(processing, 2, 1);
    grid->addWidget(c.RunProgressText, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("USB Packet Out"), c.Frame6), 4, 0);
    grid->addWidget(c.Packet, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("Program check:"), c.Frame6), 5, 0, Qt::AlignTop);
    // A long check (a CAM file's arcs, conversions and skipped words) scrolls rather than
    // running off the frame: its last sentence holds the warnings.
    auto* checkScroll = named(new QScrollArea(c.Frame6), "CheckScroll");
    checkScroll->setFrameShape(QFrame::NoFrame);
    checkScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    checkScroll->setWidgetResizable(true);
    checkScroll->setWidget(c.CheckText);
    checkScroll->setMinimumHeight(c.CheckText->fontMetrics().lineSpacing() * 7);
    grid->addWidget(checkScroll, 5, 1);
    grid->setRowStretch(5, 1);
    grid->addWidget(c.BoardState, 6, 0, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(c.Command5, 6, 1, Qt::AlignRight);
}

void buildWorkingFields(MainControls& c, QWidget* window) {
    // Planning echoes, the status field and the plot scale buttons: working fields the
    // operator does not need to see. They live in a hidden holder so they take no space.
    auto* holder = new QWidget(window);
    holder->setObjectName(QStringLiteral("WorkingFields"));
    holder->hide();
    auto* layout = new QHBoxLayout(holder);
    for (int i = 0; i < 12; ++i) {
        auto* text = new QLineEdit(holder);
        text->setObjectName(QStringLiteral("Text%1").arg(i + 1));
        c.Texts[static_cast<std::size_t>(i)] = text;
        layout->addWidget(text);
    }
    c.Command1 = named(new QPushButton(QStringLiteral("Command1"), holder), "Command1");
    c.Command2 = named(new QPushButton(QStringLiteral("Command2"), holder), "Command2");
    layout->addWidget(c.Command1);
    layout->addWidget(c.Command2);
}

} // namespace

std::array<QWidget*, 25> LockedControls(const MainControls& c) {
    return {c.JogButtons[0],    c.JogButtons[1], c.JogButtons[2],    c.JogButtons[3],
            c.JogButtons[4],    c.JogButtons[5], c.JogButtons[6],    c.JogButtons[7],
            c.JogButtons[8],    c.JogButtons[9], c.XResetZeroButton, c.YResetZeroButton,
            c.ZResetZeroButton, c.Command4,      c.LoadGcode,        c.Run2,
            c.Check2,           c.Check3,        c.Text13,           c.Text14,
            c.Text15,           c.InverseX,      c.InverseY,         c.InverseZ,
            c.setpulses};
}

MainControls BuildMainControls(QWidget* window) {
    MainControls c;
    buildPlotFrame(c, window);
    buildGcodeFrame(c, window);
    buildPositionFrame(c, window);
    buildRunFrame(c, window);
    buildJogFrame(c, window);
    buildFeedFrame(c, window);
    buildStatusFrame(c, window);
    buildWorkingFields(c, window);

    // Plot on the left; program table with run controls and status in the middle; position,
    // jog pad and machine settings on the right.
    auto* middle = new QVBoxLayout;
    middle->addWidget(c.Frame1, 1);
    middle->addWidget(c.Frame5);
    middle->addWidget(c.Frame6);
    auto* right = new QVBoxLayout;
    right->setSpacing(4);
    right->addWidget(c.Frame3);
    right->addWidget(c.Frame2);
    right->addWidget(c.Feed);
    right->addStretch(1);
    // Only the plot and the table grow with the window; the control frames keep their size.
    for (QGroupBox* frame : {c.Frame3, c.Frame2, c.Feed, c.Frame5, c.Frame6}) {
        frame->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
    }
    c.Frame1->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Expanding);
    auto* top = new QHBoxLayout(window);
    // Small margins: at its least size the window fits a 1366 x 768 screen with a panel and a
    // title bar.
    top->setContentsMargins(6, 6, 6, 6);
    top->addWidget(c.Frame4, 1);
    top->addLayout(middle);
    top->addLayout(right);
    return c;
}

} // namespace app
