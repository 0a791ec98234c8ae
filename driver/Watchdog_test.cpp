// The timeout's watchdog with the thread start in the test's hands: it may
// fail, or start late.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "driver/Watchdog.h"

namespace {

std::atomic<int> Expired{0};
void CountExpiry() { ++Expired; }

// What the watchdog's thread start may meet.
struct TFailingStart {
  const char* Situation;
  TWatchdog::TStartThread Start;
  std::error_code Expected;
};

TEST(Watchdog, AThreadThatCannotBeStartedIsReportedNotThrown) {
  const TFailingStart Cases[] = {
      // A full pids limit, a small address space: std::thread's own report.
      {"no thread",
       [](std::function<void()>) -> std::thread {
         throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
       },
       std::make_error_code(std::errc::resource_unavailable_try_again)},
      {"no memory", [](std::function<void()>) -> std::thread { throw std::bad_alloc(); },
       std::make_error_code(std::errc::not_enough_memory)},
  };
  for (const TFailingStart& Case : Cases) {
    TWatchdog Watchdog(Case.Start);
    EXPECT_EQ(Watchdog.Arm(10, CountExpiry), Case.Expected) << Case.Situation;
    // Nothing runs that could write: the caller answers.
    EXPECT_TRUE(Watchdog.Claim()) << Case.Situation;
  }
  EXPECT_EQ(Expired, 0);
}

TEST(Watchdog, FailureLineNamesTheSystemsReason) {
  EXPECT_EQ(TimeoutFailureLine(std::make_error_code(std::errc::resource_unavailable_try_again)),
            "Unknown - Can not start the timeout: " + std::generic_category().message(EAGAIN) + "\n");
#ifdef __linux__
  // The text an agent sees under a full pids limit.
  EXPECT_EQ(TimeoutFailureLine(std::make_error_code(std::errc::resource_unavailable_try_again)),
            "Unknown - Can not start the timeout: Resource temporarily unavailable\n");
#endif
  EXPECT_EQ(std::string(TimeoutFailureFallback), "Unknown - Can not start the timeout\n");
}

TEST(Watchdog, NoTimeoutStartsNoThread) {
  int Starts = 0;
  TWatchdog Watchdog([&Starts](std::function<void()> Body) {
    ++Starts;
    return std::thread(std::move(Body));
  });
  EXPECT_FALSE(Watchdog.Arm(0, CountExpiry));
  EXPECT_FALSE(Watchdog.Arm(-1, CountExpiry));
  EXPECT_EQ(Starts, 0);
  EXPECT_TRUE(Watchdog.Claim());
}

// However late the system runs the new thread, Arm returns only once it
// waits; a run claimed in time ends the wait at once, and Expire never runs.
TEST(Watchdog, ArmReturnsOnceTheThreadWaits) {
  std::atomic<bool> BodyStarted{false};
  const auto Late = [&BodyStarted](std::function<void()> Body) {
    return std::thread([&BodyStarted, Body = std::move(Body)] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      BodyStarted = true;
      Body();
    });
  };
  const auto Started = std::chrono::steady_clock::now();
  {
    TWatchdog Watchdog(Late);
    EXPECT_FALSE(Watchdog.Arm(3600, CountExpiry));
    EXPECT_TRUE(BodyStarted);
    EXPECT_TRUE(Watchdog.Claim());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - Started, std::chrono::seconds(60));
  EXPECT_EQ(Expired, 0);
}

TEST(Watchdog, TimeUpExpiresOnceAndTheRunMayNoLongerWrite) {
  TWatchdog Watchdog;
  ASSERT_FALSE(Watchdog.Arm(1, CountExpiry));
  for (int Wait = 0; Wait < 600 && Expired == 0; ++Wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Expired, 1);
  EXPECT_FALSE(Watchdog.Claim());
  Expired = 0;
}

}  // namespace
