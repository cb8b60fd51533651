// Two copies of a host, each a process of its own, change their own setting
// of one file in a loop through the update request (host_update_child): at
// the end the file holds the last change of both, and each copy checked in
// every round that what the update handed back held its own change and the
// other's latest value known to the file. Both begin at one signal and pause
// between load and update, so that the other's saves land in between: the
// test fails when neither copy ever met a change of the other's it had not
// loaded, since then it proved nothing.
//
// MP4V_RACE_ROUNDS in the environment sets the rounds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/module_library.h"
#include "mp4v_config.h"
#include "support/child_process.h"
#include "support/test_util.h"

namespace {

int TwoHostsRounds() {
  const char* text = std::getenv("MP4V_RACE_ROUNDS");
  const int rounds = text != nullptr ? std::atoi(text) : 0;
#ifdef _WIN32
  return rounds > 0 ? rounds : 50;
#else
  return rounds > 0 ? rounds : 200;
#endif
}

TEST(TwoHostsTest, TwoHostsKeepEachOthersChanges) {
  const std::string child = testutil::ProgramBesideTests("host_update_child");
  ASSERT_TRUE(testutil::Exists(child)) << child << " is built beside the tests";
  testutil::ScratchDir dir;
  const std::string path = dir.File("shared.cfg");
  testutil::WriteBytes(path, "[Job]\nname = night\n[MP4V Settings]\nquality = 0\n");
  const int rounds = TwoHostsRounds();
  testutil::ChildProcess a;
  testutil::ChildProcess b;
  const std::string go = dir.File("go");
  ASSERT_TRUE(a.Start(child, {path, "a", std::to_string(rounds), go, dir.File("a.count")}));
  ASSERT_TRUE(b.Start(child, {path, "b", std::to_string(rounds), go, dir.File("b.count")}));
  testutil::WriteBytes(go, "");
  ASSERT_EQ(a.Wait(), 0);
  ASSERT_EQ(b.Wait(), 0);
  const int met_a = std::atoi(testutil::ReadBytes(dir.File("a.count")).c_str());
  const int met_b = std::atoi(testutil::ReadBytes(dir.File("b.count")).c_str());
  std::printf("rounds in which an update met the other's unseen change: a %d, b %d of %d\n",
              met_a, met_b, rounds);
  EXPECT_GT(met_a + met_b, 0) << "the two copies never overlapped";
  mp4v_host::ModuleLibrary module;
  std::string error;
  ASSERT_TRUE(module.Open(std::string(), &error)) << error;
  MP4VSettings record;
  std::memset(&record, 0, sizeof record);
  ASSERT_EQ(module.load()(&record, path.c_str()), MP4V_STATUS_OK);
  EXPECT_EQ(record.quality, rounds) << "host a's last change";
  EXPECT_EQ(record.max_bitrate, rounds) << "host b's last change";
  const std::string text = testutil::ReadBytes(path);
  EXPECT_LT(text.find("[Job]"), text.find("name = night")) << text;
  EXPECT_NE(text.find("name = night"), std::string::npos) << text;
}

}  // namespace
