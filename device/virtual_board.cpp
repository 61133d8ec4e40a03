#include "device/virtual_board.h"

#include <algorithm>
#include <cmath>

namespace device {

VirtualBoard::VirtualBoard(Timeline& clock, bool plugged) : clock_(clock) {
    if (plugged) {
        handle_ = ++lastHandle_;
    }
}

VirtualBoard::~VirtualBoard() {
    CancelAnswers();
}

bool VirtualBoard::Connect(NotifySink sink) {
    sink_ = std::move(sink);
    connected_ = true;
    if (Plugged()) {
        Notify(NotifyChanged, 0);
    }
    return true;
}

bool VirtualBoard::Disconnect() {
    const bool wasConnected = connected_;
    connected_ = false;
    sink_ = nullptr;
    return wasConnected;
}

DeviceHandle VirtualBoard::GetHandle(int vendorId, int productId) {
    return vendorId == DeviceVendorId && productId == DeviceProductId ? handle_ : 0;
}

void VirtualBoard::SetReadNotify(DeviceHandle handle, bool notify) {
    if (handle != 0 && handle == handle_) {
        readNotify_ = notify;
    }
}

bool VirtualBoard::Read(DeviceHandle handle, Report& buffer) {
    if (handle == 0 || handle != handle_ || input_.empty()) {
        return false;
    }
    buffer = input_.front();
    input_.pop_front();
    return true;
}

bool VirtualBoard::WriteEx(int vendorId, int productId, const Report& buffer) {
    if (!connected_ || !Plugged() || vendorId != DeviceVendorId || productId != DeviceProductId) {
        return false;
    }
    ++reportsReceived_;
    if (recorder_) {
        recorder_(buffer);
    }
    LoggedCommand entry{clock_.NowMs(), DecodeBoardCommand(buffer), 0};
    entry.moveMs = MoveTimeMs(entry.command);
    if (log_.size() == LogLimit) {
        log_.pop_front();
    }
    log_.push_back(entry);

    if (answering_) {
        // The board works its commands one after another.
        const std::int64_t startMs = std::max(clock_.NowMs(), busyUntilMs_);
        busyUntilMs_ = startMs + std::llround(entry.moveMs * speedFactor_);
        const std::uint64_t ticket = ++lastTicket_;
        pendingAnswers_[ticket] = clock_.CallAt(busyUntilMs_, [this, ticket] {
            pendingAnswers_.erase(ticket);
            Answer();
        });
    }
    const auto [first, last] = faults_.equal_range(reportsReceived_);
    for (auto fault = first; fault != last; ++fault) {
        Queue(fault->second);
    }
    faults_.erase(first, last);
    Changed();
    return true;
}

int VirtualBoard::GetVendorID(DeviceHandle handle) {
    return handle != 0 && handle == handle_ ? DeviceVendorId : 0;
}

int VirtualBoard::GetProductID(DeviceHandle handle) {
    return handle != 0 && handle == handle_ ? DeviceProductId : 0;
}

void VirtualBoard::SetSpeedFactor(double factor) {
    speedFactor_ = factor > 0 && std::isfinite(factor) ? factor : 0.0;
    Changed();
}

void VirtualBoard::AnswerNextWith(std::string code) {
    scriptedAnswers_.push_back(std::move(code));
}

void VirtualBoard::AddFault(std::uint64_t reportNumber, std::string code) {
    faults_.emplace(reportNumber, std::move(code));
}

void VirtualBoard::SendStatus(const std::string& code) {
    if (Plugged()) {
        Queue(code);
    }
}

void VirtualBoard::SetAnswering(bool answering) {
    answering_ = answering;
    if (!answering) {
        CancelAnswers();
    }
    Changed();
}

void VirtualBoard::Unplug() {
    if (!Plugged()) {
        return;
    }
    const DeviceHandle gone = handle_;
    handle_ = 0;
    readNotify_ = false;
    input_.clear();
    CancelAnswers();
    Notify(NotifyUnplugged, gone);
    Notify(NotifyChanged, 0);
    Changed();
}

void VirtualBoard::Plug() {
    if (Plugged()) {
        return;
    }
    handle_ = ++lastHandle_;
    Notify(NotifyPlugged, handle_);
    Notify(NotifyChanged, 0);
    Changed();
}

std::optional<VirtualBoard::LoggedCommand> VirtualBoard::LastCommand() const {
    if (log_.empty()) {
        return std::nullopt;
    }
    return log_.back();
}

void VirtualBoard::Notify(int wParam, DeviceHandle lParam) {
    if (connected_ && sink_) {
        sink_(wParam, lParam);
    }
}

void VirtualBoard::Answer() {
    if (!scriptedAnswers_.empty()) {
        const std::string code = std::move(scriptedAnswers_.front());
        scriptedAnswers_.pop_front();
        Queue(code);
        return;
    }
    Queue(lowerCaseOk_ ? "ok" : "OK");
}

void VirtualBoard::Queue(const std::string& code) {
    Report report{};
    for (std::size_t i = 0; i < 2 && i < code.size(); ++i) {
        report[i + 1] = static_cast<std::uint8_t>(code[i]);
    }
    if (input_.size() == InputQueueLimit) {
        input_.pop_front();
    }
    input_.push_back(report);
    if (readNotify_) {
        Notify(NotifyRead, handle_);
    }
    Changed();
}

void VirtualBoard::CancelAnswers() {
    for (const auto& [ticket, timer] : pendingAnswers_) {
        clock_.Cancel(timer);
    }
    pendingAnswers_.clear();
    busyUntilMs_ = 0;
}

void VirtualBoard::Changed() {
    if (observer_) {
        observer_();
    }
}

} // namespace device
