#include "device/hidapi_library.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

namespace device {

HidapiLibrary::HidapiLibrary() : HidapiLibrary(RealHidapiCalls(), Options{}) {}

HidapiLibrary::HidapiLibrary(HidapiCalls calls, Options options)
    : calls_(calls), options_(options) {}

HidapiLibrary::~HidapiLibrary() {
    Disconnect();
    CloseWriteDevice();
}

bool HidapiLibrary::Connect(NotifySink sink) {
    {
        std::lock_guard lock(mutex_);
        sink_ = std::move(sink);
        if (connected_) {
            return true;
        }
        if (calls_.init() != 0) {
            sink_ = nullptr;
            return false;
        }
        connected_ = true;
        stopping_ = false;
        firstScan_ = true;
    }
    if (options_.runThreads) {
        watcher_ = std::thread([this] { WatcherLoop(); });
    }
    return true;
}

bool HidapiLibrary::Disconnect() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        if (!connected_) {
            return false;
        }
        connected_ = false;
        stopping_ = true;
        sink_ = nullptr;
        for (auto& [handle, board] : boards_) {
            board->stopReading = true;
            if (board->reader.joinable()) {
                threads.push_back(std::move(board->reader));
            }
        }
    }
    wake_.notify_all();
    if (watcher_.joinable()) {
        watcher_.join();
    }
    for (std::thread& reader : threads) {
        reader.join();
    }
    {
        std::lock_guard lock(mutex_);
        for (auto& [handle, board] : boards_) {
            CloseReaderDevice(*board);
        }
        boards_.clear();
    }
    CloseWriteDevice();
    return true;
}

DeviceHandle HidapiLibrary::GetHandle(int vendorId, int productId) {
    if (vendorId != DeviceVendorId || productId != DeviceProductId) {
        return 0;
    }
    std::lock_guard lock(mutex_);
    for (const auto& [handle, board] : boards_) {
        if (board->attached) {
            return handle;
        }
    }
    return 0;
}

void HidapiLibrary::SetReadNotify(DeviceHandle handle, bool notify) {
    std::lock_guard lock(mutex_);
    Board* board = Find(handle);
    if (board == nullptr || !board->attached || !connected_) {
        return;
    }
    board->notify = notify;
    if (!notify || board->device != nullptr) {
        return;
    }
    if (board->reader.joinable()) {
        if (!board->readerDone) {
            return; // still winding down; the next changed notification starts it again
        }
        board->reader.join(); // it has finished its last locked step and only returns
    }
    errno = 0;
    board->device = calls_.open_path(board->path.c_str());
    if (board->device == nullptr) {
        board->denied = errno == EACCES || errno == EPERM;
        return;
    }
    board->denied = false;
    board->stopReading = false;
    board->readerDone = false;
    if (options_.runThreads) {
        board->reader = std::thread([this, handle] {
            while (ReadOnce(handle)) {
            }
        });
    }
}

bool HidapiLibrary::Read(DeviceHandle handle, Report& buffer) {
    std::lock_guard lock(mutex_);
    Board* board = Find(handle);
    if (board == nullptr || board->queue.empty()) {
        return false;
    }
    buffer = board->queue.front();
    board->queue.pop_front();
    return true;
}

bool HidapiLibrary::WriteEx(int vendorId, int productId, const Report& buffer) {
    {
        std::lock_guard lock(mutex_);
        if (!connected_) {
            return false;
        }
    }
    std::lock_guard lock(writeMutex_);
    // A handle kept from an earlier write may belong to a board since unplugged: one fresh open
    // and one more try before giving up.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (writeDevice_ != nullptr &&
            (writeVendorId_ != vendorId || writeProductId_ != productId)) {
            calls_.close(writeDevice_);
            writeDevice_ = nullptr;
        }
        if (writeDevice_ == nullptr) {
            writeDevice_ = calls_.open(static_cast<unsigned short>(vendorId),
                                       static_cast<unsigned short>(productId), nullptr);
            writeVendorId_ = vendorId;
            writeProductId_ = productId;
            if (writeDevice_ == nullptr) {
                return false;
            }
        }
        if (calls_.write(writeDevice_, buffer.data(), buffer.size()) >= 0) {
            return true;
        }
        calls_.close(writeDevice_);
        writeDevice_ = nullptr;
    }
    return false;
}

int HidapiLibrary::GetVendorID(DeviceHandle handle) {
    std::lock_guard lock(mutex_);
    return Find(handle) != nullptr ? DeviceVendorId : 0;
}

int HidapiLibrary::GetProductID(DeviceHandle handle) {
    std::lock_guard lock(mutex_);
    return Find(handle) != nullptr ? DeviceProductId : 0;
}

BoardPresence HidapiLibrary::Presence() {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, board] : boards_) {
        if (board->attached) {
            return board->denied ? BoardPresence::NoPermission : BoardPresence::Connected;
        }
    }
    return BoardPresence::NotFound;
}

void HidapiLibrary::ScanOnce() {
    std::vector<std::string> paths;
    hid_device_info* devices = calls_.enumerate(DeviceVendorId, DeviceProductId);
    for (const hid_device_info* info = devices; info != nullptr; info = info->next) {
        if (info->path != nullptr && info->vendor_id == DeviceVendorId &&
            info->product_id == DeviceProductId) {
            paths.emplace_back(info->path);
        }
    }
    calls_.free_enumeration(devices);

    std::vector<std::pair<int, DeviceHandle>> notifications;
    NotifySink sink;
    bool lost = false;
    {
        std::lock_guard lock(mutex_);
        if (!connected_) {
            return;
        }
        const bool announce = !firstScan_;
        firstScan_ = false;
        for (auto& [handle, board] : boards_) {
            if (!board->attached ||
                std::find(paths.begin(), paths.end(), board->path) != paths.end()) {
                continue;
            }
            board->attached = false;
            board->stopReading = true;
            if (!board->reader.joinable()) {
                CloseReaderDevice(*board);
            }
            notifications.emplace_back(NotifyUnplugged, handle);
            lost = true;
        }
        for (const std::string& path : paths) {
            const bool known = std::any_of(boards_.begin(), boards_.end(), [&](const auto& entry) {
                return entry.second->attached && entry.second->path == path;
            });
            if (known) {
                continue;
            }
            auto board = std::make_unique<Board>();
            board->handle = ++lastHandle_;
            board->path = path;
            notifications.emplace_back(NotifyPlugged, board->handle);
            boards_.emplace(board->handle, std::move(board));
        }
        if (!notifications.empty()) {
            if (!announce) {
                notifications.clear(); // a board found at Connect only counts as a change
            }
            notifications.emplace_back(NotifyChanged, 0);
        }
        sink = sink_;
    }
    if (lost) {
        CloseWriteDevice();
    }
    if (!sink) {
        return;
    }
    for (const auto& [wParam, lParam] : notifications) {
        sink(wParam, lParam);
    }
}

bool HidapiLibrary::ReadOnce(DeviceHandle handle) {
    hid_device* device = nullptr;
    {
        std::lock_guard lock(mutex_);
        Board* board = Find(handle);
        if (board == nullptr || board->device == nullptr) {
            return false;
        }
        if (board->stopReading) {
            CloseReaderDevice(*board);
            return false;
        }
        device = board->device;
    }
    std::uint8_t data[ReportSize - 1];
    const int count = calls_.read_timeout(device, data, sizeof data, options_.readTimeoutMs);

    NotifySink sink;
    {
        std::lock_guard lock(mutex_);
        Board* board = Find(handle); // boards are only dropped after their reader has ended
        if (board == nullptr) {
            return false;
        }
        if (count < 0) {
            CloseReaderDevice(*board);
            return false;
        }
        if (count == 0) {
            return true;
        }
        // The board numbers no reports, so hidapi hands over the data bytes alone.
        Report report{};
        std::copy_n(data, std::min<std::size_t>(static_cast<std::size_t>(count), sizeof data),
                    report.begin() + 1);
        if (board->queue.size() == InputQueueLimit) {
            board->queue.pop_front();
        }
        board->queue.push_back(report);
        if (board->notify && connected_) {
            sink = sink_;
        }
    }
    if (sink) {
        sink(NotifyRead, handle);
    }
    return true;
}

HidapiLibrary::Board* HidapiLibrary::Find(DeviceHandle handle) {
    const auto found = boards_.find(handle);
    return found == boards_.end() ? nullptr : found->second.get();
}

void HidapiLibrary::CloseReaderDevice(Board& board) {
    if (board.device != nullptr) {
        calls_.close(board.device);
        board.device = nullptr;
    }
    board.readerDone = true;
}

void HidapiLibrary::WatcherLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        ScanOnce();
        lock.lock();
        wake_.wait_for(lock, std::chrono::milliseconds(options_.scanPeriodMs),
                       [this] { return stopping_; });
    }
}

void HidapiLibrary::CloseWriteDevice() {
    std::lock_guard lock(writeMutex_);
    if (writeDevice_ != nullptr) {
        calls_.close(writeDevice_);
        writeDevice_ = nullptr;
    }
}

} // namespace device
