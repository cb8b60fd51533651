// Reading, setting and writing give, to the byte, what the document of
// fixed-size nodes gave (kept in the tests as old_document): over generated
// files of many shapes, the nodes read, every lookup, every set-entry's
// placement and the bytes written in both layouts.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/config_file.h"
#include "config/document.h"
#include "config/old_document/old_config_file.h"
#include "config/old_document/old_document.h"
#include "settings/key_table.h"

namespace {

// A small deterministic generator (the same files on every run and
// platform).
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed * 2654435761u + 1) {}
  uint32_t Next(uint32_t bound) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_ % bound;
  }

 private:
  uint32_t state_;
};

const char* const kSections[] = {"MP4V Settings", "mp4v settings", "Host", "Recent", "S"};
const char* const kKeys[] = {"width", "WIDTH", "height", "frame_rate", "k", "recent1", "[x",
                             ""};
const char* const kEnds[] = {"\n", "\r\n", "\r"};

// One generated line, without its line end.
std::string Line(Random& r) {
  const std::string key = kKeys[r.Next(8)];
  switch (r.Next(14)) {
    case 0:
      return "[" + std::string(kSections[r.Next(5)]) + "]";
    case 1:
      return "[" + std::string(kSections[r.Next(5)]) + "] # about " + key;
    case 2:
      return "# a comment " + key;
    case 3:
      return key + " = " + std::to_string(r.Next(100000));
    case 4:
      return key + "=" + std::to_string(r.Next(10)) + " # note";
    case 5:
      return "  " + key + "  =  v a l  #c";
    case 6:
      return std::string(300 + r.Next(900), 'a' + static_cast<char>(r.Next(26)));  // long
    case 7:
      return key + " = " + std::string(500 + r.Next(40), 'v');  // at the line's limit
    case 8:
      return std::string("k\0v = 1", 7);  // a zero byte inside
    case 9:
      return std::string("\0lead", 5);  // led by a zero byte
    case 10:
      return "=" + key;
    case 11:
      return key + " second = 2";
    case 12:
      return "";
    default:
      return key + " =#x";
  }
}

// A file: `lines` generated lines with line ends of one kind or mixed, and
// the settings section where `settings_at` says (0 none, 1 first, 2 last,
// 3 twice).
std::string File(uint32_t seed, int lines, int settings_at) {
  Random r(seed);
  std::string text = r.Next(4) == 0 ? "\xEF\xBB\xBF" : "";
  const int end_kind = static_cast<int>(r.Next(4));  // 3: mixed
  auto end = [&] { return std::string(kEnds[end_kind == 3 ? r.Next(3) : end_kind]); };
  auto settings = [&] {
    text += "[MP4V Settings]" + end();
    for (int i = 0; i < 6; ++i) {
      text += std::string(MP4VSettingsKeyTable[r.Next(kMP4VSettingsKeyCount)].key) + " = " +
              std::to_string(r.Next(1000)) + end();
    }
  };
  if (settings_at == 1 || settings_at == 3) settings();
  for (int i = 0; i < lines; ++i) text += Line(r) + end();
  if (settings_at == 2 || settings_at == 3) settings();
  if (r.Next(3) == 0 && !text.empty()) text.pop_back();  // no last line end
  return text;
}

template <typename Node>
std::string Dump(const Node* node) {
  std::string out;
  for (; node != nullptr; node = node->next) {
    out += std::to_string(node->kind) + "|" + std::string(node->name) + "|" +
           std::string(node->value) + "|" + std::string(node->comment) + "|" +
           (node->as_read != nullptr ? std::string(node->as_read, node->as_read_size) : "-") +
           "|" + std::to_string(node->continued) + std::to_string(node->form_loses_text) + "\n";
  }
  return out;
}

std::string DumpNew(const ConfigNode* node) {
  std::string out;
  for (; node != nullptr; node = node->next) {
    out += std::to_string(node->kind) + "|" + std::string(node->name()) + "|" +
           std::string(node->value()) + "|" + std::string(node->comment()) + "|" +
           (node->as_read() != nullptr ? std::string(node->as_read(), node->as_read_size) : "-") +
           "|" + std::to_string(node->continued) + std::to_string(node->form_loses_text) + "\n";
  }
  return out;
}

struct Set {
  std::string section, key, value;
};

TEST(DifferentialTest, ReadSetAndWriteGiveTheOldDocumentsBytes) {
  std::vector<std::string> files = {"", "\n\r\n", "\xEF\xBB\xBF", "k = 1", "[MP4V Settings]",
                                    std::string(2000, 'x'), std::string("\0\0\n", 3)};
  for (uint32_t seed = 1; seed <= 240; ++seed) {
    const int lines = seed % 6 == 0 ? 1 : static_cast<int>(seed % 40);
    files.push_back(File(seed, lines, static_cast<int>(seed % 4)));
  }
  int compared = 0;
  for (size_t f = 0; f < files.size(); ++f) {
    const std::string& text = files[f];
    SCOPED_TRACE("file " + std::to_string(f) + ": " + testing::PrintToString(text));
    bool oom = false, old_oom = false, mark = false, old_mark = false;
    ConfigDocument doc = ConfigParseText(text, &oom, &mark);
    old_document::ConfigDocument old = old_document::ConfigParseText(text, &old_oom, &old_mark);
    ASSERT_FALSE(oom || old_oom);
    EXPECT_EQ(mark, old_mark);
    ASSERT_EQ(DumpNew(doc.first()), Dump(old.first()));
    // Lookups of every generated name.
    for (const char* section : kSections) {
      for (const char* key : kKeys) {
        const std::string_view found = ConfigLookup(doc.first(), section, key);
        const char* old_found = old_document::ConfigLookup(old.first(), section, key);
        ASSERT_EQ(found.data() == nullptr, old_found == nullptr) << section << "/" << key;
        if (old_found != nullptr) {
          EXPECT_EQ(found, old_found);
        }
      }
    }
    // The same set-entries, then the bytes both write.
    Random r(static_cast<uint32_t>(f) + 7);
    std::vector<Set> sets;
    for (int i = 0; i < 12; ++i) {
      sets.push_back({kSections[r.Next(5)], kKeys[r.Next(8)],
                      r.Next(5) == 0 ? std::string(r.Next(520), 'n')
                                     : std::to_string(r.Next(1000))});
    }
    for (int i = 0; i < 4; ++i) {
      sets.push_back({"MP4V Settings", MP4VSettingsKeyTable[r.Next(kMP4VSettingsKeyCount)].key,
                      std::to_string(r.Next(50))});
    }
    for (const Set& s : sets) {
      bool full = false, old_full = false;
      ConfigNode* made = ConfigSetEntry(doc.first(), s.section.c_str(), s.key.c_str(),
                                        s.value.c_str(), &full);
      old_document::ConfigNode* old_made = old_document::ConfigSetEntry(
          old.first(), s.section.c_str(), s.key.c_str(), s.value.c_str(), &old_full);
      ASSERT_EQ(made == nullptr, old_made == nullptr);
      EXPECT_FALSE(full || old_full);
      if (doc.empty()) doc.Append(made);
      if (old.empty()) old.Append(old_made);
    }
    ASSERT_EQ(DumpNew(doc.first()), Dump(old.first()));
    for (bool aligned : {true, false}) {
      std::string out, old_out;
      ASSERT_TRUE(ConfigSerialize(doc.first(), aligned, &out, mark));
      ASSERT_TRUE(old_document::ConfigSerialize(old.first(), aligned, &old_out, old_mark));
      EXPECT_EQ(out, old_out);
    }
    ++compared;
  }
  EXPECT_EQ(compared, static_cast<int>(files.size()));
}

}  // namespace
