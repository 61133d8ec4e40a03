// Every operator message goes through this interface: the window shows a modal box with one OK
// button, tests record the text and may act while it is "open".
#pragma once

#include <QString>

class QWidget;

namespace app {

class OperatorMessages {
public:
    virtual ~OperatorMessages() = default;
    // Returns when the operator has closed the message; events keep running while it is open.
    virtual void Show(const QString& text) = 0;
    // A question with OK (Return) and Cancel: true when the operator answered OK.
    virtual bool Confirm(const QString& text) = 0;
};

// The real thing: a modal message box with a single OK button.
class MessageBoxMessages : public OperatorMessages {
public:
    explicit MessageBoxMessages(QWidget* parent) : parent_(parent) {}
    void Show(const QString& text) override;
    bool Confirm(const QString& text) override;
    void SetParent(QWidget* parent) { parent_ = parent; }

private:
    QWidget* parent_;
};

} // namespace app
