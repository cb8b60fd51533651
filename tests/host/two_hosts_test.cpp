// Two copies of a host, each a process of its own, change their own setting
// of one file in a loop through the update request (host_update_child): at
// the end the file holds the last change of both, and each copy checked in
// every round that what the update handed back held its own change and the
// other's latest value known to the file.
//
// MP4V_RACE_ROUNDS in the environment sets the rounds.
#include <gtest/gtest.h>

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
  ASSERT_TRUE(a.Start(child, {path, "a", std::to_string(rounds)}));
  ASSERT_TRUE(b.Start(child, {path, "b", std::to_string(rounds)}));
  EXPECT_EQ(a.Wait(), 0);
  EXPECT_EQ(b.Wait(), 0);
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
