// Virtual time for window tests: whenever the event loop has nothing left to do and would go to
// sleep, the clock jumps to the next wake-up and runs it. A test of a 180-second time-out thus
// takes no real time, and every time a test sees is exact.
//
// "Nothing left to do" needs Qt's own Unix event dispatcher: the GLib one announces aboutToBlock
// on every pass, even with events still queued. A test program using this timeline therefore
// sets QT_NO_GLIB before its QApplication exists (see UseUnixEventDispatcher).
#pragma once

#include "support/manual_timeline.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <gtest/gtest.h>

// For a namespace-scope initializer of the test program, so it runs before main().
inline bool UseUnixEventDispatcher() {
    return qputenv("QT_NO_GLIB", "1");
}

class VirtualTimeline final : public QObject, public ManualTimeline {
public:
    VirtualTimeline() {
        if (QByteArray(QAbstractEventDispatcher::instance()->metaObject()->className())
                .contains("Glib")) {
            ADD_FAILURE() << "virtual time needs QT_NO_GLIB set before the QApplication";
        }
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                [this] {
                    if (!runPosted_ && HasPending()) {
                        PostRun();
                    }
                });
    }

    TimerId CallAt(std::int64_t atMs, std::function<void()> callback) override {
        const TimerId id = ManualTimeline::CallAt(atMs, std::move(callback));
        if (atMs <= NowMs() && !runPosted_) {
            PostRun(); // already due: runs at the next event pass, as on the real clock
        }
        return id;
    }

    // What the event loop does when it would go to sleep, for a test that drives the loop
    // itself: the next wake-up runs at the next event pass, after what is queued now.
    void RunNextSoon() {
        if (!runPosted_ && HasPending()) {
            PostRun();
        }
    }

private:
    // The wake-up runs as an ordinary event, never inside the dispatcher's own signal.
    void PostRun() {
        runPosted_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                runPosted_ = false;
                if (HasPending()) {
                    RunFirst();
                }
            },
            Qt::QueuedConnection);
    }

    bool runPosted_ = false;
};
