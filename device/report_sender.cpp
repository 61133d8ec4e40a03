#include "device/report_sender.h"

#include "device/status_report.h"
#include "device/waitable_timer.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <utility>

namespace device {

ReportSender::ReportSender(HidLibrary& hid, clsWaitableTimer& DelayTimer, Timeline& clock,
                           AckSource& status, OperatorNotice& notice)
    : hid_(hid), delay_(DelayTimer), clock_(clock), status_(status), notice_(notice) {}

ReportSender::Outcome ReportSender::Send(const Report& BufferOut, bool simulate,
                                         int simulatorDelayMs) {
    if (aborted_) {
        return Outcome::Aborted;
    }
    if (simulate) {
        delay_.Wait(simulatorDelayMs);
        return aborted_ ? Outcome::Aborted : Outcome::Done;
    }
    // A failed write is not reported: the missing acknowledgement is what the operator sees.
    hid_.WriteEx(DeviceVendorId, DeviceProductId, BufferOut);
    return WaitForAck();
}

ReportSender::Outcome ReportSender::WaitForAck() {
    const auto acknowledged = [this] { return status_.Code() == AckCode; };
    const std::int64_t deadlineMs = clock_.NowMs() + ackTimeoutMs_;
    ++waiting_;
    // One pass first: a stale "OK" (no "OA" written before) ends the wait right here.
    QCoreApplication::processEvents();
    if (!aborted_ && !unplugged_ && !acknowledged() && clock_.NowMs() < deadlineMs) {
        QEventLoop loop;
        QObject::connect(&status_, &AckSource::Changed, &loop, [&] {
            if (acknowledged()) {
                loop.quit();
            }
        });
        QObject::connect(this, &ReportSender::Aborting, &loop, &QEventLoop::quit);
        QObject::connect(this, &ReportSender::Unplugging, &loop, &QEventLoop::quit);
        const Timeline::TimerId deadline = clock_.CallAt(deadlineMs, [&loop] { loop.quit(); });
        loop.exec();
        clock_.Cancel(deadline);
    }
    --waiting_;
    if (aborted_) {
        return Outcome::Aborted;
    }
    if (std::exchange(unplugged_, false) && !acknowledged()) {
        return Outcome::Unplugged;
    }
    // Checked even when "OK" came in the last pass: an acknowledgement after the deadline is
    // still a time-out.
    if (clock_.NowMs() >= deadlineMs) {
        notice_.Tell(CommunicationErrorMessage);
        return Outcome::TimedOut;
    }
    return Outcome::Done;
}

void ReportSender::BoardUnplugged() {
    if (waiting_ > 0) {
        unplugged_ = true;
        emit Unplugging();
    }
}

void ReportSender::Abort() {
    aborted_ = true;
    delay_.Abort();
    emit Aborting();
}

} // namespace device
