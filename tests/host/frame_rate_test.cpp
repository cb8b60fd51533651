// The frame-rate rule that the settings pages and mp4vcfg share: which texts
// it accepts, the bits it stores, and that a stored rate is what a save and
// a load of it through the built module give back.
#include "host/frame_rate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "settings/frame_rate_snap.h"
#include "settings/key_table.h"

#include "config/value_text.h"
#include "host/module_library.h"
#include "mp4v_config.h"
#include "support/test_util.h"

namespace {

using mp4v_host::FrameRateStatus;
using testutil::Bits;

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
      // Ten decimals, as a save writes and a load reads them back.
      {"1/3", FrameRateStatus::kOk, Bits(0.3333333333)},
      {"12.345678901234", FrameRateStatus::kOk, Bits(12.3456789012)},
      {"2.5e1/1", FrameRateStatus::kOk, Bits(25.0)},
      // Rates the load would snap are stored snapped.
      {"23.98", FrameRateStatus::kOk, k23976},
      {"23.97", FrameRateStatus::kOk, k23976},
      {"29.97", FrameRateStatus::kOk, k2997},
      {"29.979", FrameRateStatus::kOk, k2997},
      {"59.94", FrameRateStatus::kOk, k5994},
      {"23.99", FrameRateStatus::kOk, Bits(23.99)},
      {"29.96", FrameRateStatus::kOk, Bits(29.96)},
      // Their ten-decimal texts, 29.9700000000 and 59.9400000000, snap.
      {"29.96999999999", FrameRateStatus::kOk, k2997},
      {"59.93999999996", FrameRateStatus::kOk, k5994},
      {"23.96999999995", FrameRateStatus::kOk, k23976},
      {"23.98999999995", FrameRateStatus::kOk, Bits(23.99)},
      {"29.969999999949", FrameRateStatus::kOk, Bits(29.9699999999)},
      // Blanks and tabs around the whole text, as around the '/'.
      {" 25 ", FrameRateStatus::kOk, Bits(25.0)},
      {"\t30000/1001 ", FrameRateStatus::kOk, k2997},
      {"2 5", FrameRateStatus::kNotANumber, 0},
      {" \t", FrameRateStatus::kNotANumber, 0},
      {"25", FrameRateStatus::kOk, Bits(25.0)},
      {"+50", FrameRateStatus::kOk, Bits(50.0)},
      // The smallest rates a file holds as something other than 0.
      {"0.0000000001", FrameRateStatus::kOk, Bits(1e-10)},
      {"6e-11", FrameRateStatus::kOk, Bits(1e-10)},
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

// Texts of rates sampled for the round trip: the rates of the issue that
// found the rule and the load disagreeing, rates at and around every
// snapping threshold, rates typed with twelve decimals that the ten-decimal
// text rounds one way or the other, and `random` rates of every size a file
// holds. The same seed gives the same texts.
std::vector<std::string> SampledRateTexts(int around, int random_count) {
  std::vector<std::string> texts = {"29.96999999999", "59.93999999996", "30000/1001",
                                    "24000/1001", "60000/1001", "23.975", "29.9749",
                                    "59.949", "25", "12.5", "0.0000000001", "6e-11",
                                    "1000000", "2997/100", "5994/100", "1e300"};
  auto add = [&texts](double rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", rate);
    texts.push_back(text);
  };
  // Where 100 times the rate crosses 2397, 2399, 2997, 2998, 5994 and 5995,
  // and where its ten-decimal text does.
  for (double threshold : {23.97, 23.99, 29.97, 29.98, 59.94, 59.95}) {
    for (int k = -around; k <= around; ++k) {
      add(threshold + k * 1e-12);
      add(threshold + 5e-11 + k * 1e-15);
      add(threshold - 5e-11 + k * 1e-15);
    }
    double below = threshold;
    double above = threshold;
    for (int k = 0; k < around + 2; ++k) {
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, 100.0);
      add(below);
      add(above);
    }
  }
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> common(0.0, 121.0);
  std::uniform_real_distribution<double> exponent(-10.5, 15.0);
  std::uniform_int_distribution<int> hundredths(1, 12000);
  std::uniform_int_distribution<int> last(0, 99);
  for (int i = 0; i < random_count; ++i) {
    switch (i % 4) {
      case 0:
      case 1:
        add(common(random));
        break;
      case 2:
        add(std::pow(10.0, exponent(random)));
        break;
      default: {
        // 29.969999999999 or 29.970000000012: just below or above a rate
        // of two decimals.
        const int h = hundredths(random) - (i / 4) % 2;
        char text[64];
        std::snprintf(text, sizeof text,
                      (i / 4) % 2 == 0 ? "%d.%02d00000000%02d" : "%d.%02d99999999%02d",
                      h / 100, h % 100, last(random));
        texts.push_back(text);
        break;
      }
    }
  }
  return texts;
}

// Whatever the rule stores, a save through the built module writes and a
// load reads back bit for bit, and a save of what was loaded writes the
// same bytes again: the file `mp4vcfg set` or the pages write is stable.
// Every save is a real one (a synced file), so the sample is smaller here
// than in the next test.
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
  size_t stored = 0;
  for (const std::string& text : SampledRateTexts(1, 30)) {
    double rate = 0;
    if (mp4v_host::ParseFrameRate(text, &rate) != FrameRateStatus::kOk) continue;
    ++stored;
    MP4VSettings record;
    std::memset(&record, 0, sizeof record);
    record.frame_rate = rate;
    ASSERT_EQ(MP4V_STATUS_OK, save(&record, path.c_str())) << text;
    const std::string first = testutil::ReadBytes(path);
    MP4VSettings back;
    std::memset(&back, 0, sizeof back);
    ASSERT_EQ(MP4V_STATUS_OK, load(&back, path.c_str())) << text;
    // The field is packed at offset 332: read it by value.
    const double loaded = back.frame_rate;
    EXPECT_EQ(Bits(rate), Bits(loaded)) << text << " stored as " << rate << ", loaded as "
                                        << loaded;
    ASSERT_EQ(MP4V_STATUS_OK, save(&back, path.c_str())) << text;
    EXPECT_EQ(first, testutil::ReadBytes(path)) << text;
  }
  EXPECT_GT(stored, 110u);  // the smallest samples alone are refused
}

// The same over many more rates, through the module's own conversions of
// a frame rate's value (linked from the core): the text a save writes for
// the field, the number a load reads from it, the snapping after the load.
// The stored rate must come back bit for bit.
TEST(FrameRateRuleTest, ManySampledRatesSurviveTheModulesConversions) {
  size_t stored = 0;
  for (const std::string& text : SampledRateTexts(60, 100000)) {
    double rate = 0;
    if (mp4v_host::ParseFrameRate(text, &rate) != FrameRateStatus::kOk) continue;
    ++stored;
    MP4VSettings record;
    std::memset(&record, 0, sizeof record);
    char written[kConfigTextCapacity];
    ConfigFormatScalar(&rate, ConfigType::kDbl, written);
    record.frame_rate = ConfigParseDouble(written);
    MP4VSnapFrameRate(&record);
    const double loaded = record.frame_rate;
    ASSERT_EQ(Bits(rate), Bits(loaded)) << text << " stored as " << rate << ", written as "
                                        << written << ", loaded as " << loaded;
  }
  EXPECT_GT(stored, 100000u);
}

}  // namespace
