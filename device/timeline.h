// Time as the waits and the virtual board see it: a monotonic clock in milliseconds and one-shot
// wake-ups run on the window's thread. The program uses the steady clock of the Qt layer; tests
// drive a virtual one, so no test ever waits for real time to pass.
#pragma once

#include <cstdint>
#include <functional>

namespace device {

class Timeline {
public:
    using TimerId = std::uint64_t; // 0 is never a valid id

    virtual ~Timeline() = default;

    // Milliseconds since an arbitrary start; never goes backwards (midnight, clock changes).
    virtual std::int64_t NowMs() = 0;
    // Runs `callback` once, on the window's thread, from the event loop (never from inside this
    // call) when NowMs() has reached `atMs`. A time already past runs at the next event pass.
    virtual TimerId CallAt(std::int64_t atMs, std::function<void()> callback) = 0;
    // Forgets a wake-up that has not run yet; unknown or spent ids are ignored.
    virtual void Cancel(TimerId id) = 0;
};

} // namespace device
