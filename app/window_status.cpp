#include "app/window_status.h"

#include "app/operator_messages.h"

#include <QLineEdit>

namespace app {

WindowStatus::WindowStatus(QLineEdit* Text9, OperatorMessages& messages, Procedures procedures)
    : text9_(Text9), messages_(messages), procedures_(std::move(procedures)) {
    // Whoever writes the field (a report, a sender's "OA", a test), a waiting sender looks again.
    connect(text9_, &QLineEdit::textChanged, this, &AckSource::Changed);
}

std::string WindowStatus::Text9() {
    return text9_->text().toLatin1().toStdString();
}

void WindowStatus::SetText9(const std::string& code) {
    text9_->setText(QString::fromLatin1(code.data(), static_cast<qsizetype>(code.size())));
}

void WindowStatus::SetLimitStop() {
    if (procedures_.setLimitStop) {
        procedures_.setLimitStop();
    }
}

void WindowStatus::DisableControls() {
    if (procedures_.disableControls) {
        procedures_.disableControls();
    }
}

void WindowStatus::EnableControls() {
    if (procedures_.enableControls) {
        procedures_.enableControls();
    }
}

void WindowStatus::Tell(std::string_view text) {
    messages_.Show(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace app
