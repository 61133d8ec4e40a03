// The "Please Wait" notice shown while a chosen G-code file is loaded: a small modeless window
// with one line of text, and a progress bar for a file large enough to take a while.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace app {

class WaitWindow : public QWidget {
    Q_OBJECT
public:
    explicit WaitWindow(QWidget* parent = nullptr);

    // Shows the bar from now on (a large file); a small file loads before it could move.
    void ShowProgress(bool shown);
    // Progress in thousandths of the whole load.
    void SetProgress(int perMille);
    int Progress() const;
    bool ProgressShown() const;

private:
    QLabel* text_;
    QProgressBar* bar_;
};

} // namespace app
