// The frame-rate rule that the settings pages and mp4vcfg share: which texts
// it accepts, the bits it stores, and that a stored rate is what a save and
// a load of it through the built module give back.
#include "host/frame_rate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "settings/frame_rate_snap.h"

#include "host/module_library.h"
#include "mp4v_config.h"
#include "support/test_util.h"

namespace {

using mp4v_host::FrameRateStatus;

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The bit patterns a load's snapping stores (24, 30 and 60 divided by 1.001).
constexpr uint64_t k23976 = kFrameRate23976Bits;
constexpr uint64_t k2997 = kFrameRate2997Bits;
constexpr uint64_t k5994 = kFrameRate5994Bits;

TEST(FrameRateRuleTest, TextsAndTheBitsTheyStore) {
  struct Case {
    const char* text;
    FrameRateStatus status;
    uint64_t bits;
  };
  const Case cases[] = {
      // Fractions, divided in double arithmetic, then snapped as a load does.
      {"30000/1001", FrameRateStatus::kOk, k2997},
      {"24000/1001", FrameRateStatus::kOk, k23976},
      {"60000/1001", FrameRateStatus::kOk, k5994},
      {"30000 / 1001", FrameRateStatus::kOk, k2997},
      {"-30000/-1001", FrameRateStatus::kOk, k2997},
      {"25/1", FrameRateStatus::kOk, Bits(25.0)},
      {"50/2", FrameRateStatus::kOk, Bits(25.0)},
      {"1/3", FrameRateStatus::kOk, Bits(1.0 / 3.0)},
      {"2.5e1/1", FrameRateStatus::kOk, Bits(25.0)},
      // Rates the load would snap are stored snapped.
      {"23.98", FrameRateStatus::kOk, k23976},
      {"23.97", FrameRateStatus::kOk, k23976},
      {"29.97", FrameRateStatus::kOk, k2997},
      {"29.979", FrameRateStatus::kOk, k2997},
      {"59.94", FrameRateStatus::kOk, k5994},
      {"23.99", FrameRateStatus::kOk, Bits(23.99)},
      {"29.96", FrameRateStatus::kOk, Bits(29.96)},
      {"25", FrameRateStatus::kOk, Bits(25.0)},
      {"+50", FrameRateStatus::kOk, Bits(50.0)},
      // The smallest rates a file holds as something other than 0.
      {"0.0000000001", FrameRateStatus::kOk, Bits(1e-10)},
      {"6e-11", FrameRateStatus::kOk, Bits(6e-11)},
      {"4e-11", FrameRateStatus::kTooSmall, 0},
      {"1e-11", FrameRateStatus::kTooSmall, 0},
      {"5e-324", FrameRateStatus::kTooSmall, 0},
      {"1e-11/1", FrameRateStatus::kTooSmall, 0},
      // Refused.
      {"0", FrameRateStatus::kNotPositive, 0},
      {"-0", FrameRateStatus::kNotPositive, 0},
      {"-1.5", FrameRateStatus::kNotPositive, 0},
      {"0/5", FrameRateStatus::kNotPositive, 0},
      {"-30000/1001", FrameRateStatus::kNotPositive, 0},
      {"1/0", FrameRateStatus::kOutOfRange, 0},
      {"1e308/1e-308", FrameRateStatus::kOutOfRange, 0},
      {"1e999", FrameRateStatus::kOutOfRange, 0},
      {"30000/", FrameRateStatus::kNotANumber, 0},
      {"/1001", FrameRateStatus::kNotANumber, 0},
      {"1/2/3", FrameRateStatus::kNotANumber, 0},
      {"inf", FrameRateStatus::kNotANumber, 0},
      {"nan/1", FrameRateStatus::kNotANumber, 0},
      {"29,97", FrameRateStatus::kNotANumber, 0},
      {"", FrameRateStatus::kNotANumber, 0},
  };
  for (const Case& c : cases) {
    double rate = -7;
    EXPECT_EQ(c.status, mp4v_host::ParseFrameRate(c.text, &rate)) << c.text;
    if (c.status == FrameRateStatus::kOk) {
      EXPECT_EQ(c.bits, Bits(rate)) << c.text;
    } else {
      EXPECT_EQ(-7, rate) << c.text << ": written although refused";
    }
  }
}

// Whatever the rule stores, a save writes and a load reads back bit for
// bit: the rule and the load do not disagree about any rate it accepts.
TEST(FrameRateRuleTest, AStoredRateIsWhatASaveAndALoadGiveBack) {
  mp4v_host::ModuleLibrary module;
  std::string error;
  ASSERT_TRUE(module.Open(std::string(), &error)) << error;
  auto save = reinterpret_cast<MP4VConfigSaveFn>(module.get_api()(MP4V_FUNC_SAVE));
  auto load = reinterpret_cast<MP4VConfigLoadFn>(module.get_api()(MP4V_FUNC_LOAD));
  ASSERT_NE(nullptr, save);
  ASSERT_NE(nullptr, load);
  testutil::ScratchDir dir;
  const std::string path = dir.File("rate.cfg");
  const char* texts[] = {"30000/1001", "24000/1001", "60000/1001", "23.98", "23.975",
                         "29.9749", "59.949", "25", "12.5", "0.0000000001",
                         "1000000", "2997/100", "5994/100"};
  for (const char* text : texts) {
    double rate = 0;
    ASSERT_EQ(FrameRateStatus::kOk, mp4v_host::ParseFrameRate(text, &rate)) << text;
    MP4VSettings record;
    std::memset(&record, 0, sizeof record);
    record.frame_rate = rate;
    ASSERT_EQ(MP4V_STATUS_OK, save(&record, path.c_str())) << text;
    MP4VSettings back;
    std::memset(&back, 0, sizeof back);
    ASSERT_EQ(MP4V_STATUS_OK, load(&back, path.c_str())) << text;
    // The field is packed at offset 332: read it by value.
    const double loaded = back.frame_rate;
    // Ten decimals keep exactly the snapped rates and the short ones; of
    // any other rate they keep what ten decimals can.
    const double written = std::round(rate * 1e10) / 1e10;
    if (Bits(rate) == k23976 || Bits(rate) == k2997 || Bits(rate) == k5994 ||
        written == rate) {
      EXPECT_EQ(Bits(rate), Bits(loaded)) << text;
    } else {
      EXPECT_NEAR(rate, loaded, 1e-10) << text;
    }
    EXPECT_GT(loaded, 0) << text << " came back as 0";
  }
}

}  // namespace
