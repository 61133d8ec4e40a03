// The real board through hidapi.
//
// A watcher thread enumerates the board's identifiers every 250 ms and announces what changed:
// on the first pass after Connect only "changed" (a board already attached), later "plugged" or
// "unplugged" followed by "changed". Each board whose read notification is on gets a reader
// thread that waits in hid_read_timeout, queues every input report for Read and announces it.
// Writes open the board by its identifiers on their own handle, apart from the readers.
//
// None of these threads touches a widget: they only call the notification sink, which posts.
// Every failure is quiet (false, 0, no report); the program sees a missing board as a missing
// acknowledgement.
#pragma once

#include "device/hid_library.h"
#include "device/hidapi_calls.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace device {

class HidapiLibrary final : public HidLibrary {
public:
    struct Options {
        int scanPeriodMs = 250;
        int readTimeoutMs = 100; // how soon a reader notices Disconnect
        // Without threads nothing happens by itself: tests call ScanOnce and ReadOnce.
        bool runThreads = true;
    };

    static constexpr std::size_t InputQueueLimit = 256;

    // The real library, with the watcher and reader threads.
    HidapiLibrary();
    HidapiLibrary(HidapiCalls calls, Options options);
    ~HidapiLibrary() override;
    HidapiLibrary(const HidapiLibrary&) = delete;
    HidapiLibrary& operator=(const HidapiLibrary&) = delete;

    bool Connect(NotifySink sink) override;
    bool Disconnect() override;
    DeviceHandle GetHandle(int vendorId, int productId) override;
    void SetReadNotify(DeviceHandle handle, bool notify) override;
    bool Read(DeviceHandle handle, Report& buffer) override;
    bool WriteEx(int vendorId, int productId, const Report& buffer) override;
    int GetVendorID(DeviceHandle handle) override;
    int GetProductID(DeviceHandle handle) override;
    // NoPermission when the last open of the attached board was refused for permissions.
    BoardPresence Presence() override;

    // One pass of the watcher.
    void ScanOnce();
    // One hid_read_timeout of that board's reader; false when the reader is to end (board gone,
    // read error, Disconnect), and the board's device is then closed.
    bool ReadOnce(DeviceHandle handle);

private:
    struct Board {
        DeviceHandle handle = 0;
        std::string path;
        bool attached = true;
        bool notify = false;
        bool denied = false;          // its device file is closed to this user
        hid_device* device = nullptr; // the reader's; only the reader closes it while it runs
        bool stopReading = false;
        std::thread reader;
        bool readerDone = true;
        std::deque<Report> queue; // kept after an unplug, so a last report can still be read
    };

    Board* Find(DeviceHandle handle); // mutex_ held
    void CloseReaderDevice(Board& board);
    void WatcherLoop();
    void CloseWriteDevice();

    HidapiCalls calls_;
    Options options_;

    std::mutex mutex_; // everything below except the write device
    std::condition_variable wake_;
    NotifySink sink_;
    bool connected_ = false;
    bool stopping_ = false;
    bool firstScan_ = true;
    DeviceHandle lastHandle_ = 0;
    std::map<DeviceHandle, std::unique_ptr<Board>> boards_;
    std::thread watcher_;

    std::mutex writeMutex_;
    hid_device* writeDevice_ = nullptr;
    int writeVendorId_ = 0;
    int writeProductId_ = 0;
};

} // namespace device
