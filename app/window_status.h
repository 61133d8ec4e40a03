// The window's side of the device link: the status field Text9, LimitStop and the control lock
// around a limit message, as the status report and the senders see them. Board codes reach the
// field byte for byte (Latin-1), so every code survives it unchanged.
#pragma once

#include "device/ack_source.h"
#include "device/status_report.h"

#include <functional>

class QLineEdit;

namespace app {

class OperatorMessages;

class WindowStatus final : public device::AckSource,
                           public device::StatusFields,
                           public device::OperatorNotice {
    Q_OBJECT
public:
    struct Procedures {
        std::function<void()> setLimitStop;
        std::function<void()> disableControls;
        std::function<void()> enableControls;
    };

    WindowStatus(QLineEdit* Text9, OperatorMessages& messages, Procedures procedures);

    std::string Code() override { return Text9(); }
    std::string Text9() override;
    void SetText9(const std::string& code) override;
    void SetLimitStop() override;
    void DisableControls() override;
    void EnableControls() override;
    void ShowMessage(std::string_view text) override { Tell(text); }
    void Tell(std::string_view text) override;

private:
    QLineEdit* text9_;
    OperatorMessages& messages_;
    Procedures procedures_;
};

} // namespace app
