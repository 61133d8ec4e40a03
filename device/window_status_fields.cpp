#include "device/window_status_fields.h"

#include "app/operator_messages.h"

#include <QLineEdit>

namespace device {

WindowStatusFields::WindowStatusFields(QLineEdit* Text9, app::OperatorMessages& messages,
                                       Procedures procedures)
    : text9_(Text9), messages_(messages), procedures_(std::move(procedures)) {}

std::string WindowStatusFields::Text9() {
    return text9_->text().toLatin1().toStdString();
}

void WindowStatusFields::SetText9(const std::string& code) {
    text9_->setText(QString::fromLatin1(code.data(), static_cast<qsizetype>(code.size())));
}

void WindowStatusFields::SetLimitStop() {
    if (procedures_.setLimitStop) {
        procedures_.setLimitStop();
    }
}

void WindowStatusFields::DisableControls() {
    if (procedures_.disableControls) {
        procedures_.disableControls();
    }
}

void WindowStatusFields::EnableControls() {
    if (procedures_.enableControls) {
        procedures_.enableControls();
    }
}

void WindowStatusFields::ShowMessage(std::string_view text) {
    messages_.Show(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace device
