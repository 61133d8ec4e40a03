// An in-process stand-in for the controller board, for tests and for operators without hardware.
//
// It takes each motion command report, logs it decoded, and answers "OK" once the move would be
// done on the real board (longest count x step period / 508000 s, times the speed factor).
// Commands queue behind each other as on the board. Scripting: answer a chosen code next, report
// a limit or emergency stop at once or when a chosen report arrives, stop answering, answer "ok"
// in lower case, unplug and plug.
//
// It lives on the window's thread: every call, and every wake-up of its timeline, runs there.
#pragma once

#include "device/board_command.h"
#include "device/hid_library.h"
#include "device/timeline.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace device {

class VirtualBoard final : public HidLibrary {
public:
    struct LoggedCommand {
        std::int64_t receivedAtMs = 0;
        BoardCommand command;
        double moveMs = 0; // before the speed factor
    };

    static constexpr std::size_t LogLimit = 1000;
    static constexpr std::size_t InputQueueLimit = 256;

    explicit VirtualBoard(Timeline& clock, bool plugged = true);
    ~VirtualBoard() override;
    VirtualBoard(const VirtualBoard&) = delete;
    VirtualBoard& operator=(const VirtualBoard&) = delete;

    bool Connect(NotifySink sink) override;
    bool Disconnect() override;
    DeviceHandle GetHandle(int vendorId, int productId) override;
    void SetReadNotify(DeviceHandle handle, bool notify) override;
    bool Read(DeviceHandle handle, Report& buffer) override;
    bool WriteEx(int vendorId, int productId, const Report& buffer) override;
    int GetVendorID(DeviceHandle handle) override;
    int GetProductID(DeviceHandle handle) override;
    BoardPresence Presence() override { return BoardPresence::Virtual; }

    // 1 is the real board's pace, 0 answers at the next event pass; negative counts as 0.
    void SetSpeedFactor(double factor);
    double SpeedFactor() const { return speedFactor_; }
    // The next finished commands answer with these codes, in turn, instead of "OK".
    void AnswerNextWith(std::string code);
    // A report now, as a tripped limit switch or the emergency stop button would send it. Moves
    // in progress still finish and are acknowledged.
    void SendStatus(const std::string& code);
    // A silent board drops the acknowledgements of the commands in progress too.
    void SetAnswering(bool answering);
    bool Answering() const { return answering_; }
    void SetLowerCaseOk(bool lowerCase) { lowerCaseOk_ = lowerCase; }
    void Unplug();
    void Plug();
    bool Plugged() const { return handle_ != 0; }

    std::uint64_t ReportsReceived() const { return reportsReceived_; }
    // The most recent LogLimit commands, oldest first.
    const std::deque<LoggedCommand>& Log() const { return log_; }
    std::optional<LoggedCommand> LastCommand() const;
    // When report number `reportNumber` (counted from 1, as ReportsReceived counts) arrives, the
    // board also reports `code` at once, as a limit switch tripping during that move would; the
    // move still finishes and is acknowledged.
    void AddFault(std::uint64_t reportNumber, std::string code);
    // Called with every report the board accepts, for a record of a whole run.
    void SetRecorder(std::function<void(const Report&)> recorder) {
        recorder_ = std::move(recorder);
    }
    // Called after every change a viewer may want to show (report received, plug state...).
    void SetObserver(std::function<void()> observer) { observer_ = std::move(observer); }

private:
    void Notify(int wParam, DeviceHandle lParam);
    void Answer();
    void Queue(const std::string& code);
    void CancelAnswers();
    void Changed();

    Timeline& clock_;
    NotifySink sink_;
    bool connected_ = false;
    DeviceHandle handle_ = 0;
    DeviceHandle lastHandle_ = 0;
    bool readNotify_ = false;
    bool answering_ = true;
    bool lowerCaseOk_ = false;
    double speedFactor_ = 1.0;
    std::int64_t busyUntilMs_ = 0;
    std::uint64_t lastTicket_ = 0;
    std::map<std::uint64_t, Timeline::TimerId> pendingAnswers_; // by ticket, in order sent
    std::deque<std::string> scriptedAnswers_;
    std::deque<Report> input_;
    std::deque<LoggedCommand> log_;
    std::uint64_t reportsReceived_ = 0;
    std::multimap<std::uint64_t, std::string> faults_; // by report number, in the order added
    std::function<void(const Report&)> recorder_;
    std::function<void()> observer_;
};

} // namespace device
