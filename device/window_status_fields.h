// The status report's view of the main window: Text9, LimitStop, the control lock and the
// operator messages, so that the window's OnRead is a single call of HandleRead.
#pragma once

#include "device/status_report.h"

#include <functional>

class QLineEdit;

namespace app {
class OperatorMessages;
}

namespace device {

class WindowStatusFields final : public StatusFields {
public:
    struct Procedures {
        std::function<void()> setLimitStop;
        std::function<void()> disableControls;
        std::function<void()> enableControls;
    };

    WindowStatusFields(QLineEdit* Text9, app::OperatorMessages& messages, Procedures procedures);

    // Bytes become characters one to one (Latin-1), so every code survives the field unchanged.
    std::string Text9() override;
    void SetText9(const std::string& code) override;
    void SetLimitStop() override;
    void DisableControls() override;
    void EnableControls() override;
    void ShowMessage(std::string_view text) override;

private:
    QLineEdit* text9_;
    app::OperatorMessages& messages_;
    Procedures procedures_;
};

} // namespace device
