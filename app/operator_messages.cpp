#include "app/operator_messages.h"

#include <QMessageBox>

namespace app {

void MessageBoxMessages::Show(const QString& text) {
    // The window's title on every message, as the operator knows it; OK is the only answer.
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quorvane"), text, QMessageBox::Ok,
                    parent_);
    box.exec();
}

bool MessageBoxMessages::Confirm(const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quorvane"), text,
                    QMessageBox::Ok | QMessageBox::Cancel, parent_);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

} // namespace app
