#include "tests/support/watchdog.h"

namespace pennaro::testing {

Watchdog::Watchdog(std::chrono::milliseconds after, std::function<void()> action)
    : m_thread([this, after, action = std::move(action)] {
          std::unique_lock lock(m_mutex);
          if (m_cancelled.wait_for(lock, after, [this] { return m_done; }))
              return;
          m_fired = true;
          lock.unlock();
          action();
      }) {}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_cancelled.notify_all();
    m_thread.join();
}

bool Watchdog::fired() const {
    std::lock_guard lock(m_mutex);
    return m_fired;
}

} // namespace pennaro::testing
