// Saves of one file take turns: from several threads (each as a process of
// its own would: the turn is the system's lock, not one of this process),
// with a bounded wait, and every update builds on the one before.
#include "platform/save_turn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "api/requests.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/replacement.h"
#include "support/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using testutil::ReadBytes;
using testutil::ScratchDir;
using testutil::WriteBytes;

// Waits, at most 10 seconds, until a holder thread says whether it holds
// the turn (1) or not (-1): true when it does.
bool WaitUntilHeld(const std::atomic<int>& held) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (held == 0 && Clock::now() < deadline) std::this_thread::yield();
  return held == 1;
}

// Another save holds the turn: a save waits for it and goes on as soon as
// it is given back, with the file as the holder left it.
TEST(ConcurrentSaves, ASaveWaitsForTheTurnAndGoesOnWhenItIsGiven) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  WriteBytes(path, "[Other]\nk=v\n");
  std::atomic<int> held{0};  // 1 held, -1 not
  Clock::time_point released;
  std::thread holder([&] {
    SaveTurn turn;
    uint32_t error = 0;
    const bool took = turn.Take(path.c_str(), 1000, &error) && turn.held();
    held = took ? 1 : -1;
    if (!took) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // What the holder's own save wrote.
    WriteBytes(path, "[Other]\nk=holder\n");
    released = Clock::now();
    turn.Release();
  });
  if (!WaitUntilHeld(held)) {
    holder.join();
    FAIL() << "the holder got no turn";
  }
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
  std::atomic<int> held{0};  // 1 held, -1 not
  std::atomic<bool> done{false};
  std::thread holder([&] {
    SaveTurn turn;
    uint32_t error = 0;
    const bool took = turn.Take(path.c_str(), 1000, &error) && turn.held();
    held = took ? 1 : -1;
    if (!took) return;
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  if (!WaitUntilHeld(held)) {
    holder.join();
    FAIL() << "the holder got no turn";
  }
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

// The count after "<key>=" in `text`, or -1.
int CountOf(const std::string& text, const std::string& key) {
  const size_t at = text.find("\n" + key + "=");
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + key.size() + 2);
}

// Adds one to the count of `key` in the file `path` (a line "<key>=N",
// added when missing), in one update.
bool AddOne(const std::string& path, const std::string& key) {
  return PlatformUpdateFile(
      path.c_str(),
      [&](const std::string& before, bool, std::string* after, uint32_t*) {
        const std::string text = before.empty() ? std::string("[Counts]\n") : before;
        const int n = CountOf(text, key);
        if (n < 0) {
          *after = text + key + "=1\n";
        } else {
          const size_t at = text.find("\n" + key + "=") + 1;
          const size_t end = text.find('\n', at);
          *after = text.substr(0, at) + key + "=" + std::to_string(n + 1) + text.substr(end);
        }
        return FileDecision::kWrite;
      });
}

// Saves of different files of one folder never wait for each other: 16
// savers, each of its own file, every flush slowed as on a slow disk, and a
// wait for the turn far shorter than all their saves together.
TEST(ConcurrentSaves, SavesOfOtherFilesNeverWait) {
  ScratchDir dir;
  constexpr int kSavers = 16;
  constexpr int kRounds = 3;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kSavers; ++t) {
    threads.emplace_back([&, t] {
      PlatformSetSyncDelayForTesting(10);
      PlatformSetWaitsForTesting(100, 0);
      const std::string path = dir.File("host" + std::to_string(t) + ".cfg");
      for (int i = 0; i < kRounds; ++i) {
        if (!AddOne(path, "n")) ++failures;
      }
      PlatformSetSyncDelayForTesting(0);
      PlatformSetWaitsForTesting(0, 0);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  for (int t = 0; t < kSavers; ++t) {
    EXPECT_EQ(CountOf(ReadBytes(dir.File("host" + std::to_string(t) + ".cfg")), "n"), kRounds);
  }
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), static_cast<size_t>(kSavers));
}

#ifndef _WIN32

// Waits up to `seconds` for the child `pid`; kills it when it takes longer.
// Its exit status, or -1 when it did not exit normally in time.
int WaitForChild(pid_t pid, int seconds) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Gives up root's rights for good (in a child process): the user and group
// "nobody" (65534). Without root nothing changes.
bool BecomeAnotherUser() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 &&
         setresuid(65534, 65534, 65534) == 0;
}

// A folder that may be written but not read (mode 0300), owned by the user
// BecomeAnotherUser makes (root would read it all the same): 16 writers,
// each adding to a count of its own in one file, 20 rounds. No addition is
// lost and no save fails.
TEST(ConcurrentSaves, AFolderThatCannotBeReadStillTakesTurns) {
  ScratchDir dir;
  const std::string folder = dir.File("w");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chmod(folder.c_str(), 0300), 0);
  const std::string path = folder + "/counts.cfg";
  constexpr int kWriters = 16;
  constexpr int kRounds = 20;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!BecomeAnotherUser()) _exit(100);
    // The premise: this process may not list the folder.
    if (access(folder.c_str(), R_OK) == 0) _exit(101);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
      threads.emplace_back([&, w] {
        for (int i = 0; i < kRounds; ++i) {
          if (!AddOne(path, "w" + std::to_string(w))) ++failures;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    if (failures != 0) _exit(102);
    const std::string text = ReadBytes(path);
    int lost = 0;
    for (int w = 0; w < kWriters; ++w) lost += kRounds - CountOf(text, "w" + std::to_string(w));
    _exit(lost == 0 ? 0 : 103);
  }
  const int status = WaitForChild(pid, 60);
  chmod(folder.c_str(), 0700);
  EXPECT_EQ(status, 0) << "100: could not become another user; 101: the folder could be "
                          "read; 102: a save failed; 103: an addition was lost; -1: "
                          "killed or no end in time";
  EXPECT_EQ(testutil::ListDir(folder).size(), 1u);
}

// A process that may only read a file cannot hold its turn, so it never
// keeps a save of that file waiting.
TEST(ConcurrentSaves, AReaderCannotHoldTheTurn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run the reader as another user";
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  WriteBytes(path, "[Other]\nk=v\n");
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    if (!BecomeAnotherUser()) _exit(100);
    SaveTurn turn;
    uint32_t error = 0;
    const bool took = turn.Take(path.c_str(), 200, &error);
    const char held = turn.held() ? 'h' : (took ? 'n' : 'f');
    if (write(ready[1], &held, 1) != 1) _exit(101);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    _exit(0);
  }
  close(ready[1]);
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  close(ready[0]);
  EXPECT_EQ(held, 'n');
  PlatformSetWaitsForTesting(300, 0);
  EXPECT_TRUE(AddOne(path, "n"));
  PlatformSetWaitsForTesting(0, 0);
  EXPECT_EQ(WaitForChild(pid, 10), 0);
}

// A child forked (without exec) while a save holds the turn keeps no part
// of it: once the save gives it back, saves of that file and of others in
// the folder go on while the child still lives.
TEST(ConcurrentSaves, AForkedChildKeepsNoTurn) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  WriteBytes(path, "[Counts]\nn=0\n");
  pid_t pid = -1;
  {
    SaveTurn turn;
    uint32_t error = 0;
    ASSERT_TRUE(turn.Take(path.c_str(), 1000, &error));
    ASSERT_TRUE(turn.held());
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      _exit(0);
    }
  }
  PlatformSetWaitsForTesting(300, 0);
  EXPECT_TRUE(AddOne(path, "n"));
  EXPECT_TRUE(AddOne(dir.File("other.cfg"), "n"));
  PlatformSetWaitsForTesting(0, 0);
  EXPECT_EQ(kill(pid, 0), 0) << "the child ended before the saves: they proved nothing";
  EXPECT_EQ(WaitForChild(pid, 10), 0);
  EXPECT_EQ(CountOf(ReadBytes(path), "n"), 1);
}

// Another program changes the file before each of the first attempts' last
// look, so the update decides again each time, and then writes into the
// replaced file after the last look of attempt `late_at` (counted from 1).
// Before the last attempt, the update builds on that write; at the last one,
// it says that its text is in place without that write, with a code of its
// own, never that the file is as the others left it.
TEST(ConcurrentSaves, ALateWriteIsBuiltOnOrReported) {
  struct Case {
    unsigned late_at;
    bool ok;
  };
  for (const Case& c : {Case{kUpdateAttempts - 1, true}, Case{kUpdateAttempts, false}}) {
    SCOPED_TRACE(c.late_at);
    ScratchDir dir;
    const std::string path = dir.File("enc.cfg");
    WriteBytes(path, "[Counts]\n");
    struct Writer {
      unsigned late_at;
      unsigned looks = 0;
      bool failed = false;
    } writer{c.late_at};
    PlatformSetReplaceHookForTesting(
        [](const char* target, ReplaceMoment moment, void* context) {
          Writer& w = *static_cast<Writer*>(context);
          if (moment == ReplaceMoment::kBeforeLastLook) ++w.looks;
          std::string line;
          if (moment == ReplaceMoment::kBeforeLastLook && w.looks < w.late_at) {
            line = "changed" + std::to_string(w.looks) + "=1\n";
          } else if (moment == ReplaceMoment::kAfterLastLook && w.looks == w.late_at) {
            line = "late=1\n";
          } else {
            return;
          }
          // In place, as another program writes through a descriptor of its own.
          const int fd = open(target, O_WRONLY | O_APPEND);
          if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            w.failed = true;
          }
          if (fd >= 0) close(fd);
        },
        &writer);
    uint32_t error = 0;
    const bool ok = PlatformUpdateFile(
        path.c_str(),
        [](const std::string& before, bool, std::string* after, uint32_t*) {
          *after = before + "own=1\n";
          return FileDecision::kWrite;
        },
        &error);
    PlatformSetReplaceHookForTesting(nullptr, nullptr);
    EXPECT_FALSE(writer.failed);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(error, c.ok ? 0u : static_cast<uint32_t>(ECANCELED));
    const std::string text = ReadBytes(path);
    for (unsigned i = 1; i < c.late_at; ++i) {
      EXPECT_NE(text.find("changed" + std::to_string(i) + "=1\n"), std::string::npos) << text;
    }
    EXPECT_EQ(text.find("late=1") != std::string::npos, c.ok) << text;
    EXPECT_EQ(text.substr(text.size() - 6), "own=1\n") << text;
    EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u) << text;
  }
}

// A save looks through its folder for temporary files killed saves left,
// without marking the folder read where it owns the folder: the mark would
// be one more change for the save's sync of the folder, on every save.
TEST(ConcurrentSaves, ASaveLeavesTheFolderItOwnsUnread) {
  ScratchDir dir;
  const std::string path = dir.File("enc.cfg");
  WriteBytes(path, "[Other]\nk=v\n");
  auto make_old = [&] {
    const struct timespec times[2] = {{946684800, 0}, {0, UTIME_OMIT}};  // 2000-01-01
    return utimensat(AT_FDCWD, dir.path().c_str(), times, 0) == 0;
  };
  auto read_mark = [&] {
    struct stat status;
    return stat(dir.path().c_str(), &status) == 0 ? status.st_atim.tv_sec : -1;
  };
  ASSERT_TRUE(make_old());
  ASSERT_GE(testutil::ListDir(dir.path()).size(), 1u);
  if (read_mark() == 946684800) {
    GTEST_SKIP() << "this file system keeps no read times of folders (mounted noatime)";
  }
  ASSERT_TRUE(make_old());
  EXPECT_TRUE(AddOne(path, "n"));
  EXPECT_EQ(read_mark(), 946684800);
  EXPECT_NE(ReadBytes(path).find("n=1"), std::string::npos) << ReadBytes(path);
}

// A save killed while it flushes leaves its temporary file; the next save
// of a file of that folder removes it, and leaves alone the temporary file
// of a save that still runs, and other files.
TEST(ConcurrentSaves, AKilledSavesTemporaryFileIsRemovedByTheNext) {
  ScratchDir dir;
  auto stuck_save = [&](const std::string& name) {
    const pid_t pid = fork();
    if (pid == 0) {
      PlatformSetSyncDelayForTesting(20000);
      AddOne(dir.File(name), "n");
      _exit(0);
    }
    return pid;
  };
  auto temporaries = [&] {
    std::vector<std::string> found;
    for (const std::string& name : testutil::ListDir(dir.path())) {
      if (IsTemporaryName(name.c_str())) found.push_back(name);
    }
    return found;
  };
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  auto wait_for = [&](size_t count) {
    while (temporaries().size() < count && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return temporaries();
  };
  const pid_t running = stuck_save("b.cfg");
  ASSERT_GE(running, 0);
  const std::vector<std::string> kept = wait_for(1);
  const pid_t killed = stuck_save("a.cfg");
  ASSERT_GE(killed, 0);
  const std::vector<std::string> both = wait_for(2);
  kill(killed, SIGKILL);
  EXPECT_EQ(WaitForChild(killed, 10), -1);
  ASSERT_EQ(kept.size(), 1u);
  ASSERT_EQ(both.size(), 2u);
  WriteBytes(dir.File("~mp4vnot-ours.tmp"), "keep");
  EXPECT_TRUE(AddOne(dir.File("c.cfg"), "n"));
  const std::vector<std::string> after = temporaries();
  kill(running, SIGKILL);
  WaitForChild(running, 10);
  EXPECT_EQ(after, kept);
  EXPECT_TRUE(testutil::Exists(dir.File("~mp4vnot-ours.tmp")));
}

#endif  // _WIN32

}  // namespace
