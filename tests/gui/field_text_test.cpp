// The fields' text rules: what the pages accept, what they store, and what
// they show, on every target.
#include "gui/field_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

using mp4v_pages::TextStatus;

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The bit patterns a load's snapping stores (24, 30 and 60 divided by 1.001).
constexpr uint64_t k23976 = 0x4037F9DCB5112287ull;
constexpr uint64_t k2997 = 0x403DF853E2556B29ull;
constexpr uint64_t k5994 = 0x404DF853E2556B29ull;

TEST(FieldTextTest, IntegerTexts) {
  struct Case {
    const char* text;
    TextStatus status;
    int32_t value;
  };
  const Case cases[] = {
      {"720", TextStatus::kOk, 720},
      {"  -15\t", TextStatus::kOk, -15},
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
    EXPECT_EQ(c.status, mp4v_pages::ParseIntegerText(c.text, &value)) << c.text;
    if (c.status == TextStatus::kOk) {
      EXPECT_EQ(c.value, value) << c.text;
    }
  }
}

TEST(FieldTextTest, FrameRateTextsAndTheValuesTheyStore) {
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
      {"29.9700001", TextStatus::kOk, Bits(29.9700001)},
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
    EXPECT_EQ(c.status, mp4v_pages::ParseFrameRateText(c.text, &value)) << c.text;
    if (c.status == TextStatus::kOk) {
      EXPECT_EQ(c.bits, Bits(value)) << c.text;
    }
  }
  // 30/1.001 and 60/1.001 are one unit in the last place from 30000/1001 and
  // 60000/1001: the pages store the former, as a load does.
  EXPECT_EQ(k2997, Bits(mp4v_pages::SnappedRate2997()));
  EXPECT_NE(Bits(30000.0 / 1001.0), Bits(mp4v_pages::SnappedRate2997()));
  EXPECT_NE(Bits(60000.0 / 1001.0), Bits(mp4v_pages::SnappedRate5994()));
}

TEST(FieldTextTest, FrameRateShownReadsBackToTheSameValue) {
  const double rates[] = {mp4v_pages::SnappedRate23976(), mp4v_pages::SnappedRate2997(),
                          mp4v_pages::SnappedRate5994(), 25.0, 29.97, 0.1,
                          1e300, 5e-324, std::nextafter(30.0, 0.0)};
  for (double rate : rates) {
    const std::string text = mp4v_pages::FrameRateText(rate);
    double back = 0;
    ASSERT_EQ(TextStatus::kOk, mp4v_pages::ParseFrameRateText(text, &back)) << text;
    // 29.97 itself shows as "29.97", which stands for the snapped rate: the
    // pages keep an untouched field's bytes for that reason.
    if (rate == 29.97) {
      EXPECT_EQ(k2997, Bits(back));
    } else {
      EXPECT_EQ(Bits(rate), Bits(back)) << text;
    }
  }
  EXPECT_EQ("23.976", mp4v_pages::FrameRateText(mp4v_pages::SnappedRate23976()));
  EXPECT_EQ("29.97", mp4v_pages::FrameRateText(mp4v_pages::SnappedRate2997()));
  EXPECT_EQ("59.94", mp4v_pages::FrameRateText(mp4v_pages::SnappedRate5994()));
  EXPECT_EQ("0", mp4v_pages::FrameRateText(0.0));
}

TEST(FieldTextTest, StepsStopAtTheEndsOfTheRange) {
  EXPECT_EQ(INT32_MAX, mp4v_pages::StepInteger(INT32_MAX - 1, 5));
  EXPECT_EQ(INT32_MAX, mp4v_pages::StepInteger(INT32_MAX, 1));
  EXPECT_EQ(INT32_MIN, mp4v_pages::StepInteger(INT32_MIN + 1, -20));
  EXPECT_EQ(INT32_MIN, mp4v_pages::StepInteger(INT32_MIN, -1));
  EXPECT_EQ(0, mp4v_pages::StepInteger(-1, 1));
  EXPECT_EQ(-3, mp4v_pages::StepInteger(2, -5));
}

TEST(FieldTextTest, ProblemsNameTheTextAndWhatIsWrong) {
  struct Case {
    TextStatus status;
    bool rate;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {TextStatus::kNotANumber, false, " 12x ", "\"12x\" is not a whole number."},
      {TextStatus::kOutOfRange, false, "2147483648", "\"2147483648\" is outside the 32-bit range."},
      {TextStatus::kEmpty, false, "", "The field is empty."},
      {TextStatus::kNotPositive, true, "0", "\"0\" is not a frame rate greater than 0."},
      {TextStatus::kNotANumber, true, "abc", "\"abc\" is not a decimal number."},
  };
  for (const Case& c : cases) {
    const std::string problem = mp4v_pages::ProblemText(c.status, c.rate, c.text);
    EXPECT_EQ(0u, problem.find(c.expected)) << problem;
    EXPECT_NE(std::string::npos,
              problem.find(c.rate ? "frames per second" : "-2147483648 to 2147483647"))
        << problem;
  }
}

}  // namespace
