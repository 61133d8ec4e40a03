// The hidapi backend's own logic against a fake of the hidapi calls it makes: enumeration into
// plug, unplug and change; input reports queued until Read; the 65-byte write; a board pulled
// out while its reader waits; the threads ending at Disconnect.
#include "device/hidapi_library.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

using namespace device;

// What the fake hands out as an open device: the path of the board it belongs to.
struct hid_device_ {
    std::string path;
};

namespace {

struct FakeBoard {
    explicit FakeBoard(std::string path, unsigned short vendorId = DeviceVendorId,
                       unsigned short productId = DeviceProductId)
        : path(std::move(path)), vendorId(vendorId), productId(productId) {}

    std::string path;
    unsigned short vendorId;
    unsigned short productId;
    std::deque<std::vector<unsigned char>> input;
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
        return fake->Find(path) != nullptr ? OpenBoard(path) : nullptr;
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

using Notes = std::vector<std::pair<int, DeviceHandle>>;

class HidapiLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { fake = &state; }
    void TearDown() override {
        library.Disconnect();
        EXPECT_EQ(state.opens, state.closes) << "every opened device is closed again";
        fake = nullptr;
    }

    void Attach(const std::string& path) {
        std::lock_guard lock(state.mutex);
        state.attached.push_back(FakeBoard{path});
    }
    void Detach(const std::string& path) {
        std::lock_guard lock(state.mutex);
        std::erase_if(state.attached, [&](const FakeBoard& board) { return board.path == path; });
        state.inputArrived.notify_all();
    }
    void Input(const std::string& path, std::vector<unsigned char> data) {
        std::lock_guard lock(state.mutex);
        state.Find(path)->input.push_back(std::move(data));
        state.inputArrived.notify_all();
    }
    void Connect(HidLibrary& hid) {
        hid.Connect([this](int wParam, DeviceHandle lParam) {
            std::lock_guard lock(notesMutex);
            notes.emplace_back(wParam, lParam);
            noted.notify_all();
        });
    }
    void Connect() { Connect(library); }
    Notes TakeNotes() {
        std::lock_guard lock(notesMutex);
        return std::exchange(notes, {});
    }
    DeviceHandle Board() { return library.GetHandle(DeviceVendorId, DeviceProductId); }

    FakeHidapi state;
    HidapiLibrary library{kFakeCalls, HidapiLibrary::Options{250, 0, false}};
    std::mutex notesMutex;
    std::condition_variable noted;
    Notes notes;
};

TEST_F(HidapiLibraryTest, EnumerationBecomesPlugUnplugAndChange) {
    Attach("/dev/hidraw3");
    {
        std::lock_guard lock(state.mutex);
        state.attached.push_back(FakeBoard{"/dev/hidraw9", 0x046d, DeviceProductId}); // not ours
    }
    Connect();
    library.ScanOnce();
    EXPECT_EQ(TakeNotes(), (Notes{{NotifyChanged, 0}})); // attached at Connect: a change only
    const DeviceHandle first = Board();
    EXPECT_NE(first, 0);
    EXPECT_EQ(library.GetVendorID(first), DeviceVendorId);
    EXPECT_EQ(library.GetHandle(0x046d, DeviceProductId), 0);

    library.ScanOnce();
    EXPECT_TRUE(TakeNotes().empty());

    Detach("/dev/hidraw3");
    library.ScanOnce();
    EXPECT_EQ(TakeNotes(), (Notes{{NotifyUnplugged, first}, {NotifyChanged, 0}}));
    EXPECT_EQ(Board(), 0);

    Attach("/dev/hidraw3");
    library.ScanOnce();
    const DeviceHandle second = Board();
    EXPECT_NE(second, first);
    EXPECT_EQ(TakeNotes(), (Notes{{NotifyPlugged, second}, {NotifyChanged, 0}}));

    library.Disconnect();
    Detach("/dev/hidraw3");
    library.ScanOnce();
    EXPECT_TRUE(TakeNotes().empty());
}

TEST_F(HidapiLibraryTest, InputReportsQueueUntilReadAndAreAnnouncedWhileNotifyIsOn) {
    Attach("/dev/hidraw0");
    Connect();
    library.ScanOnce();
    TakeNotes();
    const DeviceHandle board = Board();
    library.SetReadNotify(board, true);

    Input("/dev/hidraw0", {'X', 'L'});
    Input("/dev/hidraw0", {'O', 'K', 7});
    EXPECT_TRUE(library.ReadOnce(board));
    EXPECT_TRUE(library.ReadOnce(board));
    EXPECT_TRUE(library.ReadOnce(board)); // nothing came: the reader simply goes on
    EXPECT_EQ(TakeNotes(), (Notes{{NotifyRead, board}, {NotifyRead, board}}));

    Report buffer{};
    ASSERT_TRUE(library.Read(board, buffer));
    EXPECT_EQ(buffer[0], 0); // the report identifier goes in front of the board's data
    EXPECT_EQ(buffer[1], 'X');
    EXPECT_EQ(buffer[2], 'L');
    ASSERT_TRUE(library.Read(board, buffer));
    EXPECT_EQ(buffer[1], 'O');
    EXPECT_EQ(buffer[3], 7);
    buffer.fill(0xAA);
    EXPECT_FALSE(library.Read(board, buffer));
    EXPECT_EQ(buffer[1], 0xAA);

    library.SetReadNotify(board, false);
    Input("/dev/hidraw0", {'E', 'S'});
    library.ReadOnce(board);
    EXPECT_TRUE(TakeNotes().empty());
    EXPECT_TRUE(library.Read(board, buffer)); // still queued
    EXPECT_FALSE(library.Read(Board() + 1000, buffer));
}

TEST_F(HidapiLibraryTest, WriteExOpensByIdentifiersAndSendsAll65Bytes) {
    Report report{};
    report[1] = 11;
    report[4] = 213;
    report[11] = 57;
    Connect();
    EXPECT_FALSE(library.WriteEx(DeviceVendorId, DeviceProductId, report)); // no board
    EXPECT_TRUE(state.written.empty());

    Attach("/dev/hidraw1");
    EXPECT_TRUE(library.WriteEx(DeviceVendorId, DeviceProductId, report));
    EXPECT_TRUE(library.WriteEx(DeviceVendorId, DeviceProductId, report));
    ASSERT_EQ(state.written.size(), 2u);
    EXPECT_EQ(state.written[0].second, std::vector<unsigned char>(report.begin(), report.end()));
    EXPECT_EQ(state.opens, 1); // no enumeration, no read notification needed; one open

    // Pulled out and plugged in again between two writes: one fresh open and the write goes.
    Detach("/dev/hidraw1");
    Attach("/dev/hidraw2");
    EXPECT_TRUE(library.WriteEx(DeviceVendorId, DeviceProductId, report));
    EXPECT_EQ(state.written.back().first, "/dev/hidraw2");

    state.writeFailures = 2;
    EXPECT_FALSE(library.WriteEx(DeviceVendorId, DeviceProductId, report));
    EXPECT_EQ(state.written.size(), 3u);

    library.Disconnect();
    EXPECT_FALSE(library.WriteEx(DeviceVendorId, DeviceProductId, report));
    EXPECT_EQ(state.written.size(), 3u);
}

TEST_F(HidapiLibraryTest, UnplugDuringAReadEndsTheReaderAndKeepsWhatArrived) {
    Attach("/dev/hidraw0");
    Connect();
    library.ScanOnce();
    const DeviceHandle board = Board();
    library.SetReadNotify(board, true);
    Input("/dev/hidraw0", {'O', 'K'});
    EXPECT_TRUE(library.ReadOnce(board));

    Detach("/dev/hidraw0");
    EXPECT_FALSE(library.ReadOnce(board));
    EXPECT_EQ(state.closes, 1);
    EXPECT_FALSE(library.ReadOnce(board));

    Report buffer{};
    EXPECT_TRUE(library.Read(board, buffer));
    EXPECT_EQ(buffer[1], 'O');
    TakeNotes();
    library.ScanOnce();
    EXPECT_EQ(TakeNotes(), (Notes{{NotifyUnplugged, board}, {NotifyChanged, 0}}));
    library.SetReadNotify(board, true); // a stale handle opens nothing
    EXPECT_EQ(state.opens, 1);
}

TEST_F(HidapiLibraryTest, ThreadsAnnounceOnTheirOwnAndStopAtDisconnect) {
    HidapiLibrary threaded{kFakeCalls, HidapiLibrary::Options{1, 5, true}};
    auto waitFor = [&](int wParam) {
        std::unique_lock lock(notesMutex);
        // A safety limit only: the threads answer within milliseconds.
        return noted.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::any_of(notes.begin(), notes.end(),
                               [&](const auto& note) { return note.first == wParam; });
        });
    };
    Attach("/dev/hidraw0");
    Connect(threaded);
    ASSERT_TRUE(waitFor(NotifyChanged));
    const DeviceHandle board = threaded.GetHandle(DeviceVendorId, DeviceProductId);
    threaded.SetReadNotify(board, true);
    Input("/dev/hidraw0", {'O', 'K'});
    ASSERT_TRUE(waitFor(NotifyRead));
    Report buffer{};
    EXPECT_TRUE(threaded.Read(board, buffer));

    EXPECT_TRUE(threaded.Disconnect());
    TakeNotes();
    Input("/dev/hidraw0", {'X', 'L'});
    Detach("/dev/hidraw0");
    EXPECT_TRUE(TakeNotes().empty()); // nothing runs any more to notice
}

} // namespace
