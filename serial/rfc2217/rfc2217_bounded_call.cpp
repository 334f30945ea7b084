#include "serial/rfc2217/rfc2217_bounded_call.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace serial::rfc2217 {

bool callWithin(std::function<void()> call, int timeoutMs) {
  struct Done {
    std::mutex mutex;
    std::condition_variable changed;
    bool returned = false;
  };
  const auto done = std::make_shared<Done>();
  std::thread worker;
  try {
    worker = std::thread([done, call = std::move(call)] {
      call();
      const std::lock_guard<std::mutex> lock(done->mutex);
      done->returned = true;
      done->changed.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  bool returned = false;
  {
    std::unique_lock<std::mutex> lock(done->mutex);
    returned =
        done->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
                               [&] { return done->returned; });
  }
  if (returned) {
    worker.join();
  } else {
    worker.detach();
  }
  return returned;
}

}  // namespace serial::rfc2217
