#include "device/report_sender.h"

#include "app/operator_messages.h"
#include "device/status_report.h"
#include "device/waitable_timer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>

namespace device {

namespace {

bool IsAck(const QString& text) {
    return text == QLatin1String(AckCode.data(), AckCode.size());
}

} // namespace

ReportSender::ReportSender(HidLibrary& hid, clsWaitableTimer& DelayTimer, Timeline& clock,
                           app::OperatorMessages& messages, QLineEdit* Text9)
    : hid_(hid), DelayTimer(DelayTimer), clock_(clock), messages_(messages), Text9(Text9) {}

void ReportSender::Send(const Report& BufferOut, bool simulate, int simulatorDelayMs) {
    if (simulate) {
        DelayTimer.Wait(simulatorDelayMs);
        return;
    }
    // A failed write is not reported: the missing acknowledgement is what the operator sees.
    hid_.WriteEx(DeviceVendorId, DeviceProductId, BufferOut);
    WaitForAck();
}

void ReportSender::WaitForAck() {
    const std::int64_t deadlineMs = clock_.NowMs() + ackTimeoutMs_;
    // One pass first: a stale "OK" (a jog tick does not write "OA") ends the wait right here.
    QCoreApplication::processEvents();
    if (!IsAck(Text9->text()) && clock_.NowMs() < deadlineMs) {
        QEventLoop loop;
        QObject::connect(Text9, &QLineEdit::textChanged, &loop, [&loop](const QString& text) {
            if (IsAck(text)) {
                loop.quit();
            }
        });
        const Timeline::TimerId deadline = clock_.CallAt(deadlineMs, [&loop] { loop.quit(); });
        loop.exec();
        clock_.Cancel(deadline);
    }
    // Checked even when "OK" came in the last pass: an acknowledgement after the deadline is
    // still a time-out.
    if (clock_.NowMs() >= deadlineMs) {
        messages_.Show(QString::fromLatin1(CommunicationErrorMessage));
    }
}

} // namespace device
