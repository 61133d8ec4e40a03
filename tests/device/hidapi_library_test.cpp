// The hidapi backend's own logic against a fake of the hidapi calls it makes: enumeration into
// plug, unplug and change; input reports queued until Read; the 65-byte write; a board pulled
// out while its reader waits; the threads ending at Disconnect.
#include "device/hidapi_library.h"
#include "support/fake_hidapi.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

using namespace device;

namespace {

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

TEST_F(HidapiLibraryTest, PresenceTellsABoardClosedToThisUserFromNoBoardAndFromAnOpenOne) {
    Connect();
    library.ScanOnce();
    EXPECT_EQ(library.Presence(), BoardPresence::NotFound);

    Attach("/dev/hidraw3");
    {
        std::lock_guard lock(state.mutex);
        state.Find("/dev/hidraw3")->closedToUser = true;
    }
    library.ScanOnce();
    library.SetReadNotify(Board(), true); // what the changed notification's handler does
    EXPECT_EQ(library.Presence(), BoardPresence::NoPermission);
    EXPECT_EQ(state.opens, 0);

    // The rule installed, the board plugged in again: a new attachment that opens.
    Detach("/dev/hidraw3");
    library.ScanOnce();
    EXPECT_EQ(library.Presence(), BoardPresence::NotFound);
    Attach("/dev/hidraw4");
    library.ScanOnce();
    library.SetReadNotify(Board(), true);
    EXPECT_EQ(library.Presence(), BoardPresence::Connected);
}
