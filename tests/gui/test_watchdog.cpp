// A test of the settings pages that waits on a window which never answers
// sits until ctest's time limit ends the program, and ctest then shows only
// the name of the test that was running. This watchdog says more while the
// program still runs: once a test has run longer than any of these tests
// takes (MP4V_TEST_HANG_SECONDS, default 120; the slowest takes a few
// seconds under the emulated 32-bit Wine), it prints the test's name, the
// driver's last step (pages_driver::Step) and each window of the pages'
// thread with whether it answers, to stderr, once per test, every line led
// by "HANG: " (scripts/test.sh shows those lines in its summary). It ends
// nothing itself: the limit and what follows it are ctest's (the tests'
// TIMEOUT property, and scripts/test.sh).
//
// Linked into each program that drives the pages; it registers itself with
// GoogleTest when the program starts.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gui/pages_driver.h"

namespace {

class HangWatchdog : public testing::EmptyTestEventListener {
 public:
  HangWatchdog() {
    const char* limit = std::getenv("MP4V_TEST_HANG_SECONDS");
    if (limit != nullptr && std::atoi(limit) > 0) limit_ms_ = 1000u * std::atoi(limit);
    CreateThread(nullptr, 0, &HangWatchdog::Watch, this, 0, nullptr);
  }

  void OnTestStart(const testing::TestInfo& test) override {
    name_ = std::string(test.test_suite_name()) + "." + test.name();
    started_.store(GetTickCount(), std::memory_order_relaxed);
    test_.fetch_add(1, std::memory_order_release);
  }
  void OnTestEnd(const testing::TestInfo&) override {
    test_.fetch_add(1, std::memory_order_release);
  }

 private:
  // test_ is odd while a test runs; name_ and started_ are written before it
  // turns odd.
  static DWORD WINAPI Watch(void* data) {
    HangWatchdog* self = static_cast<HangWatchdog*>(data);
    // A thread sees only the windows of its own desktop: the pages' one.
    pages_driver::UseTestDesktop();
    unsigned reported = 0;
    for (;;) {
      Sleep(1000);
      const unsigned test = self->test_.load(std::memory_order_acquire);
      if (test % 2 == 0 || test == reported) continue;
      const DWORD ran = GetTickCount() - self->started_.load(std::memory_order_relaxed);
      if (ran < self->limit_ms_) continue;
      std::fprintf(stderr, "\nHANG: %s has run for %lu s; the driver's last step: %s\n",
                   self->name_.c_str(), static_cast<unsigned long>(ran / 1000),
                   pages_driver::Step());
      std::fflush(stdout);
      std::fflush(stderr);
      reported = test;
      // Whether the pages' thread still handles messages tells a driver
      // waiting on a thread that is stuck from one stuck itself. The probe
      // may hang as the test did; its first line says it began.
      if (const DWORD gui = pages_driver::LastGuiThread()) {
        std::fprintf(stderr, "HANG: the pages' thread %lu and its windows:\n",
                     static_cast<unsigned long>(gui));
        std::fflush(stderr);
        const std::string windows = pages_driver::DescribeThreadWindows(gui);
        for (size_t at = 0; at < windows.size();) {
          const size_t end = windows.find('\n', at);
          std::fprintf(stderr, "HANG:   %s\n", windows.substr(at, end - at).c_str());
          at = end + 1;
        }
        std::fflush(stderr);
      }
    }
  }

  DWORD limit_ms_ = 120000;
  std::string name_;
  std::atomic<DWORD> started_{0};
  std::atomic<unsigned> test_{0};
};

// GoogleTest owns the listener once appended.
const bool kRegistered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new HangWatchdog);
  return true;
}();

}  // namespace
