// The timeout of a whole run. Whoever claims the output first writes it: the
// run's own result, or the watchdog's one line when the time is up first.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class TWatchdog {
public:
  // After Seconds (none when 0 or less), Expire runs on the watchdog's thread
  // unless the output was claimed before; it writes and ends the process.
  TWatchdog(int Seconds, void (*Expire)());
  ~TWatchdog();  // waits for an Expire under way, which never returns
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

  // True when the caller may write: the watchdog has not and now never will.
  bool Claim();

private:
  std::atomic<bool> Claimed{false};
  std::mutex Lock;
  std::condition_variable Finished;
  bool Done = false;
  std::thread Thread;
};
