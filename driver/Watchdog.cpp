#include "driver/Watchdog.h"

#include <cerrno>
#include <chrono>
#include <new>

#include "common/TextCodec.h"

std::thread TWatchdog::StartSystemThread(std::function<void()> Body) {
  return std::thread(std::move(Body));
}

TWatchdog::TWatchdog(TStartThread StartThread) : StartThread(std::move(StartThread)) {}

std::error_code TWatchdog::Arm(int Seconds, void (*Expire)()) noexcept {
  if (Seconds <= 0 || Thread.joinable()) return {};
  try {
    Thread = StartThread([this, Seconds, Expire] {
      std::unique_lock<std::mutex> Hold(Lock);
      Waiting = true;
      Changed.notify_all();
      // The wait gives the lock up: Arm returns only once it is reached.
      const bool Ended =
          Changed.wait_for(Hold, std::chrono::seconds(Seconds), [this] { return Done; });
      Hold.unlock();
      if (!Ended && !Claimed.exchange(true)) Expire();
    });
    std::unique_lock<std::mutex> Hold(Lock);
    Changed.wait(Hold, [this] { return Waiting; });
  } catch (const std::system_error& Error) {
    return Error.code();
  } catch (...) {
    // Out of memory for the thread's state, or anything else the start threw.
    return std::make_error_code(std::errc::not_enough_memory);
  }
  return {};
}

TWatchdog::~TWatchdog() {
  if (!Thread.joinable()) return;
  {
    std::lock_guard<std::mutex> Hold(Lock);
    Done = true;
  }
  Changed.notify_all();
  Thread.join();
}

bool TWatchdog::Claim() { return !Claimed.exchange(true); }

const char TimeoutFailureFallback[] = "Unknown - Can not start the timeout\n";

std::string TimeoutFailureLine(std::error_code Failure) {
  // The system's text for the code (EAGAIN: "Resource temporarily
  // unavailable"), on one line.
  std::string Reason = FoldLineBreaks(Failure.message());
  while (!Reason.empty() && (Reason.back() == ' ' || Reason.back() == '.')) Reason.pop_back();
  if (Reason.empty()) Reason = "error " + std::to_string(Failure.value());
  return "Unknown - Can not start the timeout: " + Reason + "\n";
}
