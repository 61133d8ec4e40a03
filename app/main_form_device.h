// The main window's device link: the hook that brings the board's notifications to the window,
// the status report's view of the window's fields, and the one send gateway.
#pragma once

#include "app/main_form.h"
#include "app/operator_messages.h"
#include "device/hid_notify.h"
#include "device/report_sender.h"
#include "device/steady_timeline.h"
#include "device/waitable_timer.h"
#include "device/window_status_fields.h"

#include <memory>

namespace app {

struct MainForm::DeviceLink {
    explicit DeviceLink(MainForm& form);

    device::HidLibrary& hid;
    std::unique_ptr<device::Timeline> ownClock; // when the window is given no clock
    device::Timeline& clock;
    std::unique_ptr<OperatorMessages> ownMessages; // when the window is given no messages
    OperatorMessages& messages;
    device::WindowStatusFields statusFields;
    device::HIDDLLInterface hook;
    std::unique_ptr<device::ReportSender> sender; // from start-up step 6, with DelayTimer
};

} // namespace app
