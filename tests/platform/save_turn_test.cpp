// Saves of one file take turns: from several threads (each as a process of
// its own would: the turn is the system's lock, not one of this process),
// with a bounded wait, and every update builds on the one before.
#include "platform/save_turn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "api/requests.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "support/test_util.h"

namespace {

using Clock = std::chrono::steady_clock;
using testutil::ReadBytes;
using testutil::ScratchDir;
using testutil::WriteBytes;

// Another save holds the turn: a save waits for it and goes on as soon as
// it is given back, with the file as the holder left it.
TEST(ConcurrentSaves, ASaveWaitsForTheTurnAndGoesOnWhenItIsGiven) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  WriteBytes(path, "[Other]\nk=v\n");
  std::atomic<bool> held{false};
  Clock::time_point released;
  std::thread holder([&] {
    SaveTurn turn;
    uint32_t error = 0;
    ASSERT_TRUE(turn.Take(path.c_str(), 1000, &error));
    ASSERT_TRUE(turn.held());
    held = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // What the holder's own save wrote.
    WriteBytes(path, "[Other]\nk=holder\n");
    released = Clock::now();
    turn.Release();
  });
  while (!held) std::this_thread::yield();
  MP4VSettings record{};
  record.width = 720;
  EXPECT_EQ(MP4VConfigSave(&record, path.c_str()), MP4V_STATUS_OK);
  const Clock::time_point saved = Clock::now();
  holder.join();
  EXPECT_GE(saved, released);
  const std::string text = ReadBytes(path);
  EXPECT_NE(text.find("k=holder"), std::string::npos) << text;
  EXPECT_NE(text.find("width"), std::string::npos) << text;
}

// A turn held past the wait: the save gives up with its own reason and
// leaves the file and its folder as they were.
TEST(ConcurrentSaves, TheWaitForATurnIsBounded) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  WriteBytes(path, "[Other]\nk=v\n");
  std::atomic<bool> held{false};
  std::atomic<bool> done{false};
  std::thread holder([&] {
    SaveTurn turn;
    uint32_t error = 0;
    ASSERT_TRUE(turn.Take(path.c_str(), 1000, &error));
    held = true;
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  while (!held) std::this_thread::yield();
  PlatformSetWaitsForTesting(200, 0);
  MP4VSettings record{};
  const Clock::time_point start = Clock::now();
  uint32_t error = 0;
  EXPECT_FALSE(MP4VConfigTransfer("save", path.c_str(), &record, &error));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
  PlatformSetWaitsForTesting(0, 0);
  done = true;
  holder.join();
  EXPECT_EQ(error, PlatformErrorCode(ModuleFailure::kTurnTimedOut));
  EXPECT_EQ(ReadBytes(path), "[Other]\nk=v\n");
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
}

// The count after "n=" in `text`, or -1.
int Count(const std::string& text) {
  const size_t at = text.find("n=");
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 2);
}

// Many threads each add one to a count in the file, many times, by reading
// it in their turn and writing it back: no addition is lost. Meanwhile
// others save records to the same file and to other files of the folder;
// every save succeeds.
TEST(ConcurrentSaves, UpdatesInTurnsLoseNothing) {
  ScratchDir dir;
  const std::string path = dir.File("count.cfg");
  WriteBytes(path, "[Counter]\nn=0\n");
  constexpr int kCounters = 4;
#ifdef _WIN32
  constexpr int kAdds = 16;  // every file call is slower under Wine
#else
  constexpr int kAdds = 40;
#endif
  constexpr int kSavers = 2;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kCounters; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kAdds; ++i) {
        const bool ok = PlatformUpdateFile(
            path.c_str(),
            [](const std::string& before, bool exists, std::string* after, uint32_t*) {
              const int n = exists ? Count(before) : -1;
              const size_t at = before.find("n=");
              const size_t end = before.find('\n', at);
              *after = before.substr(0, at) + "n=" + std::to_string(n + 1) + before.substr(end);
              return FileDecision::kWrite;
            });
        if (!ok) ++failures;
      }
    });
  }
  for (int t = 0; t < kSavers; ++t) {
    threads.emplace_back([&, t] {
      MP4VSettings record{};
      for (int i = 0; i < kAdds / 2; ++i) {
        record.width = t * 1000 + i;
        if (MP4VConfigSave(&record, path.c_str()) != MP4V_STATUS_OK) ++failures;
        const std::string other = dir.File("other" + std::to_string(t) + ".cfg");
        if (MP4VConfigSave(&record, other.c_str()) != MP4V_STATUS_OK) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  const std::string text = ReadBytes(path);
  EXPECT_EQ(Count(text), kCounters * kAdds) << text;
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u + kSavers);
}

}  // namespace
