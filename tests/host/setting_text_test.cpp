// A setting's text rules: what the pages and mp4vcfg set accept, what they
// store, and what the pages show.
#include "host/setting_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "host/settings_catalogue.h"
#include "host/settings_fields.h"
#include "settings/frame_rate_snap.h"
#include "support/test_util.h"

namespace {

using mp4v_host::TextStatus;
using testutil::Bits;

// The bit patterns a load's snapping stores (24, 30 and 60 divided by 1.001).
constexpr uint64_t k23976 = kFrameRate23976Bits;
constexpr uint64_t k2997 = kFrameRate2997Bits;
constexpr uint64_t k5994 = kFrameRate5994Bits;

TEST(SettingTextTest, IntegerTexts) {
  struct Case {
    const char* text;
    TextStatus status;
    int32_t value;
  };
  const Case cases[] = {
      {"720", TextStatus::kOk, 720},
      {"  -15\t", TextStatus::kOk, -15},
      {"\t720", TextStatus::kOk, 720},  // a tab before the number, as a paste may bring
      {"+7", TextStatus::kOk, 7},
      {"0x2D0", TextStatus::kOk, 720},
      {"-0X10", TextStatus::kOk, -16},
      {"2147483647", TextStatus::kOk, INT32_MAX},
      {"-2147483648", TextStatus::kOk, INT32_MIN},
      {"0x7fffffff", TextStatus::kOk, INT32_MAX},
      {"2147483648", TextStatus::kOutOfRange, 0},
      {"-2147483649", TextStatus::kOutOfRange, 0},
      {"0x80000000", TextStatus::kOutOfRange, 0},
      {"99999999999999999999999", TextStatus::kOutOfRange, 0},
      {"", TextStatus::kEmpty, 0},
      {" \t ", TextStatus::kEmpty, 0},
      {"12x", TextStatus::kNotANumber, 0},
      {"1 2", TextStatus::kNotANumber, 0},
      {"1.5", TextStatus::kNotANumber, 0},
      {"0x", TextStatus::kNotANumber, 0},
      {"--1", TextStatus::kNotANumber, 0},
      {"1,000", TextStatus::kNotANumber, 0},
  };
  for (const Case& c : cases) {
    int32_t value = 0;
    EXPECT_EQ(c.status, mp4v_host::ParseIntegerText(c.text, &value)) << c.text;
    if (c.status == TextStatus::kOk) {
      EXPECT_EQ(c.value, value) << c.text;
    }
  }
}

TEST(SettingTextTest, FrameRateTextsAndTheValuesTheyStore) {
  struct Case {
    const char* text;
    TextStatus status;
    uint64_t bits;
  };
  const Case cases[] = {
      // Every choice of the list, as the list offers it.
      {"23.976", TextStatus::kOk, k23976},
      {"24", TextStatus::kOk, Bits(24.0)},
      {"25", TextStatus::kOk, Bits(25.0)},
      {"29.97", TextStatus::kOk, k2997},
      {"30", TextStatus::kOk, Bits(30.0)},
      {"50", TextStatus::kOk, Bits(50.0)},
      {"59.94", TextStatus::kOk, k5994},
      {"60", TextStatus::kOk, Bits(60.0)},
      // Other spellings of the same numbers, and other rates as typed.
      {" 29.970 ", TextStatus::kOk, k2997},
      {"5994e-2", TextStatus::kOk, k5994},
      {"29.9700001", TextStatus::kOk, k2997},  // a load snaps it so
      {"23.98", TextStatus::kOk, k23976},
      {"29.98", TextStatus::kOk, Bits(29.98)},
      {"30000/1001", TextStatus::kOk, k2997},
      {" 25 / 1 ", TextStatus::kOk, Bits(25.0)},
      {"1e-11", TextStatus::kTooSmall, 0},
      {"1/0", TextStatus::kOutOfRange, 0},
      {"12.5", TextStatus::kOk, Bits(12.5)},
      {"+1e2", TextStatus::kOk, Bits(100.0)},
      {"0", TextStatus::kNotPositive, 0},
      {"-0", TextStatus::kNotPositive, 0},
      {"-25", TextStatus::kNotPositive, 0},
      {"1e400", TextStatus::kOutOfRange, 0},
      {"inf", TextStatus::kNotANumber, 0},
      {"nan", TextStatus::kNotANumber, 0},
      {"0x1p4", TextStatus::kNotANumber, 0},
      {"29,97", TextStatus::kNotANumber, 0},
      {"25 fps", TextStatus::kNotANumber, 0},
      {"", TextStatus::kEmpty, 0},
  };
  for (const Case& c : cases) {
    double value = -1;
    EXPECT_EQ(c.status, mp4v_host::ParseFrameRateText(c.text, &value)) << c.text;
    if (c.status == TextStatus::kOk) {
      EXPECT_EQ(c.bits, Bits(value)) << c.text;
    }
  }
  // 30/1.001 and 60/1.001 are one unit in the last place from 30000/1001 and
  // 60000/1001: the pages store the former, as a load does.
  EXPECT_EQ(k2997, Bits(mp4v_host::SnappedRate2997()));
  EXPECT_NE(Bits(30000.0 / 1001.0), Bits(mp4v_host::SnappedRate2997()));
  EXPECT_NE(Bits(60000.0 / 1001.0), Bits(mp4v_host::SnappedRate5994()));
}

TEST(SettingTextTest, FrameRateShownReadsBackToTheSameValue) {
  // Rates the rule stores: the snapped ones, and rates whose ten-decimal
  // text loads as themselves.
  const double rates[] = {mp4v_host::SnappedRate23976(), mp4v_host::SnappedRate2997(),
                          mp4v_host::SnappedRate5994(), 25.0, 29.97, 0.1,
                          1e300, 12.3456789012, 0.0000000001};
  for (double rate : rates) {
    const std::string text = mp4v_host::FrameRateText(rate);
    double back = 0;
    ASSERT_EQ(TextStatus::kOk, mp4v_host::ParseFrameRateText(text, &back)) << text;
    // 29.97 itself shows as "29.97", which stands for the snapped rate: the
    // pages keep an untouched field's bytes for that reason.
    if (rate == 29.97) {
      EXPECT_EQ(k2997, Bits(back));
    } else {
      EXPECT_EQ(Bits(rate), Bits(back)) << text;
    }
  }
  EXPECT_EQ("23.976", mp4v_host::FrameRateText(mp4v_host::SnappedRate23976()));
  EXPECT_EQ("29.97", mp4v_host::FrameRateText(mp4v_host::SnappedRate2997()));
  EXPECT_EQ("59.94", mp4v_host::FrameRateText(mp4v_host::SnappedRate5994()));
  EXPECT_EQ("0", mp4v_host::FrameRateText(0.0));
  // A record's rate that no save keeps shows as it is; typed back, it is
  // stored as a save and a load of it give it.
  EXPECT_EQ("29.999999999999996", mp4v_host::FrameRateText(std::nextafter(30.0, 0.0)));
  double typed = 0;
  ASSERT_EQ(TextStatus::kOk, mp4v_host::ParseFrameRateText("29.999999999999996", &typed));
  EXPECT_EQ(Bits(30.0), Bits(typed));
  // A rate a file cannot hold still shows as it is, and is refused only
  // when typed: an untouched field keeps it.
  EXPECT_EQ("5e-324", mp4v_host::FrameRateText(5e-324));
  double back = 0;
  EXPECT_EQ(TextStatus::kTooSmall, mp4v_host::ParseFrameRateText("5e-324", &back));
}

TEST(SettingTextTest, IntegerTextsWithinAFieldsRange) {
  struct Case {
    const char* text;
    mp4v_host::IntegerRange range;
    TextStatus status;
  };
  const Case cases[] = {
      {"-720", {1, 8191}, TextStatus::kBelowRange},
      {"0", {1, 8191}, TextStatus::kBelowRange},
      {"1", {1, 8191}, TextStatus::kOk},
      {"0x1FFF", {1, 8191}, TextStatus::kOk},
      {"8192", {1, 8191}, TextStatus::kAboveRange},
      {"-1", {0, INT32_MAX}, TextStatus::kBelowRange},
      {"2147483647", {0, INT32_MAX}, TextStatus::kOk},
      {"2147483648", {0, INT32_MAX}, TextStatus::kOutOfRange},
      {"12x", {0, 31}, TextStatus::kNotANumber},
      {"", {0, 31}, TextStatus::kEmpty},
  };
  for (const Case& c : cases) {
    int32_t value = -99;
    EXPECT_EQ(c.status, mp4v_host::ParseIntegerText(c.text, c.range, &value)) << c.text;
    if (c.status != TextStatus::kOk) {
      EXPECT_EQ(-99, value) << c.text;
    }
  }
}

TEST(SettingTextTest, StepsStopAtTheEndsOfTheRange) {
  const mp4v_host::IntegerRange all{INT32_MIN, INT32_MAX};
  EXPECT_EQ(INT32_MAX, mp4v_host::StepInteger(INT32_MAX - 1, 5, 1, all));
  EXPECT_EQ(INT32_MAX, mp4v_host::StepInteger(INT32_MAX, 1, 1, all));
  EXPECT_EQ(INT32_MIN, mp4v_host::StepInteger(INT32_MIN + 1, -20, 1, all));
  EXPECT_EQ(INT32_MIN, mp4v_host::StepInteger(INT32_MIN, -1, 1, all));
  EXPECT_EQ(0, mp4v_host::StepInteger(-1, 1, 1, all));
  EXPECT_EQ(-3, mp4v_host::StepInteger(2, -5, 1, all));
  // A step of its own, and a range of its own.
  EXPECT_EQ(4001000, mp4v_host::StepInteger(4000000, 1, 1000, {0, INT32_MAX}));
  EXPECT_EQ(INT32_MAX, mp4v_host::StepInteger(INT32_MAX - 10, 3, 1000, {0, INT32_MAX}));
  EXPECT_EQ(0, mp4v_host::StepInteger(500, -1, 1000, {0, INT32_MAX}));
  EXPECT_EQ(1, mp4v_host::StepInteger(-720, 1, 16, {1, 8191}));
  EXPECT_EQ(8191, mp4v_host::StepInteger(8190, 1, 16, {1, 8191}));
}

// An arrow keeps the form the number was typed in.
TEST(SettingTextTest, SteppedTextKeepsItsForm) {
  struct Case {
    const char* text;
    int steps;
    int32_t step;
    const char* expected;
  };
  const Case cases[] = {
      {"0x2D0", 1, 1, "0x2D1"},      {"0x2d0", 1, 16, "0x2e0"},
      {"0X2D0", -1, 16, "0X2C0"},    {"0x0", -1, 1, "-0x1"},
      {"-0x10", 1, 1, "-0xF"},       {"720", 1, 16, "736"},
      {" +5 ", -2, 1, "3"},          {"0x7FFFFFFF", 1, 1, "0x7FFFFFFF"},
      {"-0x80000000", -1, 1, "-0x80000000"},
  };
  for (const Case& c : cases) {
    std::string stepped;
    ASSERT_TRUE(mp4v_host::StepText(c.text, c.steps, c.step, {INT32_MIN, INT32_MAX}, &stepped))
        << c.text;
    EXPECT_EQ(c.expected, stepped) << c.text;
    int32_t back = 0;
    EXPECT_EQ(TextStatus::kOk, mp4v_host::ParseIntegerText(stepped, &back)) << stepped;
  }
  std::string untouched = "kept";
  EXPECT_FALSE(mp4v_host::StepText("12x", 1, 1, {0, 31}, &untouched));
  EXPECT_EQ("kept", untouched);
}

TEST(SettingTextTest, ProblemsNameTheTextAndWhatIsWrong) {
  struct Case {
    TextStatus status;
    bool rate;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {TextStatus::kNotANumber, false, " 12x ", "\"12x\" is not a whole number."},
      {TextStatus::kOutOfRange, false, "2147483648", "\"2147483648\" is outside the 32-bit range."},
      {TextStatus::kEmpty, false, "", "The value is empty."},
      {TextStatus::kNotPositive, true, "0", "\"0\" is not a frame rate greater than 0."},
      {TextStatus::kNotANumber, true, "abc", "\"abc\" is not a decimal number or a fraction."},
  };
  for (const Case& c : cases) {
    const std::string problem = mp4v_host::ProblemText(c.status, c.rate, c.text);
    EXPECT_EQ(0u, problem.find(c.expected)) << problem;
    EXPECT_NE(std::string::npos,
              problem.find(c.rate ? "frames per second" : "-2147483648 to 2147483647"))
        << problem;
  }
  // A field of its own range names that range, and only it.
  const std::string width =
      mp4v_host::ProblemText(TextStatus::kBelowRange, false, "-720", {1, 8191});
  EXPECT_EQ(0u, width.find("\"-720\" is less than this setting takes.")) << width;
  EXPECT_NE(std::string::npos, width.find("from 1 to 8191")) << width;
  EXPECT_EQ(std::string::npos, width.find("2147483647")) << width;
  const std::string tiny = mp4v_host::ProblemText(TextStatus::kTooSmall, true, "1e-11");
  EXPECT_EQ(0u, tiny.find("\"1e-11\" is too small")) << tiny;
  EXPECT_NE(std::string::npos, tiny.find("0.0000000001")) << tiny;
}

// The pages' refusals in German: the same facts (the text as typed, the
// range, the smallest rate) in the German column's words.
TEST(SettingTextTest, GermanProblemsNameTheTextAndTheRange) {
  struct Case {
    TextStatus status;
    bool rate;
    const wchar_t* text;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {TextStatus::kNotANumber, false, L" 12ä ",
       L"„12ä“ ist keine ganze Zahl. Geben Sie eine ganze Zahl von 1 bis 8191 ein, dezimal "
       L"oder hexadezimal nach 0x."},
      {TextStatus::kAboveRange, false, L"9000",
       L"„9000“ ist größer, als diese Einstellung zulässt. Geben Sie eine ganze Zahl von 1 "
       L"bis 8191 ein, dezimal oder hexadezimal nach 0x."},
      {TextStatus::kEmpty, true, L"",
       L"Es ist kein Wert eingetragen. Geben Sie eine Bildrate größer als 0 mit Dezimalpunkt "
       L"ein, z. B. 25 oder 29.97, oder einen Bruch wie 30000/1001."},
      {TextStatus::kTooSmall, true, L"1e-11",
       L"„1e-11“ ist zu klein: Eine Einstellungsdatei speichert zehn Nachkommastellen und "
       L"enthielte 0. Geben Sie eine Bildrate von mindestens 0.0000000001 ein."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(c.expected),
              mp4v_host::ProblemText(mp4v_host::kGerman, c.status, c.rate, c.text, {1, 8191}));
  }
}

// The one judgement of a setting's text that the pages' OK and mp4vcfg set
// share: each setting's own row decides the range, the frame rate its rule.
TEST(SettingTextTest, SettingTextsByTheirRowOfTheCatalogue) {
  struct Case {
    const char* key;
    const char* text;
    TextStatus status;
    int32_t integer;
    const char* problem;  // the whole message of a refused text
  };
  const std::string hint = ", in decimal or in hexadecimal after 0x.";
  const Case cases[] = {
      {"width", " 720\t", TextStatus::kOk, 720, ""},
      {"width", "8191", TextStatus::kOk, 8191, ""},
      {"width", "0", TextStatus::kBelowRange, 0,
       "\"0\" is less than this setting takes. Enter a whole number from 1 to 8191"},
      {"height", "0x2000", TextStatus::kAboveRange, 0,
       "\"0x2000\" is more than this setting takes. Enter a whole number from 1 to 8191"},
      {"quant_p", "31", TextStatus::kOk, 31, ""},
      {"quant_p", "32", TextStatus::kAboveRange, 0,
       "\"32\" is more than this setting takes. Enter a whole number from 0 to 31"},
      {"me_f_code", "0", TextStatus::kBelowRange, 0,
       "\"0\" is less than this setting takes. Enter a whole number from 1 to 7"},
      {"num_threads", "-1", TextStatus::kBelowRange, 0,
       "\"-1\" is less than this setting takes. Enter a whole number from 0 to 2147483647"},
      // An on/off setting takes what a click stores.
      {"closed_gov", "1", TextStatus::kOk, 1, ""},
      {"closed_gov", "0x0", TextStatus::kOk, 0, ""},
      {"closed_gov", "5", TextStatus::kAboveRange, 0,
       "\"5\" is more than this setting takes. Enter a whole number from 0 to 1"},
      // A numbered choice takes any 32-bit number.
      {"rc_mode", "-2147483648", TextStatus::kOk, INT32_MIN, ""},
      {"rc_mode", "2147483648", TextStatus::kOutOfRange, 0,
       "\"2147483648\" is outside the 32-bit range. Enter a whole number from -2147483648 to "
       "2147483647"},
      {"width", "", TextStatus::kEmpty, 0, "The value is empty. Enter a whole number from 1 to 8191"},
      {"frame_rate", " 29.97 ", TextStatus::kOk, 0, ""},
      {"frame_rate", "-1", TextStatus::kNotPositive, 0,
       "\"-1\" is not a frame rate greater than 0. Enter a number of frames per second greater "
       "than 0, such as 25 or 29.97, or a fraction such as 30000/1001."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.text);
    const auto* key = mp4v_host::FindSettingKey(c.key);
    ASSERT_NE(nullptr, key);
    const mp4v_host::PageField& field =
        mp4v_host::FieldAt(static_cast<size_t>(key - mp4v_host::SettingKeys()));
    ASSERT_EQ(std::string(c.key), field.key());
    int32_t integer = -99;
    double real = -99;
    EXPECT_EQ(c.status, mp4v_host::ParseSettingText(field, c.text, &integer, &real));
    if (c.status != TextStatus::kOk) {
      EXPECT_EQ(-99, integer);
      EXPECT_EQ(-99, real);
      std::string expected = c.problem;
      if (expected.back() != '.') expected += hint;
      EXPECT_EQ(expected, mp4v_host::SettingProblemText(field, c.status, c.text));
    } else if (field.control == mp4v_host::Control::kFrameRate) {
      EXPECT_EQ(k2997, Bits(real));
      EXPECT_EQ(-99, integer);
    } else {
      EXPECT_EQ(c.integer, integer);
      EXPECT_EQ(-99, real);
    }
  }
}

}  // namespace
