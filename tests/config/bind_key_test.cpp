// The key binding operation: loading and saving fields of every type, as
// scalars and as lists, against an in-memory document.
#include "config/bind_key.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "config/value_text.h"

namespace {

constexpr const char* kSection = "MP4V Settings";

struct Line {
  int32_t kind;
  const char* name;
  const char* value;
  const char* comment;
};

struct FreeDocument {
  void operator()(ConfigNode* first) const { ConfigFreeDocument(first); }
};
using Document = std::unique_ptr<ConfigNode, FreeDocument>;

Document Build(std::initializer_list<Line> lines) {
  ConfigNode* first = nullptr;
  ConfigNode** link = &first;
  for (const Line& line : lines) {
    ConfigNode* node = line.kind == kConfigSection ? ConfigNewSection(line.name, line.comment)
                       : line.kind == kConfigEntry ? ConfigNewEntry(line.name, line.value, line.comment)
                                                   : ConfigNewFreeLine(line.name);
    *link = node;
    link = &node->next;
  }
  return Document(first);
}

// The lines of a document as "[section]", "key=value#comment" or "free".
std::vector<std::string> Lines(const ConfigNode* node) {
  std::vector<std::string> lines;
  for (; node != nullptr; node = node->next) {
    if (node->kind == kConfigSection) {
      lines.push_back(std::string("[") + std::string(node->name()) + "]");
    } else if (node->kind == kConfigEntry) {
      lines.push_back(std::string(node->name()) + "=" + std::string(node->value()) +
                      (!node->comment().empty() ? std::string("#") + std::string(node->comment()) : ""));
    } else {
      lines.emplace_back(node->name());
    }
  }
  return lines;
}

Document Settings(const char* key, const char* value) {
  return Build({{kConfigFreeLine, "# config file", "", ""},
                {kConfigSection, kSection, "", ""},
                {kConfigEntry, key, value, "note"},
                {kConfigSection, "Other", "", ""}});
}

int32_t Load(ConfigNode* doc, const char* key, const char* type, void* field,
             int32_t* count = nullptr) {
  return ConfigBindKey(doc, "load", kSection, key, type, field, count);
}

int32_t Save(ConfigNode* doc, const char* key, const char* type, void* field,
             int32_t* count = nullptr) {
  return ConfigBindKey(doc, "save", kSection, key, type, field, count);
}

TEST(BindKeyMode, OnlyExactModeWordsActOnAnything) {
  for (const char* mode : {"Load", "LOAD", "load ", "Save", "save ", "", "ld"}) {
    Document doc = Settings("k", "12");
    int32_t field = 5;
    EXPECT_EQ(ConfigBindKey(doc.get(), mode, kSection, "k", "int", &field, nullptr), 1)
        << mode;
    EXPECT_EQ(ConfigBindKey(doc.get(), mode, kSection, "new", "int", &field, nullptr), 1);
    EXPECT_EQ(field, 5);
    EXPECT_EQ(Lines(doc.get()),
              (std::vector<std::string>{"# config file", "[MP4V Settings]", "k=12#note", "[Other]"}));
  }
  Document doc = Settings("k", "12");
  int32_t field = 5;
  EXPECT_EQ(ConfigBindKey(doc.get(), nullptr, kSection, "k", "int", &field, nullptr), 1);
  EXPECT_EQ(field, 5);
}

TEST(BindKeyLoad, FindsKeyAndSectionInOtherCapitals) {
  Document doc = Build({{kConfigSection, "mp4v settings", "", ""},
                        {kConfigEntry, "FRAME_RATE", "29.97", ""}});
  double rate = 0.0;
  EXPECT_EQ(Load(doc.get(), "frame_rate", "dbl", &rate), 0);
  EXPECT_EQ(rate, 29.97);
}

TEST(BindKeyLoad, AbsentKeyLeavesFieldAndCountAlone) {
  Document doc = Build({{kConfigEntry, "early", "1", ""},
                        {kConfigSection, "Other", "", ""},
                        {kConfigEntry, "elsewhere", "2", ""},
                        {kConfigSection, kSection, "", ""}});
  for (const char* key : {"early", "elsewhere", "missing"}) {
    int32_t field = 42;
    int16_t array[2] = {3, 4};
    int32_t count = 9;
    EXPECT_EQ(Load(doc.get(), key, "int", &field), 1) << key;
    EXPECT_EQ(Load(doc.get(), key, "int16", array, &count), 1) << key;
    EXPECT_EQ(field, 42);
    EXPECT_EQ(count, 9);
    EXPECT_EQ(array[0], 3);
  }
  int32_t field = 42;
  EXPECT_EQ(ConfigBindKey(nullptr, "load", kSection, "k", "int", &field, nullptr), 1);
  EXPECT_EQ(field, 42);
}

// A scalar load writes exactly the type's width, in two's complement, and not
// a byte more.
TEST(BindKeyLoad, ScalarsStoreTheirWidthOnly) {
  struct Case { const char* type; const char* text; int64_t expected; size_t width; };
  const Case cases[] = {
      {"uint8", "-1", 255, 1}, {"byte", "300", 44, 1}, {"uint8", "0x1FF", 255, 1},
      {"int8", "-129", 127, 1}, {"int8", "0x80", -128, 1}, {"int8", "-128", -128, 1},
      {"uint16", "-1", 65535, 2}, {"short", "65535", -1, 2},
      {"int16", "-32769", 32767, 2}, {"int16", "32768", -32768, 2},
      {"uint32", "-1", 4294967295, 4}, {"uint32", "4294967295", 2147483647, 4},
      {"uint32", "0xFFFFFFFF", 2147483647, 4}, {"int32", "-2147483648", INT32_MIN, 4},
      {"int", "2147483648", INT32_MAX, 4}, {"int", "-2147483649", INT32_MIN, 4},
      {"int", "0x1F", 31, 4}, {"int", "12abc", 12, 4}, {"int", "", 0, 4},
      {"int64", "-15", -15, 8}, {"int64", "18446744073709551615", -1, 8},
      {"int64", "18446744073709551616", 0, 8}, {"int64", "", 0, 8},
  };
  for (const Case& c : cases) {
    Document doc = Settings("k", c.text);
    unsigned char field[16];
    std::memset(field, 0xAA, sizeof field);
    EXPECT_EQ(Load(doc.get(), "k", c.type, field), 0);
    unsigned char expected[16];
    std::memset(expected, 0xAA, sizeof expected);
    std::memcpy(expected, &c.expected, c.width);  // both targets are little-endian
    EXPECT_EQ(std::memcmp(field, expected, sizeof field), 0)
        << c.type << " \"" << c.text << "\"";
  }
}

TEST(BindKeyLoad, DoublesStrAndUnknownTypes) {
  struct Case { const char* text; double expected; };
  for (const Case& c : {Case{"", 0.0}, Case{"0x1F", 0.0}, Case{"nan", 0.0},
                        Case{"29.9700299700", 29.97002997}, Case{"-1e400", -HUGE_VAL}}) {
    Document doc = Settings("k", c.text);
    double field = 7.5;
    EXPECT_EQ(Load(doc.get(), "k", "dbl", &field), 0);
    EXPECT_EQ(field, c.expected) << c.text;
  }
  Document doc = Settings("Name", "a b,c");
  const char* text = nullptr;
  EXPECT_EQ(Load(doc.get(), "name", "str", &text), 0);
  EXPECT_EQ(text, ConfigLookup(doc.get(), kSection, "name").data());  // a view, not a copy
  EXPECT_STREQ(text, "a b,c");
  int32_t field = 77;
  EXPECT_EQ(Load(doc.get(), "name", "Int", &field), 0);
  EXPECT_EQ(Load(doc.get(), "name", nullptr, &field), 0);
  EXPECT_EQ(field, 77);
}

// Saves `field` of `type` into a fresh document, loads it back into `out`,
// and returns the text that was written.
std::string RoundTrip(const char* type, const void* field, void* out) {
  Document doc = Settings("other", "1");
  EXPECT_EQ(Save(doc.get(), "key", type, const_cast<void*>(field)), 0);
  const std::string_view text = ConfigLookup(doc.get(), kSection, "key");
  EXPECT_NE(text.data(), nullptr);
  const std::string written(text);
  EXPECT_EQ(Load(doc.get(), "key", type, out), 0);
  return written;
}

template <typename T>
void ExpectRoundTrips(const char* type, std::initializer_list<T> values) {
  for (T value : values) {
    T loaded{};
    std::string text = RoundTrip(type, &value, &loaded);
    EXPECT_EQ(loaded, value) << type << " via \"" << text << "\"";
  }
}

TEST(BindKeyRoundTrip, EveryTypeComesBackThroughSaveAndLoad) {
  ExpectRoundTrips<uint8_t>("byte", {0, 1, 128, 255});
  ExpectRoundTrips<uint8_t>("uint8", {0, 127, 255});
  ExpectRoundTrips<int8_t>("int8", {-128, -1, 0, 127});
  ExpectRoundTrips<int16_t>("short", {-32768, -1, 32767});
  ExpectRoundTrips<int16_t>("int16", {-32768, 0, 32767});
  ExpectRoundTrips<uint16_t>("uint16", {0, 32768, 65535});
  // Beyond 2147483647 a "uint32" text reads back clamped (see the width test).
  ExpectRoundTrips<uint32_t>("uint32", {0, 1, 2147483647u});
  ExpectRoundTrips<int32_t>("int32", {INT32_MIN, -1, INT32_MAX});
  ExpectRoundTrips<int32_t>("int", {INT32_MIN, -7, 0, 31, INT32_MAX});
  ExpectRoundTrips<int64_t>("int64", {-(int64_t{1} << 53), -3, 0, int64_t{1} << 53,
                                      INT64_MIN, int64_t{1} << 62});
  ExpectRoundTrips<double>("dbl", {0.0, -0.5, 29.97, 25.0, 1e15 + 0.25, 1e300,
                                   -1234.0000000001});

  Document doc = Settings("other", "1");
  const char* text = "hello world";
  const char* loaded = nullptr;
  EXPECT_EQ(Save(doc.get(), "key", "str", &text), 0);
  EXPECT_EQ(Load(doc.get(), "key", "str", &loaded), 0);
  EXPECT_STREQ(loaded, "hello world");

  double rate = 30000.0 / 1001.0;
  double rate_loaded = 0.0;
  EXPECT_EQ(RoundTrip("dbl", &rate, &rate_loaded), "29.9700299700");
  EXPECT_EQ(rate_loaded, 29.97002997);
  int64_t big = (int64_t{1} << 53) + 1;
  int64_t big_loaded = 0;
  EXPECT_EQ(RoundTrip("int64", &big, &big_loaded), "9007199254740992");
  EXPECT_EQ(big_loaded, int64_t{1} << 53);
}

TEST(BindKeySave, WritesInPlaceOrAtTheEndOfTheSection) {
  Document doc = Settings("Bitrate", "100");
  int32_t value = -7;
  EXPECT_EQ(Save(doc.get(), "BITRATE", "int", &value), 0);
  EXPECT_EQ(Save(doc.get(), "gop", "int", &value), 0);
  int32_t unused = 3;
  EXPECT_EQ(Save(doc.get(), "odd", "Int", &unused), 0);
  EXPECT_EQ(Lines(doc.get()),
            (std::vector<std::string>{"# config file", "[MP4V Settings]", "Bitrate=-7#note",
                                      "gop=-7", "odd=", "[Other]"}));
  EXPECT_EQ(ConfigBindKey(nullptr, "save", kSection, "k", "int", &value, nullptr), 1);
}

TEST(BindKeySave, OverlongTextsAreNotStoredAtAll) {
  Document doc = Settings("k", "old");
  std::string long_text(kConfigTextMax + 1, 'x');
  const char* text = long_text.c_str();
  EXPECT_EQ(Save(doc.get(), "k", "str", &text), 0);
  EXPECT_EQ(ConfigLookup(doc.get(), kSection, "k"), "old");

  // 170 elements "1," fill 340 characters; a 171st of "%.10f" does not fit
  // as "dbl", and a list of exactly kConfigTextMax characters does.
  std::vector<double> doubles(171, 1.0);
  int32_t count = 171;
  EXPECT_EQ(Save(doc.get(), "k", "dbl", doubles.data(), &count), 0);
  EXPECT_EQ(ConfigLookup(doc.get(), kSection, "k"), "old");
  // A list is stored only when "k=" and the list fit one line of the file:
  // "{" + 254 digits + 253 commas + "}" = 509 characters do, one more
  // element does not.
  std::vector<int32_t> ones(254, 1);
  count = 254;
  EXPECT_EQ(Save(doc.get(), "k", "int", ones.data(), &count), 0);
  EXPECT_EQ(ConfigLookup(doc.get(), kSection, "k").size(), kConfigLineMax - 2);
  ones.push_back(1);
  count = 255;
  EXPECT_EQ(Save(doc.get(), "k", "int", ones.data(), &count), 0);
  EXPECT_EQ(ConfigLookup(doc.get(), kSection, "k").size(), kConfigLineMax - 2);
}

TEST(BindKeySaveList, FormatsBracedLists) {
  struct Case { const char* type; std::vector<int64_t> values; const char* expected; };
  const Case cases[] = {
      {"int", {1, -2, 3}, "{1,-2,3}"}, {"int", {5}, "{5}"},
      {"uint8", {255, 0}, "{255,0}"}, {"int16", {-32768}, "{-32768}"},
      {"int64", {-3, (int64_t{1} << 53) + 1}, "{-3,9007199254740992}"},
  };
  for (const Case& c : cases) {
    Document doc = Settings("k", "old");
    size_t size = ConfigTypeSize(ConfigResolveType(c.type));
    std::vector<unsigned char> array(c.values.size() * size);
    for (size_t i = 0; i < c.values.size(); ++i) std::memcpy(&array[i * size], &c.values[i], size);
    int32_t count = static_cast<int32_t>(c.values.size());
    EXPECT_EQ(Save(doc.get(), "k", c.type, array.data(), &count), 0);
    EXPECT_EQ(ConfigLookup(doc.get(), kSection, "k"), c.expected) << c.type;
  }
  struct StrCase { std::vector<const char*> values; const char* expected; };
  const StrCase str_cases[] = {
      {{nullptr, "q"}, "{,q}"}, {{"p", nullptr, "q"}, "{p,q}"}, {{"p", "", "q"}, "{p,,q}"},
      {{nullptr}, "{}"}, {{"a b", "c"}, "{a b,c}"},
  };
  for (const StrCase& c : str_cases) {
    Document doc = Settings("k", "old");
    int32_t count = static_cast<int32_t>(c.values.size());
    auto* array = const_cast<const char**>(c.values.data());
    EXPECT_EQ(Save(doc.get(), "k", "str", array, &count), 0);
    EXPECT_EQ(ConfigLookup(doc.get(), kSection, "k"), c.expected);
  }
  double rates[] = {29.97, 0.1};
  Document doc = Settings("k", "old");
  int32_t count = 2;
  EXPECT_EQ(Save(doc.get(), "k", "dbl", rates, &count), 0);
  EXPECT_EQ(ConfigLookup(doc.get(), kSection, "k"), "{29.9700000000,0.1000000000}");
}

TEST(BindKeySaveList, WritesNothingForEmptyAbsentOrUnknown) {
  Document doc = Settings("k", "old");
  int32_t values[] = {1, 2};
  for (int32_t count : {0, -1}) {
    EXPECT_EQ(Save(doc.get(), "k", "int", values, &count), 0);
    EXPECT_EQ(Save(doc.get(), "new", "int", values, &count), 0);
  }
  int32_t count = 2;
  EXPECT_EQ(Save(doc.get(), "k", "int", nullptr, &count), 0);
  EXPECT_EQ(Save(doc.get(), "k", "Int", values, &count), 0);
  EXPECT_EQ(Lines(doc.get()),
            (std::vector<std::string>{"# config file", "[MP4V Settings]", "k=old#note", "[Other]"}));
}

TEST(BindKeyLoadList, SetsCountAndStoresEveryElement) {
  Document doc = Settings("k", "{ 7 ,8,,9 }");
  int16_t array[4] = {-1, -1, -1, -1};
  int32_t count = 100;
  EXPECT_EQ(Load(doc.get(), "k", "int16", array, &count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(array[0], 7);
  EXPECT_EQ(array[1], 8);
  EXPECT_EQ(array[2], 9);
  EXPECT_EQ(array[3], -1);

  count = 100;
  EXPECT_EQ(Load(doc.get(), "k", "int16", nullptr, &count), 0);
  EXPECT_EQ(count, 3);
  count = 100;
  int32_t untouched[3] = {5, 5, 5};
  EXPECT_EQ(Load(doc.get(), "k", "Int", untouched, &count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(untouched[0], 5);

  for (const char* text : {"{}", "{ , }", "1,2,3", ""}) {
    Document empty = Settings("k", text);
    count = 100;
    EXPECT_EQ(Load(empty.get(), "k", "int16", array, &count), 0);
    EXPECT_EQ(count, 0) << text;
    EXPECT_EQ(array[0], 7);
  }
}

// A "str" list's elements are texts the document keeps (the address
// sanitizer sees any use after the document is gone); the entry itself is
// only read, so a second load finds the same elements.
TEST(BindKeyLoadList, StrElementsLiveWithTheDocumentAndLeaveTheEntry) {
  Document doc = Settings("k", "{alpha beta,,gamma}tail");
  int32_t count = 0;
  EXPECT_EQ(Load(doc.get(), "k", "str", nullptr, &count), 0);
  EXPECT_EQ(count, 3);

  const std::string expected[] = {"alpha", "beta", "gamma"};
  const char* first[4] = {nullptr, nullptr, nullptr, "spare"};
  const char* second[3] = {};
  EXPECT_EQ(Load(doc.get(), "k", "str", first, &count), 0);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(ConfigLookup(doc.get(), kSection, "k"), "{alpha beta,,gamma}tail");
  EXPECT_EQ(Load(doc.get(), "k", "str", second, &count), 0);
  ASSERT_EQ(count, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(first[i], expected[i]);
    EXPECT_EQ(second[i], expected[i]);
  }
  EXPECT_STREQ(first[3], "spare");

  // Saving the document writes the entry as it was read.
  std::string text;
  ASSERT_TRUE(ConfigSerialize(doc.get(), false, &text));
  EXPECT_NE(text.find("\nk={alpha beta,,gamma}tail #note\n"), std::string::npos);
}

}  // namespace
