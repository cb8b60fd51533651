// Several writers of one settings file at once, each a program of its own
// (writer_child, mp4vcfg): the module's saves, mp4vcfg set, another program
// that keeps its own line in the file, and readers. Nothing any of them
// wrote is lost, no save fails because another was running, and a reader
// always finds a whole file.
//
// MP4V_RACE_ROUNDS in the environment sets how many rounds the race runs
// (and, times 15, how many saves the readers watch); the defaults keep the
// test short enough for every run of the suite.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/module_library.h"
#include "host/settings_fields.h"
#include "host/writers.h"
#include "mp4v_config.h"
#include "platform/replacement.h"
#include "support/child_process.h"
#include "support/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace {

using testutil::ChildProcess;
using testutil::ReadBytes;
using testutil::ScratchDir;

int Rounds(int fallback) {
  const char* text = std::getenv("MP4V_RACE_ROUNDS");
  const int rounds = text != nullptr ? std::atoi(text) : 0;
  return rounds > 0 ? rounds : fallback;
}

#ifdef _WIN32
constexpr int kDefaultRounds = 4;  // each Windows process starts slowly under Wine
#else
constexpr int kDefaultRounds = 25;
#endif

// How many rounds of the race may lose a write. None, where a save swaps the
// files and looks at the one it displaced. Windows replaces without a look at
// what it displaces: a file another writer (one that takes no turn) puts in
// place between a writer's last look and its MoveFileEx is lost (the
// module's window, and the other program's own). Measured under 64-bit Wine
// with the turn per file: 0 of 52 rounds (12 + 40, MP4V_RACE_ROUNDS); before
// it, about one round in a hundred; without the module's last look, one in
// five (which the cases of SaveKeepsWhatLandedMeanwhile catch on every run).
// So one round per 25 begun: at 1 in 100, a run of the 4 default rounds
// fails by chance about once in 1,700.
int WindowLosses(int rounds) {
#ifdef _WIN32
  return (rounds + 24) / 25;
#else
  (void)rounds;
  return 0;
#endif
}

uint32_t LastError() {
#ifdef _WIN32
  return GetLastError();
#else
  return static_cast<uint32_t>(errno);
#endif
}

class WritersTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(module_.Open(std::string(), &error)) << error;
  }
  void SetUp() override {
    ASSERT_NE(module_.save(), nullptr);
    ASSERT_TRUE(testutil::Exists(child_)) << child_ << " is built beside the tests";
  }

  void Race(const std::function<std::vector<std::string>(const std::string&, int)>& peer,
            int rounds, int allowed);

  static mp4v_host::ModuleLibrary module_;
  const std::string child_ = testutil::ProgramBesideTests("writer_child");
  const std::string mp4vcfg_ = testutil::ProgramBesideTests("mp4vcfg");
};

mp4v_host::ModuleLibrary WritersTest::module_;

// The names in `dir` other than `keep`: temporary files a writer left.
std::vector<std::string> LeftBehind(const ScratchDir& dir, const std::vector<std::string>& keep) {
  std::vector<std::string> left;
  for (const std::string& name : testutil::ListDir(dir.path())) {
    bool kept = false;
    for (const std::string& k : keep) kept = kept || name == k;
    if (!kept) left.push_back(name);
  }
  return left;
}

// Each round: module writers saving whole records, mp4vcfg set writers
// changing one setting each, and another program restamping its own line
// (replacing the file in one step in even rounds, writing its line in place
// in odd ones), all started at once on one file. At the end every writer
// succeeded, no temporary file is left, the file holds the other program's
// new stamp and every set's value, and the rest of it is one module writer's
// record, whole (on Windows, but for the rare round that WindowLosses
// allows).
//
// `peer` gives the other program and its arguments for a round and the stamp
// it writes; `allowed` how many rounds may lose a write.
void WritersTest::Race(
    const std::function<std::vector<std::string>(const std::string& file, int round)>& peer,
    int rounds, int allowed) {
  ASSERT_TRUE(testutil::Exists(mp4vcfg_)) << mp4vcfg_ << " is built beside the tests";
  constexpr int kModuleWriters = 2;
  constexpr int kSetWriters = 3;
  ScratchDir dir;
  const std::string file = dir.File("shared.cfg");
  int lost_rounds = 0;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    testutil::WriteBytes(file, writers::PeerSection(0) +
                                   "[MP4V Settings]\nwidth = 1\nheight = 1\n");
    std::vector<std::unique_ptr<ChildProcess>> children;
    std::vector<std::string> what;
    auto start = [&](const std::string& program, const std::vector<std::string>& args) {
      children.push_back(std::make_unique<ChildProcess>());
      what.push_back(args[0] + " " + (args.size() > 3 ? args[3] : args.back()));
      ASSERT_TRUE(children.back()->Start(program, args)) << program;
    };
    for (int k = 0; k < kSetWriters; ++k) {
      start(mp4vcfg_, {"set", "--force", file,
                       std::string(writers::kSetKeys[k]) + "=" +
                           std::to_string(writers::SetValue(round, k))});
    }
    const std::vector<std::string> other = peer(file, round);
    start(other[0], std::vector<std::string>(other.begin() + 1, other.end()));
    for (int j = 0; j < kModuleWriters; ++j) {
      start(child_, {"save", file, std::to_string(round), std::to_string(j),
                     std::to_string(kSetWriters)});
    }
    for (size_t i = 0; i < children.size(); ++i) {
      EXPECT_EQ(children[i]->Wait(), 0) << what[i];
    }
    // What the round lost of what its writers wrote, if anything.
    const std::string text = ReadBytes(file);
    std::string lost_what;
    if (text.find(writers::PeerLine(round + 1)) == std::string::npos) {
      lost_what += " the other program's stamp;";
    }
    MP4VSettings loaded;
    std::memset(&loaded, 0, sizeof loaded);
    ASSERT_EQ(module_.load()(&loaded, file.c_str()), MP4V_STATUS_OK);
    const mp4v_host::SettingKey* keys = mp4v_host::SettingKeys();
    for (int k = 0; k < kSetWriters; ++k) {
      const mp4v_host::SettingKey& key = *mp4v_host::FindSettingKey(writers::kSetKeys[k]);
      if (mp4v_host::FormatField(loaded, key) != std::to_string(writers::SetValue(round, k))) {
        lost_what += std::string(" the set of ") + key.name + ";";
      }
    }
    int whole = 0;
    for (int j = 0; j < kModuleWriters; ++j) {
      const MP4VSettings record = writers::WriterRecord(round, j, kSetWriters);
      bool same = true;
      for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
        same = same && mp4v_host::SameFieldBytes(loaded, record, keys[i]);
      }
      whole += same;
    }
    if (whole != 1) lost_what += " every module writer's whole record;";
    if (!lost_what.empty()) {
      ++lost_rounds;
      std::printf("round %d lost%s the file:\n%s\n", round, lost_what.c_str(), text.c_str());
    }
    EXPECT_EQ(LeftBehind(dir, {"shared.cfg"}), std::vector<std::string>());
    if (::testing::Test::HasFailure() || lost_rounds > allowed) break;
  }
  EXPECT_LE(lost_rounds, allowed) << lost_rounds << " of " << rounds << " rounds lost a write";
  std::printf("%d rounds of %d module writers, %d set writers and another program\n", rounds,
              kModuleWriters, kSetWriters);
}

TEST_F(WritersTest, ModuleSavesSetsAndAnotherProgramLoseNothing) {
  const int rounds = Rounds(kDefaultRounds);
  Race(
      [&](const std::string& file, int round) {
        return std::vector<std::string>{child_,
                                        round % 2 == 0 ? "peer-replace" : "peer-in-place", file,
                                        std::to_string(round + 1)};
      },
      rounds, WindowLosses(rounds));
}

// The peer of the examples, which takes the module's turn as the README
// tells other programs to (the lock on Linux, the named mutex on Windows),
// beside module saves and mp4vcfg sets: nothing is lost on either side, in
// any round, on either system. This race notices a peer that takes another
// turn only now and then (under 64-bit Wine, a peer whose mutex name was not
// in capitals failed one of two runs of 12 rounds); the next test notices
// it every time.
TEST_F(WritersTest, TheExamplePeerAndTheModuleLoseNothing) {
  const std::string peer = testutil::ProgramBesideTests("example_peer");
  ASSERT_TRUE(testutil::Exists(peer)) << peer << " is built beside the tests";
  Race(
      [&](const std::string& file, int round) {
        return std::vector<std::string>{peer, file, std::to_string(round + 1)};
      },
      Rounds(kDefaultRounds), 0);
}

// The peer of the examples waits while a module save holds the turn of the
// file, and writes once that save's process is gone: so it takes the very
// turn the module takes (on Windows, a mutex of the same name), for a file
// that is there and for one that is not yet (whose turn is named for its
// folder and its name).
TEST_F(WritersTest, TheExamplePeerWaitsForTheModulesTurn) {
  const std::string peer = testutil::ProgramBesideTests("example_peer");
  ASSERT_TRUE(testutil::Exists(peer)) << peer << " is built beside the tests";
  for (const bool file_exists : {true, false}) {
    SCOPED_TRACE(file_exists ? "the file exists" : "no file yet");
    ScratchDir dir;
    const std::string file = dir.File("enc.cfg");
    const std::string marker = dir.File("held");
    if (file_exists) testutil::WriteBytes(file, "[MP4V Settings]\nwidth = 1\n");
    ChildProcess holder;
    ASSERT_TRUE(holder.Start(child_, {"hold-turn", file, marker}));
    ASSERT_TRUE(testutil::WaitForFile(marker, 30000)) << "the holder took no turn";
    ChildProcess restamp;
    ASSERT_TRUE(restamp.Start(peer, {file, "77"}));
    // Long enough for the peer to start (under Wine too) and write, were it
    // not waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_EQ(ReadBytes(file).find(writers::PeerLine(77)), std::string::npos)
        << "the peer wrote while a save held the turn";
    holder.Kill();
    holder.Wait();
    EXPECT_EQ(restamp.Wait(), 0);
    EXPECT_NE(ReadBytes(file).find(writers::PeerLine(77)), std::string::npos);
    if (file_exists) {
      EXPECT_NE(ReadBytes(file).find("width = 1"), std::string::npos);
    }
  }
}

// Eight mp4vcfg set of eight different settings, started at once on one
// file (as `xargs -P8` would): every one of them ends up in the file.
TEST_F(WritersTest, SetsOfDifferentSettingsAtOnceAllLand) {
  ASSERT_TRUE(testutil::Exists(mp4vcfg_)) << mp4vcfg_ << " is built beside the tests";
  ScratchDir dir;
  const std::string file = dir.File("sets.cfg");
  testutil::WriteBytes(file, "# shared\n[MP4V Settings]\nwidth = 1\n");
  ChildProcess sets[writers::kMaxSetWriters];
  for (int k = 0; k < writers::kMaxSetWriters; ++k) {
    ASSERT_TRUE(sets[k].Start(mp4vcfg_, {"set", "--force", file,
                                         std::string(writers::kSetKeys[k]) + "=" +
                                                        std::to_string(writers::SetValue(7, k))}));
  }
  for (ChildProcess& set : sets) EXPECT_EQ(set.Wait(), 0);
  MP4VSettings loaded{};
  ASSERT_EQ(module_.load()(&loaded, file.c_str()), MP4V_STATUS_OK);
  for (int k = 0; k < writers::kMaxSetWriters; ++k) {
    const mp4v_host::SettingKey& key = *mp4v_host::FindSettingKey(writers::kSetKeys[k]);
    EXPECT_EQ(mp4v_host::FormatField(loaded, key), std::to_string(writers::SetValue(7, k)))
        << key.name;
  }
  EXPECT_NE(ReadBytes(file).find("# shared"), std::string::npos);
  EXPECT_EQ(LeftBehind(dir, {"sets.cfg"}), std::vector<std::string>());
}

// One program saves record after record while others look at the name and
// read the file as fast as they can: two load it through the module, and
// others read it as a program that knows nothing of the module would, the
// way the README tells them (on Linux a plain fopen; on Windows a plain
// fopen tried again for a while, and an open that shares deletion). Every
// look finds a file, every load and every read gets one whole file, and no
// save fails. Another program's lines come first, 256 KB of them, so that
// a load reads the file in several pieces up to the settings at its end.
TEST_F(WritersTest, ReadersAlwaysFindAWholeFile) {
  ScratchDir dir;
  const std::string file = dir.File("watched.cfg");
  const std::string stop = dir.File("stop");
  std::string others = "[Recent files]\n";
  for (int i = 0; others.size() < 256 * 1024; ++i) {
    others += "file" + std::to_string(i) + " = C:\\videos\\take " + std::to_string(i) + ".avi\n";
  }
  testutil::WriteBytes(file, others);
  const MP4VSettings first = writers::LoopRecord(0);
  ASSERT_EQ(module_.save()(&first, file.c_str()), MP4V_STATUS_OK);
  // On Windows these readers pause between reads, as a program reading a
  // settings file now and then does: while a reader has the file open, the
  // system refuses to replace it, and readers that keep it open almost
  // without a break make a save fail after its sharing wait (as the README
  // says).
#ifdef _WIN32
  const char* const ways[] = {"retry", "share"};
  const char* const pauses[] = {"20", "20"};
#else
  const char* const ways[] = {"plain"};
  const char* const pauses[] = {"0"};
#endif
  ChildProcess other_readers[sizeof ways / sizeof ways[0]];
  for (size_t i = 0; i < sizeof ways / sizeof ways[0]; ++i) {
    ASSERT_TRUE(other_readers[i].Start(child_, {"read-loop", file, stop, ways[i], pauses[i]}));
  }
  ChildProcess readers[2];
  for (ChildProcess& reader : readers) {
    ASSERT_TRUE(reader.Start(child_, {"load-loop", file, stop}));
  }
  ChildProcess saver;
  const int saves = Rounds(kDefaultRounds) * 15;
  ASSERT_TRUE(saver.Start(child_, {"save-loop", file, std::to_string(saves)}));
  EXPECT_EQ(saver.Wait(), 0) << "a save failed";
  testutil::WriteBytes(stop, "");
  for (ChildProcess& reader : readers) EXPECT_EQ(reader.Wait(), 0) << "a reader found no whole file";
  for (size_t i = 0; i < sizeof ways / sizeof ways[0]; ++i) {
    EXPECT_EQ(other_readers[i].Wait(), 0) << "another program's read (" << ways[i] << ") failed";
  }
  EXPECT_EQ(LeftBehind(dir, {"watched.cfg", "stop"}), std::vector<std::string>());
}

// A save's turn dies with the process that holds it: after that process is
// killed, the next save goes ahead at once.
TEST_F(WritersTest, ATurnDiesWithItsProcess) {
  ScratchDir dir;
  const std::string file = dir.File("enc.cfg");
  const std::string marker = dir.File("held");
  testutil::WriteBytes(file, "[Other]\nkey=value\n");
  ChildProcess holder;
  ASSERT_TRUE(holder.Start(child_, {"hold-turn", file, marker}));
  ASSERT_TRUE(testutil::WaitForFile(marker, 30000)) << "the holder took no turn";
  holder.Kill();
  EXPECT_EQ(holder.Wait(), -1);
  MP4VSettings record{};
  record.width = 720;
  EXPECT_EQ(module_.save()(&record, file.c_str()), MP4V_STATUS_OK) << LastError();
  MP4VSettings back{};
  module_.load()(&back, file.c_str());
  EXPECT_EQ(back.width, 720);
  EXPECT_NE(ReadBytes(file).find("[Other]"), std::string::npos);
  EXPECT_NE(ReadBytes(file).find("key=value"), std::string::npos);
}

#ifdef _WIN32
// Another program holds the file open without letting others replace it: a
// save waits for it, up to a bound; past the bound it fails with
// ERROR_SHARING_VIOLATION and leaves the file as it was.
TEST_F(WritersTest, ASaveWaitsOutAProgramHoldingTheFile) {
  const struct {
    int hold_milliseconds;
    int32_t result;
  } cases[] = {{300, MP4V_STATUS_OK}, {3500, MP4V_STATUS_FAILED}};
  for (const auto& c : cases) {
    SCOPED_TRACE("held for " + std::to_string(c.hold_milliseconds) + " ms");
    ScratchDir dir;
    const std::string file = dir.File("enc.cfg");
    const std::string marker = dir.File("held");
    const std::string before = "[Other]\nkey=value\n";
    testutil::WriteBytes(file, before);
    ChildProcess holder;
    ASSERT_TRUE(holder.Start(child_, {"hold-open", file, marker,
                                      std::to_string(c.hold_milliseconds)}));
    ASSERT_TRUE(testutil::WaitForFile(marker, 30000));
    MP4VSettings record{};
    record.width = 720;
    SetLastError(0);
    const int32_t result = module_.save()(&record, file.c_str());
    const uint32_t reason = GetLastError();
    EXPECT_EQ(result, c.result) << "reason " << reason;
    EXPECT_EQ(holder.Wait(), 0);
    if (c.result == MP4V_STATUS_OK) {
      MP4VSettings back{};
      module_.load()(&back, file.c_str());
      EXPECT_EQ(back.width, 720);
    } else {
      EXPECT_EQ(reason, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
      EXPECT_EQ(ReadBytes(file), before);
    }
    EXPECT_EQ(LeftBehind(dir, {"enc.cfg", "held"}), std::vector<std::string>());
  }
}

// A save killed while its temporary file exists (written, closed, paused
// before its last look, then TerminateProcess) leaves that file; the next save of a file of that
// folder removes it, and leaves the temporary file of a save that still
// runs, one of that name that another live program holds open, and other
// files.
TEST_F(WritersTest, AKilledSavesTemporaryFileIsRemovedByTheNext) {
  ScratchDir dir;
  auto temporaries = [&] {
    std::vector<std::string> found;
    for (const std::string& name : testutil::ListDir(dir.path())) {
      if (IsTemporaryName(name.c_str())) found.push_back(name);
    }
    return found;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto wait_for = [&](size_t count) {
    while (temporaries().size() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return temporaries();
  };
  ChildProcess running, holder, killed;
  ASSERT_TRUE(running.Start(child_, {"stuck-save", dir.File("b.cfg")}));
  ASSERT_EQ(wait_for(1).size(), 1u) << "the running save made no temporary file";
  const std::string held = "~mp4v0123456789ab.tmp";
  testutil::WriteBytes(dir.File(held), "another program's\n");
  ASSERT_TRUE(holder.Start(child_, {"hold-open", dir.File(held), dir.File("held"), "30000"}));
  ASSERT_TRUE(testutil::WaitForFile(dir.File("held"), 30000));
  const std::vector<std::string> kept = temporaries();
  ASSERT_EQ(kept.size(), 2u);
  ASSERT_TRUE(killed.Start(child_, {"stuck-save", dir.File("a.cfg")}));
  ASSERT_EQ(wait_for(3).size(), 3u) << "the save to be killed made no temporary file";
  killed.Kill();
  EXPECT_EQ(killed.Wait(), -1);
  EXPECT_EQ(temporaries().size(), 3u) << "a killed save's temporary file stays until the next";
  testutil::WriteBytes(dir.File("~mp4vnot-ours.tmp"), "keep\n");
  MP4VSettings record{};
  record.width = 720;
  EXPECT_EQ(module_.save()(&record, dir.File("c.cfg").c_str()), MP4V_STATUS_OK) << LastError();
  EXPECT_EQ(temporaries(), kept);
  EXPECT_TRUE(testutil::Exists(dir.File("~mp4vnot-ours.tmp")));
  running.Kill();
  holder.Kill();
  running.Wait();
  holder.Wait();
}
#endif

}  // namespace
