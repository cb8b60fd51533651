// Typed value text: the integer and floating-point conversions, scalar
// formatting, list reading, and independence from the process locale.
#include "config/value_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Format(const void* field, ConfigType type) {
  char out[kConfigTextCapacity];
  int length = ConfigFormatScalar(field, type, out);
  EXPECT_EQ(length, static_cast<int>(std::strlen(out)));
  return out;
}

std::string FormatDouble(double value) { return Format(&value, ConfigType::kDbl); }

TEST(ValueTextTypes, NamesMatchWholeAndCaseSensitively) {
  EXPECT_EQ(ConfigResolveType("byte"), ConfigType::kByte);
  EXPECT_EQ(ConfigResolveType("int"), ConfigType::kInt);
  EXPECT_EQ(ConfigResolveType("int64"), ConfigType::kInt64);
  EXPECT_EQ(ConfigResolveType("str"), ConfigType::kStr);
  for (const char* name : {"Int", "INT", "int ", " int", "in", "double", "", "int64x"}) {
    EXPECT_EQ(ConfigResolveType(name), ConfigType::kUnknown) << name;
  }
  EXPECT_EQ(ConfigResolveType(nullptr), ConfigType::kUnknown);
}

TEST(ValueTextInt32, ReadsLikeStrtolWithClampingAndItsOwnBaseRule) {
  struct Case { const char* text; int32_t expected; };
  const Case cases[] = {
      {"0x1F", 31}, {"0X1f", 31}, {"0x7fffffff", INT32_MAX},
      {"0xFFFFFFFF", INT32_MAX}, {"0x100000000", INT32_MAX},
      {"010", 10}, {"0x", 0}, {"0X", 0}, {"", 0}, {"0xg", 0},
      {"-0x1F", 0}, {"+0x1F", 0}, {" 0x1F", 0},
      {" \t\n\v\f\r-42xyz", -42}, {"+7", 7}, {"-", 0}, {"+", 0}, {"- 5", 0},
      {"12abc", 12}, {"1F", 1}, {"1.9", 1}, {"1,2", 1},
      {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX},
      {"4294967295", INT32_MAX}, {"4294967296", INT32_MAX},
      {"99999999999999999999999", INT32_MAX},
      {"-2147483648", INT32_MIN}, {"-2147483649", INT32_MIN},
      {"-99999999999999999999999", INT32_MIN},
      {"00000000000000000000000012", 12},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConfigParseInt32(c.text), c.expected) << '"' << c.text << '"';
  }
  EXPECT_EQ(ConfigParseInt32(nullptr), 0);
}

TEST(ValueTextInt64, WrapsModulo2To64) {
  struct Case { const char* text; int64_t expected; };
  const Case cases[] = {
      {"-15", -15}, {"0x1F", 31}, {"0X1f", 31}, {"010", 10},
      {"0x", 0}, {"", 0}, {"-", 0}, {"+5", 5}, {" \t-3", -3}, {"-0x1F", 0},
      {"12abc", 12}, {"1F", 1},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", INT64_MIN},
      {"18446744073709551615", -1}, {"18446744073709551616", 0},
      {"18446744073709551617", 1}, {"-18446744073709551615", 1},
      {"0xFFFFFFFFFFFFFFFF", -1}, {"0x10000000000000000", 0},
      {"0x8000000000000000", INT64_MIN}, {"4294967296", 4294967296LL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConfigParseInt64(c.text), c.expected) << '"' << c.text << '"';
  }
  EXPECT_EQ(ConfigParseInt64(nullptr), 0);
}

TEST(ValueTextDouble, ReadsDecimalTextOnlyCorrectlyRounded) {
  struct Case { const char* text; double expected; };
  const Case cases[] = {
      {"29.97", 29.97}, {"0.1", 0.1}, {" \t\n-1.5e3x", -1500.0},
      {"+2.5", 2.5}, {".5", 0.5}, {"-.5", -0.5}, {"5.", 5.0}, {"1e", 1.0},
      {"1e+", 1.0}, {"2E-2", 0.02}, {"12abc", 12.0}, {"1,5", 1.0},
      {"0x1F", 0.0}, {"0X1p3", 0.0}, {"inf", 0.0}, {"-infinity", 0.0},
      {"nan", 0.0}, {"NAN(1)", 0.0}, {".", 0.0}, {"-", 0.0}, {"+-1", 0.0},
      {"", 0.0}, {"e5", 0.0}, {".e1", 0.0},
      {"1.7976931348623157e308", DBL_MAX},
      {"2.2250738585072011e-308", 0x0.fffffffffffffp-1022},
      {"4.9e-324", 0x1p-1074}, {"3e-324", 0x1p-1074},
      {"9007199254740993", 9007199254740992.0},
      {"9007199254740993.000000000000001", 9007199254740994.0},
      // Products that come out wrong when rounded twice (through an
      // extended-precision intermediate).
      {"7389055811934419e8", 0x1.38f04dbb4bc37p+79},
      {"8477983658074738e6", 0x1.cb97a882bc879p+72},
      {"5607660743001707e11", 0x1.cfdad5ccf5797p+88},
      {"7360019965192357e13", 0x1.dba15103cc597p+95},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConfigParseDouble(c.text), c.expected) << '"' << c.text << '"';
  }
  EXPECT_EQ(ConfigParseDouble(nullptr), 0.0);
}

TEST(ValueTextDouble, OutOfRangeGivesInfinityOrZeroOfItsSign) {
  const std::string zeros(400, '0');
  struct Case { std::string text; double expected; };
  const Case cases[] = {
      {"1e309", HUGE_VAL}, {"-1e309", -HUGE_VAL},
      {"1.7976931348623159e308", HUGE_VAL},
      {"1" + zeros, HUGE_VAL}, {"1" + zeros + "e-80", HUGE_VAL},
      {"1e99999999999999999999999", HUGE_VAL},
      {"0.0001e99999999999999999999", HUGE_VAL},
      {"1e-400", 0.0}, {"-1e-400", -0.0}, {"2e-324", 0.0},
      {"0." + zeros + "1", 0.0}, {"0." + zeros + "1e-80", 0.0},
      {"0." + zeros + "1e80", 1e-321},
      {"123456789012345678901234567890e-400", 0.0},
      {"1e-99999999999999999999999", 0.0},
      {"0e99999999999999999999999", 0.0}, {"-0", -0.0},
  };
  for (const Case& c : cases) {
    double value = ConfigParseDouble(c.text.c_str());
    EXPECT_EQ(value, c.expected) << c.text.substr(0, 40);
    EXPECT_EQ(std::signbit(value), std::signbit(c.expected)) << c.text.substr(0, 40);
  }
}

TEST(ValueTextFormat, ScalarsPrintTheirOwnValue) {
  uint8_t u8 = 255;
  int8_t i8 = -128;
  uint16_t u16 = 65535;
  int16_t i16 = -32768;
  uint32_t u32 = 4294967295u;
  int32_t i32 = INT32_MIN;
  EXPECT_EQ(Format(&u8, ConfigType::kByte), "255");
  EXPECT_EQ(Format(&u8, ConfigType::kUint8), "255");
  EXPECT_EQ(Format(&i8, ConfigType::kInt8), "-128");
  EXPECT_EQ(Format(&u16, ConfigType::kUint16), "65535");
  EXPECT_EQ(Format(&i16, ConfigType::kShort), "-32768");
  EXPECT_EQ(Format(&i16, ConfigType::kInt16), "-32768");
  EXPECT_EQ(Format(&u32, ConfigType::kUint32), "4294967295");
  EXPECT_EQ(Format(&i32, ConfigType::kInt32), "-2147483648");
  EXPECT_EQ(Format(&i32, ConfigType::kInt), "-2147483648");
  EXPECT_EQ(Format(&i32, ConfigType::kUnknown), "");

  struct Int64Case { int64_t value; const char* expected; };
  const Int64Case int64_cases[] = {
      {-3, "-3"}, {0, "0"}, {(int64_t{1} << 53) + 1, "9007199254740992"},
      {INT64_MAX, "9223372036854775808"}, {INT64_MIN, "-9223372036854775808"},
  };
  for (const Int64Case& c : int64_cases) {
    EXPECT_EQ(Format(&c.value, ConfigType::kInt64), c.expected);
  }

  struct DoubleCase { double value; const char* expected; };
  const DoubleCase double_cases[] = {
      {30000.0 / 1001.0, "29.9700299700"}, {0.1, "0.1000000000"},
      {25.0, "25.0000000000"}, {-0.0, "-0.0000000000"},
      {-1e-11, "-0.0000000000"}, {0.00000000005, "0.0000000001"},
      {9223372036854775808.0, "9223372036854775808.0000000000"},
      {HUGE_VAL, "inf"}, {-HUGE_VAL, "-inf"},
  };
  for (const DoubleCase& c : double_cases) {
    EXPECT_EQ(FormatDouble(c.value), c.expected);
  }
}

TEST(ValueTextFormat, DoublesAreExactDecimalExpansions) {
  const std::string exact_1e300 =
      "1000000000000000052504760255204420248704468581108159154915854115511802"
      "4579889081957863713750804478640437044438328838781769425232353604305756"
      "4479218478670698284838720092657580373783023379478809005936895323497079"
      "9945081119038967640880074652742780142494579258788820056842838115669472"
      "196386865459400540160";
  ASSERT_EQ(exact_1e300.size(), 301u);
  EXPECT_EQ(FormatDouble(1e300), exact_1e300 + ".0000000000");
  std::string largest = FormatDouble(-DBL_MAX);
  EXPECT_EQ(largest.size(), kConfigScalarTextMax);
  EXPECT_EQ(largest.substr(0, 18), "-17976931348623157");
  EXPECT_EQ(FormatDouble(0x1p-1074), "0.0000000000");
}

TEST(ValueTextFormat, StrCopiesUpToAnEntrysCapacity) {
  const char* null_text = nullptr;
  EXPECT_EQ(Format(&null_text, ConfigType::kStr), "");
  std::string fits(kConfigTextMax, 'a');
  const char* text = fits.c_str();
  EXPECT_EQ(Format(&text, ConfigType::kStr), fits);
  std::string too_long(kConfigTextMax + 1, 'a');
  text = too_long.c_str();
  char out[kConfigTextCapacity];
  EXPECT_EQ(ConfigFormatScalar(&text, ConfigType::kStr, out), -1);
  EXPECT_STREQ(out, "");
}

#ifndef _WIN32
// The formatted text is what glibc's printf gives for the same value (the
// Windows runtime's printf rounds after 17 digits, so this runs natively).
TEST(ValueTextFormat, MatchesPrintfOnRandomDoubles) {
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> moderate(-1e7, 1e7);
  char expected[400];
  int mismatches = 0;
  for (int i = 0; i < 30000 && mismatches < 5; ++i) {
    double value;
    if (i % 3 == 0) {
      uint64_t bits = random();
      std::memcpy(&value, &bits, sizeof value);
      if (!std::isfinite(value)) continue;
    } else if (i % 3 == 1) {
      value = moderate(random);
    } else {  // near a tie of the tenth decimal
      value = std::round(moderate(random) * 1e10) / 1e10 + 5e-11;
    }
    std::snprintf(expected, sizeof expected, "%.10f", value);
    if (FormatDouble(value) != expected) {
      ++mismatches;
      ADD_FAILURE() << std::hexfloat << value << ": " << FormatDouble(value)
                    << " != " << expected;
    }
    int64_t integer = static_cast<int64_t>(random());
    std::snprintf(expected, sizeof expected, "%.f", static_cast<double>(integer));
    EXPECT_EQ(Format(&integer, ConfigType::kInt64), expected);
  }
}

// Reading agrees with glibc's correctly rounded strtod on decimal texts of
// every shape: short and long mantissas, small and large exponents, the
// ranges where one multiplication or division is exact and just beyond.
TEST(ValueTextDouble, MatchesStrtodOnRandomDecimalTexts) {
  std::mt19937_64 random(77);
  int mismatches = 0;
  for (int i = 0; i < 200000 && mismatches < 5; ++i) {
    std::string text;
    const int digits = 1 + static_cast<int>(random() % 20);
    for (int d = 0; d < digits; ++d) text.push_back(static_cast<char>('0' + random() % 10));
    if (random() % 2) text.insert(random() % text.size(), ".");
    if (random() % 2) {
      text += "e" + std::to_string(static_cast<int>(random() % 90) - 45);
    }
    const double expected = std::strtod(text.c_str(), nullptr);
    const double got = ConfigParseDouble(text.c_str());
    if (std::memcmp(&expected, &got, sizeof got) != 0) {
      ++mismatches;
      ADD_FAILURE() << text << ": " << got << " != " << expected;
    }
  }
}
#endif

// Reads `text` as a list of `type_name` and returns its elements widened.
template <typename T>
std::vector<T> ParseList(const char* text, const char* type_name) {
  int32_t count = -5;
  void* block = ConfigParseList(text, &count, type_name);
  EXPECT_EQ(block == nullptr, count == 0) << text;
  std::vector<T> values(static_cast<size_t>(count));
  if (count > 0) std::memcpy(values.data(), block, values.size() * sizeof(T));
  std::free(block);
  return values;
}

TEST(ValueTextList, SplitsAtRunsOfBlanksAndCommas) {
  struct Case { const char* text; std::vector<int32_t> expected; };
  const Case cases[] = {
      {"{1,2,3}", {1, 2, 3}}, {"{1 2 3", {1, 2, 3}},
      {"{ 1 , 2 ,, 3 }", {1, 2, 3}}, {"{1,2}9", {1, 2}}, {"{5}", {5}},
      {"{}", {}}, {"{ , }", {}}, {"{", {}}, {"1,2,3", {}}, {"", {}},
      {" {1}", {}}, {"{}1,2", {}},
      {"{0x1F,-0x1F,010,-7}", {31, 0, 10, -7}},
      {"{\t5}", {5}},       // a tab is not a separator, but a leading blank
      {"{\t 5}", {0, 5}},  // an element of a tab alone holds no number
      {"{2147483648,-2147483649}", {INT32_MAX, INT32_MIN}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseList<int32_t>(c.text, "int"), c.expected) << c.text;
  }
  int32_t count = 7;
  EXPECT_EQ(ConfigParseList(nullptr, &count, "int"), nullptr);
  EXPECT_EQ(count, 0);
}

TEST(ValueTextList, ElementsTakeTheirTypesWidthAndConversion) {
  EXPECT_EQ(ParseList<uint8_t>("{-1,300,0x1F}", "uint8"),
            (std::vector<uint8_t>{255, 44, 31}));
  EXPECT_EQ(ParseList<int8_t>("{-129,128}", "int8"), (std::vector<int8_t>{127, -128}));
  EXPECT_EQ(ParseList<int16_t>("{7,8,9,32768}", "int16"),
            (std::vector<int16_t>{7, 8, 9, -32768}));
  EXPECT_EQ(ParseList<uint32_t>("{-1,4294967295}", "uint32"),
            (std::vector<uint32_t>{4294967295u, 2147483647u}));
  EXPECT_EQ(ParseList<int64_t>("{-15,18446744073709551615,0x1F}", "int64"),
            (std::vector<int64_t>{-15, -1, 31}));
  EXPECT_EQ(ParseList<double>("{29.97,-.5,0x1F,1e400}", "dbl"),
            (std::vector<double>{29.97, -0.5, 0.0, HUGE_VAL}));
  // An unknown type name reads 8-bit values into 1-byte slots.
  EXPECT_EQ(ParseList<uint8_t>("{1,257,-1}", "Int"), (std::vector<uint8_t>{1, 1, 255}));
}

TEST(ValueTextList, StrElementsLiveInTheBlock) {
  struct Case { const char* text; std::vector<std::string> expected; };
  const Case cases[] = {
      {"{a b,c}", {"a", "b", "c"}}, {"{a}b}", {"a"}},
      {"{ p ,, q }", {"p", "q"}}, {"{x\ty}", {"x\ty"}}, {"{,}", {}},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    int32_t count = 0;
    void* block = ConfigParseList(text.c_str(), &count, "str");
    text.assign(text.size(), '#');  // the texts must not point into the input
    std::vector<std::string> elements;
    for (int32_t i = 0; i < count; ++i) elements.push_back(static_cast<char**>(block)[i]);
    EXPECT_EQ(elements, c.expected) << c.text;
    std::free(block);
  }
}

TEST(ValueTextList, LeavesAnotherTokenizersPositionAlone) {
  char host_text[] = "one two three";
  ASSERT_STREQ(std::strtok(host_text, " "), "one");
  int32_t count = 0;
  std::free(ConfigParseList("{4 5,6}", &count, "int"));
  std::free(ConfigParseList("{p q}", &count, "str"));
  EXPECT_EQ(count, 2);
  const char* next = std::strtok(nullptr, " ");
  EXPECT_STREQ(next == nullptr ? "(null)" : next, "two");
}

// Switches the process to a locale whose decimal point is a comma for the
// life of the object, and back to "C" afterwards.
class CommaLocale {
 public:
  CommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German",
                             "de-DE", "German_Germany.1252", "deu"}) {
      if (std::setlocale(LC_ALL, name) != nullptr &&
          std::localeconv()->decimal_point[0] == ',') {
        name_ = name;
        return;
      }
    }
    std::setlocale(LC_ALL, "C");
  }
  ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
  const char* name() const { return name_; }

 private:
  const char* name_ = nullptr;
};

TEST(ValueTextLocale, NumbersIgnoreACommaDecimalLocale) {
  CommaLocale locale;
  ASSERT_NE(locale.name(), nullptr)
      << "no locale with ',' as its decimal point could be set";
  EXPECT_EQ(FormatDouble(29.97), "29.9700000000");
  EXPECT_EQ(FormatDouble(-1234567.5), "-1234567.5000000000");
  EXPECT_EQ(ConfigParseDouble("29.97"), 29.97);
  EXPECT_EQ(ConfigParseDouble("29,97"), 29.0);
  EXPECT_EQ(ConfigParseDouble("\xa0" "1"), 0.0);  // no blank beyond C's
  int64_t big = INT64_MIN;
  EXPECT_EQ(Format(&big, ConfigType::kInt64), "-9223372036854775808");
  EXPECT_EQ(ParseList<double>("{1.5,2.25}", "dbl"), (std::vector<double>{1.5, 2.25}));
}

}  // namespace

// How far a load reads a value text, and whether it had to bring the
// number into range: what mp4vcfg check reports as dropped text.
TEST(ScanNumberTest, TellsHowMuchOfTheTextIsTheNumber) {
  struct Case {
    const char* text;
    ConfigType type;
    size_t length;
    bool out_of_range;
  };
  const Case cases[] = {
      {"720", ConfigType::kInt, 3, false},
      {"720px", ConfigType::kInt, 3, false},
      {"abc", ConfigType::kInt, 0, false},
      {"", ConfigType::kInt, 0, false},
      {"-", ConfigType::kInt, 0, false},
      {"0x2D0", ConfigType::kInt, 5, false},
      {"0x", ConfigType::kInt, 0, false},
      {"-0x1F", ConfigType::kInt, 2, false},
      {"1e3", ConfigType::kInt, 1, false},
      {" +12", ConfigType::kInt, 4, false},
      {"2147483647", ConfigType::kInt, 10, false},
      {"2147483648", ConfigType::kInt, 10, true},
      {"-2147483648", ConfigType::kInt, 11, false},
      {"-2147483649", ConfigType::kInt, 11, true},
      {"0x80000000", ConfigType::kInt, 10, true},
      {"18446744073709551615", ConfigType::kInt64, 20, false},
      {"18446744073709551616", ConfigType::kInt64, 20, true},
      {"0x10000000000000000", ConfigType::kInt64, 19, true},
      {"25", ConfigType::kDbl, 2, false},
      {"29.97", ConfigType::kDbl, 5, false},
      {".5", ConfigType::kDbl, 2, false},
      {"5.", ConfigType::kDbl, 2, false},
      {".", ConfigType::kDbl, 0, false},
      {"1e3", ConfigType::kDbl, 3, false},
      {"1e", ConfigType::kDbl, 1, false},
      {"1e+", ConfigType::kDbl, 1, false},
      {"-2.5E-3x", ConfigType::kDbl, 7, false},
      {"1e999", ConfigType::kDbl, 5, true},
      {"1e-999", ConfigType::kDbl, 6, false},
      {"inf", ConfigType::kDbl, 0, false},
      {"0x1F", ConfigType::kDbl, 1, false},
      {"12", ConfigType::kStr, 0, false},
  };
  for (const Case& c : cases) {
    const ConfigNumberScan scan = ConfigScanNumber(c.text, c.type);
    EXPECT_EQ(scan.length, c.length) << c.text;
    EXPECT_EQ(scan.out_of_range, c.out_of_range) << c.text;
  }
}
