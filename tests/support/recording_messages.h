// Operator messages for tests: records every text and lets a test act while a message is open,
// as an operator's modal message box would let events run.
#pragma once

#include "app/operator_messages.h"

#include <QStringList>
#include <functional>

class RecordingMessages : public app::OperatorMessages {
public:
    void Show(const QString& text) override {
        shown << text;
        if (whileOpen) {
            whileOpen(text);
        }
    }

    bool Confirm(const QString& text) override {
        Show(text);
        return confirm;
    }

    QStringList shown;
    std::function<void(const QString&)> whileOpen;
    bool confirm = true; // the answer to every question
};
