#include "app/operator_messages.h"

#include <QMessageBox>

namespace app {

void MessageBoxMessages::Show(const QString& text) {
    // The window's title on every message, as the operator knows it; OK is the only answer.
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quorvane"), text, QMessageBox::Ok,
                    parent_);
    box.exec();
}

} // namespace app
