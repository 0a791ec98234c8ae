#include "driver/Watchdog.h"

#include <chrono>

TWatchdog::TWatchdog(int Seconds, void (*Expire)()) {
  if (Seconds <= 0) return;
  Thread = std::thread([this, Seconds, Expire] {
    std::unique_lock<std::mutex> Hold(Lock);
    const bool Ended =
        Finished.wait_for(Hold, std::chrono::seconds(Seconds), [this] { return Done; });
    Hold.unlock();
    if (!Ended && !Claimed.exchange(true)) Expire();
  });
}

TWatchdog::~TWatchdog() {
  if (!Thread.joinable()) return;
  {
    std::lock_guard<std::mutex> Hold(Lock);
    Done = true;
  }
  Finished.notify_one();
  Thread.join();
}

bool TWatchdog::Claim() { return !Claimed.exchange(true); }
