// A fake of the hidapi calls the real-board backend makes: boards attached and detached by the
// test, input reports queued per board, writes recorded, and a board whose device file is closed
// to this user (its open fails with EACCES), for the backend's tests and the window's.
#pragma once

#include "device/hid_library.h"
#include "device/hidapi_calls.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// What the fake hands out as an open device: the path of the board it belongs to.
struct hid_device_ {
    std::string path;
};

namespace {

using namespace device;

struct FakeBoard {
    explicit FakeBoard(std::string path, unsigned short vendorId = DeviceVendorId,
                       unsigned short productId = DeviceProductId)
        : path(std::move(path)), vendorId(vendorId), productId(productId) {}

    std::string path;
    unsigned short vendorId;
    unsigned short productId;
    std::deque<std::vector<unsigned char>> input;
    bool closedToUser = false; // its device file refuses this user: open fails with EACCES
};

// The attached boards and everything done to them. Shared with the backend's threads.
struct FakeHidapi {
    std::mutex mutex;
    std::condition_variable inputArrived;
    std::vector<FakeBoard> attached;
    std::vector<std::pair<std::string, std::vector<unsigned char>>> written; // path, bytes
    int opens = 0;
    int closes = 0;
    int writeFailures = 0; // the next writes that fail

    FakeBoard* Find(const std::string& path) {
        for (FakeBoard& board : attached) {
            if (board.path == path) {
                return &board;
            }
        }
        return nullptr;
    }
};

FakeHidapi* fake = nullptr;

hid_device* OpenBoard(const std::string& path) {
    ++fake->opens;
    return new hid_device_{path};
}

const HidapiCalls kFakeCalls{
    [] { return 0; },
    // Hands out every attached device, whatever the filter: the backend must check the ids.
    [](unsigned short, unsigned short) {
        std::lock_guard lock(fake->mutex);
        hid_device_info* list = nullptr;
        for (auto it = fake->attached.rbegin(); it != fake->attached.rend(); ++it) {
            auto* info = new hid_device_info{};
            info->path = strdup(it->path.c_str());
            info->vendor_id = it->vendorId;
            info->product_id = it->productId;
            info->next = list;
            list = info;
        }
        return list;
    },
    [](hid_device_info* list) {
        while (list != nullptr) {
            hid_device_info* next = list->next;
            free(list->path);
            delete list;
            list = next;
        }
    },
    [](unsigned short vendorId, unsigned short productId, const wchar_t*) -> hid_device* {
        std::lock_guard lock(fake->mutex);
        for (const FakeBoard& board : fake->attached) {
            if (board.vendorId == vendorId && board.productId == productId) {
                return OpenBoard(board.path);
            }
        }
        return nullptr;
    },
    [](const char* path) -> hid_device* {
        std::lock_guard lock(fake->mutex);
        const FakeBoard* board = fake->Find(path);
        if (board == nullptr || board->closedToUser) {
            errno = board == nullptr ? ENOENT : EACCES;
            return nullptr;
        }
        return OpenBoard(path);
    },
    [](hid_device* device, const unsigned char* data, std::size_t length) {
        std::lock_guard lock(fake->mutex);
        if (fake->Find(device->path) == nullptr || fake->writeFailures > 0) {
            --fake->writeFailures;
            return -1;
        }
        fake->written.emplace_back(device->path, std::vector<unsigned char>(data, data + length));
        return static_cast<int>(length);
    },
    [](hid_device* device, unsigned char* data, std::size_t length, int milliseconds) {
        std::unique_lock lock(fake->mutex);
        // Like the real call, it blocks until a report comes, the board goes or time is up.
        fake->inputArrived.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
            FakeBoard* board = fake->Find(device->path);
            return board == nullptr || !board->input.empty();
        });
        FakeBoard* board = fake->Find(device->path);
        if (board == nullptr) {
            return -1;
        }
        if (board->input.empty()) {
            return 0;
        }
        const std::vector<unsigned char> report = board->input.front();
        board->input.pop_front();
        const std::size_t count = std::min(length, report.size());
        std::memcpy(data, report.data(), count);
        return static_cast<int>(count);
    },
    [](hid_device* device) {
        std::lock_guard lock(fake->mutex);
        ++fake->closes;
        delete device;
    },
};

} // namespace
