#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace pennaro::testing {

// Runs `action` on a thread of its own once `after` has passed, unless destroyed first. Tests
// stop a server with it, so that a client that ignored its limits fails the test there instead
// of holding it until the test's time-out.
class Watchdog final {
public:
    Watchdog(std::chrono::milliseconds after, std::function<void()> action);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Whether the time ran out and the action ran.
    bool fired() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cancelled;
    bool m_done = false;
    bool m_fired = false;
    std::thread m_thread;
};

} // namespace pennaro::testing
