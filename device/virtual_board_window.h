// The "Virtual board" window shown beside the main window when the program drives the virtual
// board: what the board received, and the switches an operator would otherwise find on the
// machine (limit switches, emergency stop, the USB plug).
#pragma once

#include <QWidget>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

namespace device {

class VirtualBoard;

class VirtualBoardWindow final : public QWidget {
    Q_OBJECT
public:
    explicit VirtualBoardWindow(VirtualBoard& board, QWidget* parent = nullptr);
    ~VirtualBoardWindow() override;

private:
    void Refresh();

    VirtualBoard& board_;
    QLabel* received_ = nullptr;
    QLabel* directions_ = nullptr;
    QLabel* flags_ = nullptr;
    QLabel* counts_ = nullptr;
    QLabel* period_ = nullptr;
    QLabel* moveTime_ = nullptr;
    QCheckBox* stopAnswering_ = nullptr;
    QPushButton* plug_ = nullptr;
    QDoubleSpinBox* speedFactor_ = nullptr;
};

} // namespace device
