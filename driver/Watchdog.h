// The timeout of a whole run. Whoever claims the output first writes it: the
// run's own result, or the watchdog's one line when the time is up first.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

class TWatchdog {
public:
  // Starts a thread that runs Body; throws (std::system_error, as
  // std::thread does) when the system makes none.
  using TStartThread = std::function<std::thread(std::function<void()> Body)>;
  static std::thread StartSystemThread(std::function<void()> Body);

  explicit TWatchdog(TStartThread StartThread = StartSystemThread);
  ~TWatchdog();  // waits for an Expire under way, which never returns
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

  // Arms the timeout: after Seconds (none when 0 or less) Expire runs on the
  // watchdog's thread unless the output was claimed before; it writes what
  // was made ready for it and ends the process, allocating nothing. Returns
  // once the thread waits, so that nothing the run does afterwards (a
  // library loaded, a share that hangs) can keep it from starting. Gives
  // why the thread could not be started (ENOMEM when memory ran out), no
  // error when it waits or no timeout was asked for. Once per watchdog.
  std::error_code Arm(int Seconds, void (*Expire)()) noexcept;

  // True when the caller may write: the watchdog has not and now never will.
  bool Claim();

private:
  TStartThread StartThread;
  std::atomic<bool> Claimed{false};
  std::mutex Lock;
  std::condition_variable Changed;
  bool Waiting = false;
  bool Done = false;
  std::thread Thread;
};

// The run's one line (with its "\n") when the watchdog could not be armed:
// "Unknown - Can not start the timeout: <the system's text>". May throw
// (out of memory); then TimeoutFailureFallback is the line.
std::string TimeoutFailureLine(std::error_code Failure);
extern const char TimeoutFailureFallback[];
