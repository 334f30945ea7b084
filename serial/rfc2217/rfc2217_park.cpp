#include "serial/rfc2217/rfc2217_park.h"

#include <algorithm>
#include <utility>

namespace serial::rfc2217 {

ConnectionPark::~ConnectionPark() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  if (m_reaper.joinable()) m_reaper.join();
  // The kept sockets close with m_parked.
}

ConnectionPark& ConnectionPark::shared() {
  static ConnectionPark park;
  return park;
}

void ConnectionPark::put(ParkedConnection connection, int keepMs) {
  const Time until = std::chrono::steady_clock::now() + std::chrono::milliseconds(keepMs);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Entry& old : m_parked) {
      if (old.connection.name == connection.name) {
        old.connection = std::move(connection);  // closes the old socket
        old.until = until;
        m_wake.notify_all();
        return;
      }
    }
    m_parked.push_back(Entry{std::move(connection), until});
    if (!m_reaper.joinable()) m_reaper = std::thread([this] { reap(); });
  }
  m_wake.notify_all();
}

bool ConnectionPark::take(const std::string& name, ParkedConnection& connection) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto it = m_parked.begin(); it != m_parked.end(); ++it) {
    if (it->connection.name == name) {
      connection = std::move(it->connection);
      m_parked.erase(it);
      return true;
    }
  }
  return false;
}

bool ConnectionPark::holds(const std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const Entry& entry : m_parked) {
    if (entry.connection.name == name) return true;
  }
  return false;
}

void ConnectionPark::reap() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_stopping) {
    const Time now = std::chrono::steady_clock::now();
    Time next = Time::max();
    for (auto it = m_parked.begin(); it != m_parked.end();) {
      if (it->until <= now) {
        it = m_parked.erase(it);  // closes its socket
      } else {
        next = std::min(next, it->until);
        ++it;
      }
    }
    if (next == Time::max()) {
      m_wake.wait(lock);
    } else {
      m_wake.wait_until(lock, next);
    }
  }
}

}  // namespace serial::rfc2217
