#include "device/virtual_board_window.h"

#include "device/status_report.h"
#include "device/virtual_board.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace device {

namespace {

QLabel* AddRow(QFormLayout* form, const QString& caption, const QString& objectName) {
    auto* value = new QLabel(QStringLiteral("-"));
    value->setObjectName(objectName);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(caption, value);
    return value;
}

} // namespace

VirtualBoardWindow::VirtualBoardWindow(VirtualBoard& board, QWidget* parent)
    : QWidget(parent, Qt::Window), board_(board) {
    setObjectName(QStringLiteral("VirtualBoardWindow"));
    setWindowTitle(QStringLiteral("Virtual board"));

    auto* report = new QGroupBox(QStringLiteral("Last report"));
    auto* form = new QFormLayout(report);
    received_ = AddRow(form, QStringLiteral("Reports received:"), QStringLiteral("received"));
    directions_ = AddRow(form, QStringLiteral("Direction bits:"), QStringLiteral("directions"));
    flags_ = AddRow(form, QStringLiteral("Flags:"), QStringLiteral("flags"));
    counts_ = AddRow(form, QStringLiteral("Step counts:"), QStringLiteral("counts"));
    period_ = AddRow(form, QStringLiteral("Step period:"), QStringLiteral("period"));
    moveTime_ = AddRow(form, QStringLiteral("Estimated move time:"), QStringLiteral("moveTime"));

    auto* switches = new QGroupBox(QStringLiteral("Limit switches and emergency stop"));
    auto* grid = new QGridLayout(switches);
    int index = 0;
    for (const LimitCode& limit : LimitCodes) {
        const QString code = QString::fromLatin1(limit.code.data(), 2);
        auto* button = new QPushButton(code);
        button->setObjectName(QStringLiteral("send") + code);
        button->setToolTip(QString::fromLatin1(limit.message.data(),
                                               static_cast<qsizetype>(limit.message.size())));
        connect(button, &QPushButton::clicked, this,
                [this, code] { board_.SendStatus(code.toStdString()); });
        grid->addWidget(button, index / 4, index % 4);
        ++index;
    }

    stopAnswering_ = new QCheckBox(QStringLiteral("Stop answering"));
    stopAnswering_->setObjectName(QStringLiteral("stopAnswering"));
    connect(stopAnswering_, &QCheckBox::toggled, this,
            [this](bool silent) { board_.SetAnswering(!silent); });

    plug_ = new QPushButton;
    plug_->setObjectName(QStringLiteral("plug"));
    connect(plug_, &QPushButton::clicked, this, [this] {
        if (board_.Plugged()) {
            board_.Unplug();
        } else {
            board_.Plug();
        }
    });

    speedFactor_ = new QDoubleSpinBox;
    speedFactor_->setObjectName(QStringLiteral("speedFactor"));
    // A factor chosen at start (quorvane-virtual --speed) may lie above what the box offers.
    speedFactor_->setRange(0.0, std::max(100.0, board_.SpeedFactor()));
    speedFactor_->setDecimals(2);
    speedFactor_->setSingleStep(0.1);
    speedFactor_->setValue(board_.SpeedFactor());
    speedFactor_->setToolTip(QStringLiteral("1 = the real board's pace, 0 = answer at once"));
    connect(speedFactor_, &QDoubleSpinBox::valueChanged, this,
            [this](double factor) { board_.SetSpeedFactor(factor); });

    auto* settings = new QHBoxLayout;
    settings->addWidget(stopAnswering_);
    settings->addWidget(plug_);
    settings->addWidget(new QLabel(QStringLiteral("Speed factor:")));
    settings->addWidget(speedFactor_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(report);
    layout->addWidget(switches);
    layout->addLayout(settings);

    board_.SetObserver([this] { Refresh(); });
    Refresh();
}

VirtualBoardWindow::~VirtualBoardWindow() {
    board_.SetObserver(nullptr);
}

void VirtualBoardWindow::Refresh() {
    received_->setText(QString::number(board_.ReportsReceived()));
    plug_->setText(board_.Plugged() ? QStringLiteral("Unplug") : QStringLiteral("Plug in"));
    stopAnswering_->setChecked(!board_.Answering());

    const auto last = board_.LastCommand();
    if (!last) {
        return;
    }
    const BoardCommand& command = last->command;
    const encoding::MotionFields& f = command.fields;
    directions_->setText(QStringLiteral("X %1  Y %2  Z %3")
                             .arg(int(f.xDirection))
                             .arg(int(f.yDirection))
                             .arg(int(f.zDirection)));
    QString flags =
        QStringLiteral("%1, limit switches %2")
            .arg(f.rapid ? QStringLiteral("rapid") : QStringLiteral("feed"),
                 f.limitsDisabled ? QStringLiteral("disabled") : QStringLiteral("enabled"));
    if (!command.wellFormed) {
        flags += QStringLiteral(", MALFORMED (reserved bits or bytes set)");
    }
    flags_->setText(flags);
    counts_->setText(QStringLiteral("X %1  Y %2  Z %3").arg(f.xSteps).arg(f.ySteps).arg(f.zSteps));
    period_->setText(QString::number(f.stepPeriod));
    moveTime_->setText(QStringLiteral("%1 s").arg(last->moveMs / 1000.0, 0, 'f', 3));
}

} // namespace device
