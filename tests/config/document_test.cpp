#include "config/document.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "support/doc_util.h"

using testutil::Describe;
using testutil::Parse;

namespace {

TEST(ConfigNamesEqualTest, FoldsOnlyAsciiLetters) {
  EXPECT_TRUE(ConfigNamesEqual("MP4V Settings", "mp4v settings"));
  EXPECT_TRUE(ConfigNamesEqual("WIDTH", "width"));
  EXPECT_FALSE(ConfigNamesEqual("width ", "width"));
  EXPECT_FALSE(ConfigNamesEqual("widt", "width"));
  EXPECT_FALSE(ConfigNamesEqual(" MP4V Settings ", "MP4V Settings"));
  EXPECT_FALSE(ConfigNamesEqual("\xC4", "\xE4"));  // Latin-1 letters differ
  EXPECT_FALSE(ConfigNamesEqual("[", "{"));        // 0x5B vs 0x7B
  EXPECT_TRUE(ConfigNamesEqual("", ""));
}

struct LookupCase {
  const char* file;
  const char* key;
  const char* expected;  // null: not found
};

class LookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(LookupTest, FindsTheFirstMatchInAnySectionOfTheName) {
  const LookupCase& c = GetParam();
  auto doc = Parse(c.file);
  const std::string_view value = ConfigLookup(doc.first(), "MP4V Settings", c.key);
  if (c.expected == nullptr) {
    EXPECT_EQ(value.data(), nullptr);
  } else {
    ASSERT_NE(value.data(), nullptr);
    EXPECT_EQ(value, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LookupTest,
    testing::Values(
        LookupCase{"[mp4v settings]\nWIDTH=720\n", "width", "720"},
        LookupCase{"[ MP4V Settings ]\nwidth=720\n", "width", nullptr},
        LookupCase{"width=1\n[MP4V Settings]\nheight=2\n", "width", nullptr},
        LookupCase{"[MP4V Settings]\na=1\n[Other]\nwidth=5\n[MP4V Settings]\n"
                   "width=7\n",
                   "width", "7"},
        LookupCase{"[MP4V Settings]\nwidth=1\nwidth=2\n", "width", "1"},
        // A free line matching the key by its whole text gives its value.
        LookupCase{"[MP4V Settings]\n#width\n", "#width", ""},
        LookupCase{"", "width", nullptr}));

TEST(LookupTest, NullArgumentsFindNothing) {
  auto doc = Parse("[MP4V Settings]\nwidth=1\n");
  EXPECT_EQ(ConfigLookup(doc.first(), nullptr, "width").data(), nullptr);
  EXPECT_EQ(ConfigLookup(doc.first(), "MP4V Settings", nullptr).data(), nullptr);
  EXPECT_EQ(ConfigLookup(nullptr, "MP4V Settings", "width").data(), nullptr);
}

struct SetCase {
  const char* name;
  const char* file;
  const char* key;
  const char* expected;
};

class SetEntryTest : public testing::TestWithParam<SetCase> {};

TEST_P(SetEntryTest, PlacesTheEntry) {
  const SetCase& c = GetParam();
  auto doc = Parse(c.file);
  ASSERT_FALSE(doc.empty());
  ConfigSetEntry(doc.first(), "S", c.key, "v");
  EXPECT_EQ(Describe(doc.first()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Placement, SetEntryTest,
    testing::Values(
        SetCase{"OverwritesInPlaceKeepingSpellingAndComment",
                "[s]\nKEY = old # note\nz=1\n", "key", "[s]|KEY=v# note|z=1"},
        SetCase{"BeforeNextSectionAfterTrailingFreeLines",
                "[S]\na=1\n# tail\n[T]\nb=2\n", "k", "[S]|a=1|~# tail|k=v|[T]|b=2"},
        SetCase{"EmptySectionFollowedByAnother", "[S]\n[T]\n", "k",
                "[S]|k=v|[T]"},
        SetCase{"LastSectionAppendsAtEnd", "[T]\n[S]\na=1\n", "k",
                "[T]|[S]|a=1|k=v"},
        SetCase{"HeaderIsLastNode", "# x\n[S]\n", "k", "~# x|[S]|k=v"},
        SetCase{"MissingSectionIsAppended", "# x\n[T]\na=1\n", "k",
                "~# x|[T]|a=1|[S]|k=v"},
        SetCase{"EntryBeforeFirstHeaderIsNotUpdated", "k=old\n[S]\n", "k",
                "k=old|[S]|k=v"},
        SetCase{"OnlyTheFirstSectionOfTheNameChanges",
                "[S]\na=1\n[T]\n[S]\nk=old\n", "k",
                "[S]|a=1|k=v|[T]|[S]|k=old"},
        SetCase{"FreeLineWithTheKeyTakesTheValue", "[S]\n#k\n", "#K",
                "[S]|~#k=v"}),
    [](const testing::TestParamInfo<SetCase>& info) { return info.param.name; });

// A new entry goes before a body's last line that goes on into the next
// header, so that the line stays whole; but where that line began with the
// section's own header, there is no such place in the body, and the entry
// goes after its last part. Here the header's line, 1,025 characters, is
// read in three parts: the header with its comment, a free line, the next
// header.
TEST(SetEntryTest, ALineBegunByTheHeaderItselfIsPartedAfterItsLastBodyPart) {
  const std::string head = "[S] #" + std::string(506, 'x');  // 511 characters
  const std::string middle = "#" + std::string(510, 'y');
  auto doc = Parse(head + middle + "[T]\n");
  ASSERT_EQ(Describe(doc.first()), "[S]#" + std::string(506, 'x') + "|~" + middle + "|[T]");
  ASSERT_NE(ConfigSetEntry(doc.first(), "S", "k", "v"), nullptr);
  EXPECT_EQ(Describe(doc.first()),
            "[S]#" + std::string(506, 'x') + "|~" + middle + "|k=v|[T]");
}

TEST(SetEntryTest, SecondKeyOfANewSectionFollowsTheFirst) {
  auto doc = Parse("# x\n");
  ConfigSetEntry(doc.first(), "S", "a", "1");
  ConfigSetEntry(doc.first(), "S", "b", "2");
  EXPECT_EQ(Describe(doc.first()), "~# x|[S]|a=1|b=2");
  // From now on the lookup finds the new entries.
  EXPECT_EQ(ConfigLookup(doc.first(), "s", "B"), "2");
}

TEST(SetEntryTest, EmptyDocumentGetsHeaderAndEntry) {
  testutil::Document doc(ConfigSetEntry(nullptr, "S", "k", "v"));
  EXPECT_EQ(Describe(doc.first()), "[S]|k=v");
}

TEST(SetEntryTest, AbsentArgumentsAndOverlongValuesChangeNothing) {
  auto doc = Parse("[S]\nk=old\n");
  EXPECT_EQ(ConfigSetEntry(doc.first(), nullptr, "k", "v"), nullptr);
  EXPECT_EQ(ConfigSetEntry(doc.first(), "S", nullptr, "v"), nullptr);
  EXPECT_EQ(ConfigSetEntry(doc.first(), "S", "k", nullptr), nullptr);
  // "k=" and the value fill one line of the file at most.
  std::string longest(kConfigLineMax - 2, 'x');
  std::string too_long(kConfigLineMax - 1, 'x');
  EXPECT_EQ(ConfigSetEntry(doc.first(), "S", "k", too_long.c_str()), nullptr);
  EXPECT_EQ(ConfigSetEntry(doc.first(), "S", "k", std::string(kConfigTextMax + 1, 'x').c_str()),
            nullptr);
  EXPECT_EQ(Describe(doc.first()), "[S]|k=old");
  ConfigSetEntry(doc.first(), "S", "k", longest.c_str());
  EXPECT_EQ(ConfigLookup(doc.first(), "S", "k"), longest);
}

// Nothing is added that a file cannot hold: each of these would be written
// as a line that reads back as another kind of line, another name or more
// lines.
TEST(SetEntryTest, RefusesWhatAFileCannotHold) {
  const std::string long_section(kConfigLineMax, 's');
  const std::string longest_section(kConfigLineMax - 1, 's');
  const std::string long_key(kConfigLineMax - 2, 'k');
  struct Case {
    const char* what;
    std::string section, key, value;
    bool added;
  };
  const Case cases[] = {
      {"plain", "T", "k", "v", true},
      {"key beginning with #", "T", "#k", "v", false},
      {"key beginning with =", "T", "=k", "v", false},
      {"key holding = inside", "T", "a=b", "v", false},
      {"key holding a blank", "T", "a b", "v", false},
      {"key holding a tab", "T", "a\tb", "v", false},
      {"empty key (written with a guard blank)", "T", "", "v", true},
      {"key beginning with [", "T", "[k", "v", true},
      {"value holding a line feed", "T", "k", "1\n[Other]", false},
      {"value holding a carriage return", "T", "k", "1\r", false},
      {"value holding # (reads back cut, still one entry)", "T", "k", "a#b", true},
      {"empty section name", "", "k", "v", false},
      {"section name holding ]", "a]b", "k", "v", false},
      {"section name holding a line feed", "a\nb", "k", "v", false},
      {"section name of 510 characters", longest_section, "k", "v", true},
      {"section name of 511 characters", long_section, "k", "v", false},
      {"key and value one past a line", "T", long_key, "vv", false},
      {"key and value filling a line", "T", long_key, "v", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto doc = Parse("[S]\nk=old\n");
    ConfigNode* added = ConfigSetEntry(doc.first(), c.section.c_str(),
                                       c.key.c_str(), c.value.c_str());
    EXPECT_EQ(added != nullptr, c.added);
    if (!c.added) {
      EXPECT_EQ(Describe(doc.first()), "[S]|k=old");
    }
  }
}

// An entry read from a file keeps its place only as long as its line still
// fits with the new value.
TEST(SetEntryTest, AnEntryTakesOnlyAValueThatStillFitsItsLine) {
  const std::string key(500, 'k');
  auto doc = Parse("[S]\n" + key + "=1\n");
  ConfigSetEntry(doc.first(), "S", key.c_str(), "0123456789");  // 511 characters
  EXPECT_EQ(ConfigLookup(doc.first(), "S", key.c_str()), "0123456789");
  ConfigSetEntry(doc.first(), "S", key.c_str(), "01234567890");
  EXPECT_EQ(ConfigLookup(doc.first(), "S", key.c_str()), "0123456789");
}

// A document holds the text its lines as read view: the caller's bytes may
// change or go, and the document may move (also a text short enough to live
// inside a string object), and every kept line is still written as read.
TEST(DocumentTest, HoldsTheTextItsLinesView) {
  const std::string long_line(600, 'z');
  const struct {
    std::string text, written;
  } cases[] = {
      {"k = 1\n", "k = 1\n"},
      {"# top\r\n[S]\r\nk  =  2 # c\r\n" + long_line + "\r\n",
       "# top\n\n[S]\nk  =  2 # c\n" + long_line + "\n"},
  };
  for (const auto& c : cases) {
    std::string bytes = c.text;
    bool out_of_memory = false;
    ConfigDocument parsed = ConfigParseText(bytes, &out_of_memory);
    bytes.assign(bytes.size(), '?');
    std::vector<ConfigDocument> moved;
    moved.push_back(std::move(parsed));
    for (int i = 0; i < 8; ++i) moved.emplace_back();  // reallocates
    ConfigDocument doc;
    doc = std::move(moved.front());
    EXPECT_TRUE(moved.front().empty());
    std::string out;
    ASSERT_TRUE(ConfigSerialize(doc.first(), true, &out));
    EXPECT_EQ(out, c.written);
  }
}

// No node of a document views text the document does not hold: one that
// came with a view elsewhere is written in the writer's own form.
TEST(DocumentTest, AppendedNodesViewOnlyTheDocumentsText) {
  ConfigDocument doc("k = 1\n");
  const char* own = doc.text().data();
  const std::string elsewhere = "j  =  2";
  ConfigNode* inside = ConfigNewEntry("k", "1", nullptr);
  ConfigNode* outside = ConfigNewEntry("j", "2", nullptr);
  ConfigNode* past_the_end = ConfigNewEntry("i", "3", nullptr);
  ASSERT_TRUE(inside != nullptr && outside != nullptr && past_the_end != nullptr);
  ConfigViewAsRead(inside, own, 5);
  ConfigViewAsRead(outside, elsewhere.data(), 7);
  ConfigViewAsRead(past_the_end, own + 2, 5);
  inside->next = outside;
  doc.Append(inside);
  doc.Append(past_the_end);
  std::string out;
  ASSERT_TRUE(ConfigSerialize(doc.first(), false, &out));
  EXPECT_EQ(out, "k = 1\nj=2\ni=3\n");
}

TEST(ConstructorTest, CopiesTextsAndKeepsEmptyCommentsEmpty) {
  testutil::Document entry(ConfigNewEntry("k", "v", ""));
  EXPECT_EQ(entry.first()->kind, kConfigEntry);
  EXPECT_EQ(entry.first()->comment(), "");
  EXPECT_EQ(entry.first()->next, nullptr);
  testutil::Document header(ConfigNewSection("S", nullptr));
  EXPECT_EQ(header.first()->kind, kConfigSection);
  EXPECT_EQ(header.first()->value(), "");
  testutil::Document line(ConfigNewFreeLine("# x"));
  EXPECT_EQ(line.first()->kind, kConfigFreeLine);
  EXPECT_EQ(line.first()->name(), "# x");
  // Text past the field's capacity is cut at its last byte, never beyond.
  std::string huge(3000, 'y');
  testutil::Document big(ConfigNewFreeLine(huge.c_str()));
  EXPECT_EQ(std::string(big.first()->name()), huge.substr(0, kConfigTextMax));
  ConfigFreeDocument(nullptr);  // the empty document: nothing to release
}

}  // namespace
