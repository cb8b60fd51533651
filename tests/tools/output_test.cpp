// mp4vcfg's JSON: the layout every --json prints, any bytes as valid JSON,
// and numbers as the text output writes them.
#include "mp4vcfg/output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "host/number_text.h"

namespace {

using Json = nlohmann::ordered_json;

// The text of a one-member document {"s": bytes}, between its quotes.
std::string StringOf(const std::string& bytes) {
  const std::string text = mp4vcfg::JsonText(Json::object({{"s", bytes}}));
  const std::string head = "{\n  \"s\": ";
  EXPECT_EQ(0u, text.find(head)) << text;
  EXPECT_EQ("\n}\n", text.substr(text.size() - 3)) << text;
  return text.substr(head.size(), text.size() - head.size() - 3);
}

TEST(Mp4vcfgJson, LayoutSpreadsOnlyWhatHoldsContainers) {
  const Json document = Json::object(
      {{"file", "a.cfg"},
       {"files", Json::array({"a.cfg", nullptr})},
       {"empty", Json::array()},
       {"none", Json::object()},
       {"rows", Json::array({Json::object({{"line", 2u}, {"loses_text", true}}),
                             Json::object({{"line", 7u}, {"loses_text", false}})})},
       {"pairs", Json::object({{"height", Json::array({576, 480})}})}});
  EXPECT_EQ(
      "{\n"
      "  \"file\": \"a.cfg\",\n"
      "  \"files\": [\"a.cfg\", null],\n"
      "  \"empty\": [],\n"
      "  \"none\": {},\n"
      "  \"rows\": [\n"
      "    {\"line\": 2, \"loses_text\": true},\n"
      "    {\"line\": 7, \"loses_text\": false}\n"
      "  ],\n"
      "  \"pairs\": {\n"
      "    \"height\": [576, 480]\n"
      "  }\n"
      "}\n",
      mp4vcfg::JsonText(document));
  // Deeper, what holds containers is spread a step further in.
  EXPECT_EQ(
      "{\n"
      "  \"a\": {\n"
      "    \"b\": [\n"
      "      [1, 2]\n"
      "    ]\n"
      "  }\n"
      "}\n",
      mp4vcfg::JsonText(Json::object(
          {{"a", Json::object({{"b", Json::array({Json::array({1, 2})})}})}})));
}

// Well-formed UTF-8 as it is; every other byte from 0x80 up as the
// character of its number; control characters and DEL escaped, never raw.
TEST(Mp4vcfgJson, StringsHoldAnyBytes) {
  const struct {
    std::string bytes;
    std::string json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"\"q\" \\ /", "\"\\\"q\\\" \\\\ /\""},
      {"\t\n\r", "\"\\t\\n\\r\""},
      {std::string("\x00\x01\x08\x0C\x1F\x7F", 6), "\"\\u0000\\u0001\\u0008\\u000c\\u001f\\u007f\""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5\""},
      // Lone bytes, a cut sequence, an overlong form, a surrogate and a
      // value past U+10FFFF: each byte a character of its own.
      {"\xFF\xFE", "\"\xC3\xBF\xC3\xBE\""},
      {"\xE2\x82 x", "\"\xC3\xA2\xC2\x82 x\""},
      {"\xC0\xAF", "\"\xC3\x80\xC2\xAF\""},
      {"\xED\xA0\x80", "\"\xC3\xAD\xC2\xA0\xC2\x80\""},
      {"\xF4\x90\x80\x80", "\"\xC3\xB4\xC2\x90\xC2\x80\xC2\x80\""},
      {"\x80", "\"\xC2\x80\""},
      {"\xC3", "\"\xC3\x83\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(c.json, StringOf(c.bytes));
  }
  // The same for the names of members.
  EXPECT_EQ("{\n  \"\xC3\xBF\": 1\n}\n", mp4vcfg::JsonText(Json::object({{"\xFF", 1}})));
}

// Whatever the bytes, the text is JSON a strict reader takes (nlohmann's
// own parser refuses text that is no UTF-8), and each byte below 0x80
// reads back as itself.
TEST(Mp4vcfgJson, AnyBytesGiveJsonAStrictReaderTakes) {
  std::mt19937 random(31);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 12, '\0');
    for (char& c : bytes) c = static_cast<char>(round < 256 ? round : random() % 256);
    const std::string text = mp4vcfg::JsonText(Json::object({{"s", bytes}}));
    Json parsed;
    ASSERT_NO_THROW(parsed = Json::parse(text)) << text;
    EXPECT_EQ(std::string::npos, text.find('\x7F')) << text;
    const std::string back = parsed["s"].get<std::string>();
    if (round < 0x80) {
      EXPECT_EQ(bytes, back) << round;
    }
  }
}

// A number is written as show and diff write it as text; JSON has no
// infinities and no NaN, so those are null.
TEST(Mp4vcfgJson, NumbersAsTheTextOutputWritesThem) {
  for (const double value : {25.0, 29.970029970029973, 1e-4, 1e18, 123456789012345683968.0,
                             5e-324, -0.0, 0.1}) {
    SCOPED_TRACE(value);
    EXPECT_EQ("{\n  \"v\": " + mp4v_host::FormatDouble(value) + "\n}\n",
              mp4vcfg::JsonText(Json::object({{"v", value}})));
  }
  for (const double value : {std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), std::nan("")}) {
    EXPECT_EQ("{\n  \"v\": null\n}\n", mp4vcfg::JsonText(Json::object({{"v", value}})));
  }
  EXPECT_EQ("{\n  \"v\": [-2147483648, 0, 18446744073709551615]\n}\n",
            mp4vcfg::JsonText(Json::object(
                {{"v", Json::array({INT32_MIN, 0, std::numeric_limits<uint64_t>::max()})}})));
}

TEST(Mp4vcfgJson, FailureNamesTheFilesTheStatusAndTheLine) {
  EXPECT_EQ(
      "{\n  \"files\": [\"a.cfg\", null],\n  \"exit_code\": 2,\n  \"error\": \"mp4vcfg: \\\"x\\\"\"\n}\n",
      mp4vcfg::FailureJson("files", Json::array({"a.cfg", nullptr}), 2, "mp4vcfg: \"x\""));
}

}  // namespace
