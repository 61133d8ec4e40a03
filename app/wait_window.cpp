#include "app/wait_window.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace app {

WaitWindow::WaitWindow(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("Wait"));
    setWindowTitle(QStringLiteral("Please Wait"));
    setWindowModality(Qt::NonModal);
    text_ = new QLabel(QStringLiteral("Please wait while code is loaded and compiled."), this);
    text_->setObjectName(QStringLiteral("Label1"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(24);
    font.setBold(true);
    text_->setFont(font);
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignCenter);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("LoadProgress"));
    bar_->setRange(0, 1000);
    bar_->setTextVisible(false);
    bar_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(bar_);
    resize(520, 180);
}

void WaitWindow::ShowProgress(bool shown) {
    bar_->setVisible(shown);
    if (shown) {
        bar_->setValue(0);
    }
}

void WaitWindow::SetProgress(int perMille) {
    bar_->setValue(perMille);
}

int WaitWindow::Progress() const {
    return bar_->value();
}

bool WaitWindow::ProgressShown() const {
    return !bar_->isHidden();
}

} // namespace app
