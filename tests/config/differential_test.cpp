// Reading, setting and writing give, to the byte, what the document of
// fixed-size nodes gave (kept in the tests as old_document): over generated
// files of many shapes, the nodes read, every lookup, every set-entry's
// placement and the bytes written in both layouts.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/requests.h"
#include "config/config_file.h"
#include "platform/errors.h"
#include "support/test_util.h"
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
// 3 twice, 4 in the middle).
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
  for (int i = 0; i < lines; ++i) {
    if (settings_at == 4 && i == lines / 2) settings();
    text += Line(r) + end();
  }
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

// A line with a line end, a NUL or a tab at every place of the eight-byte
// words the reader looks at together, and lines about the reader's longest:
// the nodes are the old document's.
TEST(DifferentialTest, LinesEndWhereTheOldReaderEndedThem) {
  int compared = 0;
  for (size_t at = 0; at < 20; ++at) {
    for (const char* special : {"\n", "\r", "\t", "\r\n"}) {
      for (const char* after : {"", "k=1\n", "[S]\n"}) {
        std::string text = std::string(at, 'x') + special + after;
        for (const std::string& lead : {std::string(), std::string("[MP4V Settings]\n")}) {
          const std::string file = lead + text;
          SCOPED_TRACE(testing::PrintToString(file));
          bool oom = false, old_oom = false;
          ConfigDocument doc = ConfigParseText(file, &oom);
          old_document::ConfigDocument old = old_document::ConfigParseText(file, &old_oom);
          ASSERT_EQ(DumpNew(doc.first()), Dump(old.first()));
          ++compared;
        }
      }
    }
    const std::string nul = std::string(at, 'k') + std::string(1, '\0') + "=v # c\n[a]\n";
    bool oom = false, old_oom = false;
    ConfigDocument doc = ConfigParseText(nul, &oom);
    old_document::ConfigDocument old = old_document::ConfigParseText(nul, &old_oom);
    ASSERT_EQ(DumpNew(doc.first()), Dump(old.first())) << at;
  }
  for (size_t length = kConfigLineMax - 9; length <= kConfigLineMax + 9; ++length) {
    for (const char* next : {"", "\n", "\r\n", "[S]\n", "k=1"}) {
      const std::string file = std::string(length, 'L') + next + "\nk=2\n";
      bool oom = false, old_oom = false;
      ConfigDocument doc = ConfigParseText(file, &oom);
      old_document::ConfigDocument old = old_document::ConfigParseText(file, &old_oom);
      ASSERT_EQ(DumpNew(doc.first()), Dump(old.first())) << length << " " << next;
      ++compared;
    }
  }
  EXPECT_EQ(compared, 20 * 4 * 3 * 2 + 19 * 5);
}

// Matching a line's bytes by their length gives what matching the same
// line as a C string gives, part for part.
TEST(DifferentialTest, MatchingBytesByLengthMatchesTheLine) {
  std::vector<std::string> lines = {"", "[", "[]", "[a", "[a]", "[a] x", "[a]  # c", "[]x",
                                    "[ ]", "#", "=", "k", "k=", "k=#", "k =v#", "k= v # ",
                                    "k=v\t#c", "k = v  \v# c", "[k=v", "a#b=c", "  k  =  v  "};
  Random r(99);
  for (int i = 0; i < 400; ++i) {
    std::string line = Line(r);
    line.resize(std::strlen(line.c_str()));  // up to a NUL, as the C string
    lines.push_back(line);
  }
  for (const std::string& line : lines) {
    ConfigLineMatch by_line, by_length;
    ConfigMatchLine(line.c_str(), &by_line);
    ConfigMatchSpan(line.data(), line.size(), &by_length);
    ASSERT_EQ(by_length.kind, by_line.kind) << line;
    ASSERT_EQ(by_length.parts, by_line.parts) << line;
    for (int p = 0; p < by_line.parts; ++p) {
      EXPECT_EQ(by_length.part[p].data, by_line.part[p].data) << line << " part " << p;
      EXPECT_EQ(by_length.part[p].size, by_line.part[p].size) << line << " part " << p;
    }
  }
}

// A record whose every field differs from the files' values, or with a
// field no text holds.
MP4VSettings Record(int kind) {
  MP4VSettings record{};
  for (size_t k = 0; k < kMP4VSettingsKeyCount; ++k) {
    char* field = reinterpret_cast<char*>(&record) + MP4VSettingsKeyTable[k].offset;
    if (std::strcmp(MP4VSettingsKeyTable[k].type_name, "dbl") == 0) {
      const double value = kind == 2 ? std::numeric_limits<double>::infinity() : k + 0.25;
      std::memcpy(field, &value, sizeof value);
    } else {
      const int32_t value = kind == 0 ? 0 : static_cast<int32_t>(k * 7);
      std::memcpy(field, &value, sizeof value);
    }
  }
  return record;
}

// The files both ways of reading are compared over: the generated files
// (the settings first, last, in the middle, twice, absent), each also
// without carriage returns and zero bytes, and borders the writer joins,
// mark-like first lines and zero bytes.
std::vector<std::string> ShapedFiles() {
  const std::string s = "[MP4V Settings]\nwidth=1\n";
  std::vector<std::string> files = {
      "", "\n", s, "\xEF\xBB\xBF" + s, "\xEF\xBB\xBF\xEF\xBB\xBFk=1\n" + s,
      "\xEF\xBB\xBF\xFF\xFEk=1\n" + s, "k=1\r\n\r\n" + s + "[Host]\r\nk=2",
      std::string(kConfigLineMax, 'a') + s,           // the header goes on a cut line
      std::string(kConfigLineMax * 2, 'a') + s, std::string(600, 'a') + s,
      std::string(kConfigLineMax, 'a') + "\n" + s,    // one whole line, then the header
      s + std::string(kConfigLineMax, 'b') + "[Host]\nk=2\n",  // the next one does
      s + std::string(kConfigLineMax, 'b') + "[MP4V Settings]\nk=2\n",
      s + std::string(kConfigLineMax + 30, 'b') + "[Host]\nk=2\n",
      s + std::string(kConfigLineMax, 'b') + "\n[Host]\nk=2\n",
      s + std::string(kConfigLineMax * 2 + 5, 'c') + "\nk=3",
      "[mp4v settings]\r" + std::string("\0x=1\r", 5) + "[MP4V Settings]\nheight=2\n",
      std::string("[MP4V Settings\0]\nk=1\n[MP4V Settings]\n", 37), "[MP4V Settings] x\n",
      "\n[Host]\n#c\n[MP4V Settings] # mine\n\nwidth = 3 # w\n[]\n[MP4V Settings]\nheight=4\n"};
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    files.push_back(File(seed, static_cast<int>(seed % 30), static_cast<int>(seed % 5)));
    // The same without carriage returns and zero bytes, which most files
    // written by this module are.
    std::string plain;
    for (char c : files.back()) {
      if (c != '\r' && c != '\0') plain += c;
    }
    files.push_back(plain);
  }
  return files;
}

// A save that reads only the settings' first section into a document
// writes, to the byte, what a save of the whole document writes.
TEST(DifferentialTest, SaveOfTheSettingsSectionWritesWhatTheWholeDocumentWrites) {
  const std::vector<std::string> files = ShapedFiles();
  int compared = 0;
  int by_section_found = 0;  // files whose section a save reads alone
  for (size_t f = 0; f < files.size(); ++f) {
    size_t begin = 0, end = 0;
    by_section_found += ConfigFindSectionBody(files[f], "MP4V Settings", &begin, &end);
    for (int kind = 0; kind < 3; ++kind) {
      SCOPED_TRACE("file " + std::to_string(f) + ", record " + std::to_string(kind) + ": " +
                   testing::PrintToString(files[f]));
      const MP4VSettings record = Record(kind);
      std::string by_section = "unset", whole = "unset";
      const MP4VSaveTextResult result = MP4VConfigSaveText(files[f], &record, &by_section);
      MP4VConfigSetWholeDocumentSaveForTesting(true);
      const MP4VSaveTextResult whole_result = MP4VConfigSaveText(files[f], &record, &whole);
      MP4VConfigSetWholeDocumentSaveForTesting(false);
      ASSERT_EQ(result, whole_result);
      ASSERT_EQ(by_section, whole);
      compared += result == MP4VSaveTextResult::kWritten;
    }
  }
  // Every record but the one no text holds is written, and most files
  // were saved both ways.
  EXPECT_GE(compared, static_cast<int>(files.size()) * 2);
  EXPECT_GT(by_section_found, static_cast<int>(files.size()) * 3 / 4);
}

// A save over a file this module wrote (every line kept as read) names the
// lines around the settings' section in the bytes it read instead of
// copying them, and the text it names is, to the byte, what a save of the
// whole document writes: with the section first, in the middle and last.
TEST(DifferentialTest, ASaveOverAFileItWroteNamesTheOtherLinesWithoutACopy) {
  const MP4VSettings first_record = Record(0);
  int spliced = 0;
  int spliced_before_lines = 0;  // with lines after the section too
  int updates_spliced = 0;
  int saved = 0;
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    std::string written;
    MP4VConfigSetWholeDocumentSaveForTesting(true);
    const MP4VSaveTextResult made =
        MP4VConfigSaveText(File(seed, static_cast<int>(seed % 30), static_cast<int>(seed % 5)),
                           &first_record, &written);
    MP4VConfigSetWholeDocumentSaveForTesting(false);
    if (made != MP4VSaveTextResult::kWritten) continue;
    for (int kind = 0; kind < 3; ++kind) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", record " + std::to_string(kind) + ": " +
                   testing::PrintToString(written));
      const MP4VSettings record = Record(kind);
      std::string whole = "unset";
      MP4VConfigSetWholeDocumentSaveForTesting(true);
      const MP4VSaveTextResult whole_result = MP4VConfigSaveText(written, &record, &whole);
      MP4VConfigSetWholeDocumentSaveForTesting(false);
      FileText text;
      uint32_t error = 0;
      const FileDecision decision = MP4VConfigDecideSave(written, &record, &text, &error);
      ASSERT_EQ(decision == FileDecision::kWrite, whole_result == MP4VSaveTextResult::kWritten);
      if (decision != FileDecision::kWrite) continue;
      ++saved;
      ASSERT_EQ(text.Whole(written), whole);
      if (text.head != 0 || text.tail != FileText::npos) {
        ++spliced;
        spliced_before_lines += text.tail < written.size();
      }
      // An update names them the same way, and writes what a save of the
      // whole document writes for the record it decides on.
      FileText updated;
      MP4VSettings merged;
      ASSERT_EQ(MP4VConfigDecideUpdate(written, &first_record, &record, &merged, &updated, &error),
                FileDecision::kWrite);
      std::string merged_whole;
      MP4VConfigSetWholeDocumentSaveForTesting(true);
      ASSERT_EQ(MP4VConfigSaveText(written, &merged, &merged_whole), MP4VSaveTextResult::kWritten);
      MP4VConfigSetWholeDocumentSaveForTesting(false);
      ASSERT_EQ(updated.Whole(written), merged_whole);
      updates_spliced += updated.head != 0 || updated.tail != FileText::npos;
    }
  }
  EXPECT_GT(saved, 300);
  EXPECT_GT(spliced, saved / 2) << "most saves over a file the module wrote copy nothing";
  EXPECT_GT(spliced_before_lines, 0) << "none had lines after the section";
  EXPECT_GT(updates_spliced, saved / 2) << "most updates copy nothing either";
}


// A save that writes the file as it reads it, in pieces, writes, to the
// byte, what the decision from the file read whole writes, whatever the
// sizes of the pieces the file is read in; it does so over every file the
// module wrote, large ones too, and where it holds back it hands over
// nothing final. What it holds, put back in place of the section it wrote,
// is the file it read.
TEST(DifferentialTest, ASaveWrittenAsTheFileIsReadWritesWhatTheWholeFileDecides) {
  std::vector<std::string> files = ShapedFiles();
  const size_t shaped = files.size();
  std::vector<bool> module_wrote(shaped, false);
  const MP4VSettings first_record = Record(1);
  for (size_t f = 0; f < shaped; f += 3) {
    std::string written;
    if (MP4VConfigSaveText(files[f], &first_record, &written) != MP4VSaveTextResult::kWritten) {
      continue;
    }
    files.push_back(written);
    // Large: 4,000 lines of another program before and after the settings,
    // so that the file is read in many pieces around them.
    if (f % 30 == 0) {
      std::string lines;
      for (int i = 0; i < 4000; ++i) lines += "recent" + std::to_string(i) + "=C:\\clip" + std::to_string(i * 7) + ".m4v\n";
      std::string big;
      ASSERT_EQ(MP4VConfigSaveText("[Recent]\n" + lines + written + "\n[After]\n" + lines,
                                   &first_record, &big),
                MP4VSaveTextResult::kWritten);
      files.push_back(big);
    }
  }
  module_wrote.resize(files.size(), true);
  const int module_files = static_cast<int>(files.size() - shaped);
  int streamed = 0;
  int streamed_module_wrote = 0;
  for (size_t f = 0; f < files.size(); ++f) {
    const std::string& file = files[f];
    for (int kind = 0; kind < 2; ++kind) {
      const MP4VSettings record = Record(kind);
      FileText after;
      uint32_t error = 0;
      const FileDecision decision = MP4VConfigDecideSave(file, &record, &after, &error);
      for (const size_t piece : {size_t{1}, size_t{7}, size_t{4093}, size_t{1} << 20}) {
        SCOPED_TRACE("file " + std::to_string(f) + ", record " + std::to_string(kind) +
                     ", pieces of " + std::to_string(piece) + ": " +
                     testing::PrintToString(file.substr(0, 2000)));
        size_t at = 0;
        const auto read = [&](char* into, size_t room, size_t* got) {
          *got = std::min({room, piece, file.size() - at});
          std::memcpy(into, file.data() + at, *got);
          at += *got;
          return true;
        };
        std::string out;
        const auto write = [&](const char* data, size_t size) {
          out.append(data, size);
          return true;
        };
        FileSplice splice;
        const StreamDecision streamed_decision =
            MP4VConfigStreamSave(read, write, &record, &splice, &error);
        ASSERT_NE(streamed_decision, StreamDecision::kStop);
        // Wherever the decision names the lines around the section as
        // read, the save writes them as it reads them.
        if (decision == FileDecision::kWrite && after.tail != FileText::npos) {
          ASSERT_EQ(streamed_decision, StreamDecision::kWritten);
        }
        if (streamed_decision != StreamDecision::kWritten) continue;
        ++streamed;
        streamed_module_wrote += module_wrote[f];
        ASSERT_EQ(decision, FileDecision::kWrite);
        ASSERT_TRUE(out == after.Whole(file));
        ASSERT_LE(splice.at + splice.size, out.size());
        ASSERT_TRUE(out.substr(0, splice.at) + splice.held + out.substr(splice.at + splice.size) ==
                    file);
        // The reading stops at the file's end, not before.
        ASSERT_EQ(at, file.size());
      }
    }
  }
  // Four sizes of piece and two records for each file.
  EXPECT_GT(streamed_module_wrote, module_files * 8 * 9 / 10)
      << "most files the module wrote are written as they are read";
  EXPECT_GT(streamed, streamed_module_wrote) << "and some others";
}

// The line of `key` in `text` (aligned as the writer writes it), from its
// first byte to its line feed, or npos.
size_t KeyLine(const std::string& text, const std::string& key, size_t* end) {
  const size_t at = text.find("\n" + key + " ");
  if (at == std::string::npos) return at;
  *end = text.find('\n', at + 1);
  return at + 1;
}

// A load that reads only the settings' first section into a document (where
// it holds every key) gives, to the byte, the record a load of the whole
// document gives: over the shaped files, the files a save of them writes
// (every key in the first section), and those with one key's line moved to
// a later section of the settings, repeated there, commented out, written
// in capitals or with the section's header in small letters.
TEST(DifferentialTest, LoadOfTheSettingsSectionGivesWhatTheWholeDocumentGives) {
  std::vector<std::string> files = ShapedFiles();
  const size_t shaped = files.size();
  for (size_t f = 0; f < shaped; ++f) {
    const MP4VSettings record = Record(static_cast<int>(f % 2));
    std::string saved;
    MP4VConfigSetWholeDocumentSaveForTesting(true);
    const MP4VSaveTextResult made = MP4VConfigSaveText(files[f], &record, &saved);
    MP4VConfigSetWholeDocumentSaveForTesting(false);
    if (made != MP4VSaveTextResult::kWritten) continue;
    files.push_back(saved);
    const std::string key = MP4VSettingsKeyTable[f % kMP4VSettingsKeyCount].key;
    size_t end = 0;
    const size_t line = KeyLine(saved, key, &end);
    if (line == std::string::npos || end == std::string::npos) continue;
    std::string moved = saved;
    moved.erase(line, end + 1 - line);
    files.push_back(moved + "\n[MP4V Settings]\n" + key + " = 4242\n");
    files.push_back(saved + "\n[MP4V Settings]\n" + key + "=5151\n");
    files.push_back(std::string(saved).insert(line, "#"));
    std::string capitals = saved;
    for (size_t i = line; i < line + key.size(); ++i) {
      capitals[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(capitals[i])));
    }
    files.push_back(capitals);
    std::string small_header = saved;
    const size_t header = small_header.find("[MP4V Settings]");
    if (header != std::string::npos) small_header.replace(header, 15, "[mp4v settings]");
    files.push_back(small_header);
    if (f % 7 == 0) files.push_back("\xFF\xFE\n" + saved);
  }
  ASSERT_GT(files.size(), shaped * 4);
  testutil::ScratchDir dir;
  const std::string path = dir.File("shaped.cfg");
  for (size_t f = 0; f < files.size(); ++f) {
    SCOPED_TRACE("file " + std::to_string(f) + ": " + testing::PrintToString(files[f]));
    testutil::WriteBytes(path, files[f]);
    for (int kind = 1; kind < 3; ++kind) {
      MP4VSettings by_section = Record(kind);
      MP4VSettings whole = Record(kind);
      MP4VConfigLoadText(files[f], &by_section);
      MP4VConfigSetWholeDocumentLoadForTesting(true);
      MP4VConfigLoadText(files[f], &whole);
      MP4VConfigSetWholeDocumentLoadForTesting(false);
      ASSERT_EQ(std::memcmp(&by_section, &whole, sizeof whole), 0);
      // The load of the file, which reads it in pieces up to the end of
      // the settings' first section where that section holds every key.
      MP4VSettings from_file = Record(kind);
      uint32_t error = 0;
      const bool read = MP4VConfigTransfer("load", path.c_str(), &from_file, &error);
      if (ConfigHasUtf16Mark(files[f].data(), files[f].size())) {
        // UTF-16 text is refused, though its settings are 8-bit text.
        EXPECT_FALSE(read);
        EXPECT_EQ(error, PlatformErrorCode(ModuleFailure::kUnsupportedText));
        continue;
      }
      ASSERT_TRUE(read) << error;
      EXPECT_EQ(error, 0u);
      ASSERT_EQ(std::memcmp(&from_file, &whole, sizeof whole), 0);
    }
  }
}

}  // namespace
