// mp4vcfg check against the module's real save, on files made of the pieces
// that trip readers up: what check says of a file is what the save does.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "check_property.h"
#include "api/module.h"
#include "api/requests.h"
#include "mp4vcfg/check.h"
#include "support/test_util.h"

namespace {

// A random file of settings-like lines, with comments of both kinds, keys of
// several words, zero bytes, byte-order marks inside the file, every line
// end, and lines around the longest a line may be.
std::string RandomFile(std::mt19937& rng) {
  static const char* const kPieces[] = {
      "[MP4V Settings]", "[Other]", "[", "]", "#", "=", ";", " ", "  ", "\t",
      std::string("\0", 1).c_str(), "\xEF\xBB\xBF", "width", "frame_rate",
      "height", "quality", "bare", "two words", "720", "0x2D0", "1e-11",
      "12.345678901234", "23.96999999999", "29.97", "px", "-5", "caf\xC3\xA9", "\xFF",
  };
  static const char* const kEnds[] = {"\n", "\r\n", "\r"};
  std::uniform_int_distribution<size_t> piece(0, sizeof kPieces / sizeof *kPieces - 1);
  std::string text;
  const int lines = static_cast<int>(rng() % 12);
  for (int i = 0; i < lines; ++i) {
    std::string line;
    if (rng() % 25 == 0) {
      line = std::string(490 + rng() % 110, 'a' + static_cast<char>(rng() % 3));
    } else {
      for (int k = static_cast<int>(rng() % 7); k > 0; --k) {
        const size_t p = piece(rng);
        line += p == 10 ? std::string(1, '\0') : std::string(kPieces[p]);
      }
    }
    text += line;
    if (i + 1 < lines || rng() % 2 == 0) text += kEnds[rng() % 3];
  }
  return text;
}

TEST(CheckPropertyTest, RandomFilesAgreeWithTheRealSave) {
  std::mt19937 rng(2026);
  testutil::ScratchDir dir;
  const std::string path = dir.File("random.cfg");
  for (int round = 0; round < 1500; ++round) {
    const std::string text = RandomFile(rng);
    const std::string failure = check_property::Verify(text, path);
    ASSERT_EQ(failure, "") << "file: " << testing::PrintToString(text);
  }
}

// What check names, and how: one row a line. The settings section holds
// the values; every other line is kept as it stands.
TEST(CheckTextTest, NamesWhatTheSaveChangesAndNothingElse) {
  struct Row {
    const char* line;
    const char* reason;  // part of the reason; null: not named
    bool loses;
  };
  const std::string longest_line(511, 'n');  // as long as a line may be
  const Row rows[] = {
      {"frame_rate = 12.345678901234", "which loads as 12.345678901199999", true},
      {"bitrate kbps = 5000", nullptr, false},  // not a key of the settings
      {"width = 0x2D0", "as 720, the same number", false},
      {"height = 576 px", "px' after the number is dropped", true},
      {"quality=#9", "the rest of the line is dropped", true},
      {"  [Indented]", nullptr, false},
      {"; a note", nullptr, false},
      {longest_line.c_str(), nullptr, false},
  };
  std::string text = "[MP4V Settings]\n";
  for (const Row& row : rows) text += std::string(row.line) + "\n";
  const std::vector<mp4vcfg::Finding> findings = mp4vcfg::CheckSettingsText(text);
  size_t next = 0;
  for (size_t i = 0; i < sizeof rows / sizeof *rows; ++i) {
    SCOPED_TRACE(rows[i].line);
    if (rows[i].reason == nullptr) {
      EXPECT_TRUE(next == findings.size() || findings[next].line != i + 2);
      continue;
    }
    ASSERT_LT(next, findings.size());
    EXPECT_EQ(findings[next].line, i + 2);
    EXPECT_NE(findings[next].reason.find(rows[i].reason), std::string::npos)
        << findings[next].reason;
    EXPECT_EQ(findings[next].loses_text, rows[i].loses);
    ++next;
  }
  EXPECT_EQ(next, findings.size());
}

// Whole files, and every finding check gives for each, word for word: what
// it says a save writes is what the module's save writes.
TEST(CheckTextTest, SaysWhatTheSaveWrites) {
  auto part = [](const std::string& text) { return text + std::string(511 - text.size(), ' '); };
  struct Expected {
    size_t line;
    std::string reason;
    bool loses;
  };
  const struct {
    const char* name;
    std::string text;
    std::vector<Expected> findings;
  } files[] = {
      {"a rate a file cannot hold",
       "[MP4V Settings]\nframe_rate = 1e-11\n",
       {{2, "'1e-11' loads as 9.9999999999999994e-12, a save writes 0.0000000000, which loads "
            "as 0",
         true}}},
      {"a rate the next load snaps",
       "[MP4V Settings]\nframe_rate = 23.96999999999\n",
       {{2, "'23.96999999999' loads as 23.969999999990002, a save writes 23.9700000000, which "
            "loads as 23.976023976023978",
         true}}},
      // The load snaps 29.97, and the save writes the snapped rate: a load
      // reads both texts as the same rate, which is not the same number.
      {"spelled another way",
       "[MP4V Settings]\nframe_rate = 29.97\nwidth = 0x2D0\n",
       {{2, "a save writes the value '29.97' as 29.9700299700: a load reads both as "
            "29.970029970029973",
         false},
        {3, "a save writes the value '0x2D0' as 720, the same number", false}}},
      {"a comment that no longer fits",
       "[MP4V Settings]\nframe_rate=25 #" + std::string(490, 'c') + "\n",
       {{2, "a save writes the value '25' as 25.0000000000, the same number; the comment moves "
            "to a line of its own (the entry and its comment no longer fit one line)",
         false}}},
      // A line of 1,533 characters read as three settings: one finding.
      {"a long line of settings",
       "[MP4V Settings]\n" + part("width = 1x") + part("height = 2y") + part("quality = 3z") +
           "\n",
       {{2, "a line longer than 511 characters is read in parts, and a save writes a "
            "setting's part on a line of its own: the value loads as 1: 'x' after the number "
            "is dropped; the value loads as 2: 'y' after the number is dropped; the value "
            "loads as 3: 'z' after the number is dropped",
         true}}},
      // A header's line that goes on into another header: the settings a
      // save adds go between the two.
      {"a long header line",
       part("[MP4V Settings]") + "[Other]\nx=1\n",
       {{1, "a line longer than 511 characters is read in parts, and a save adds settings "
            "between them: the line is split",
         true}}},
      // White space after a value and before a comment is layout: the
      // line is rewritten, losing no text, and its tab is quoted escaped.
      {"a tab before a comment",
       "[MP4V Settings]\nwidth = 720\t# note\nheight =\t576 \t\n",
       {{2, "a save writes the value '720\\x09' as 720, the same number", false},
        {3, "a save writes the value '\\x09576 \\x09' as 576, the same number", false}}},
      {"text after a tab", "[MP4V Settings]\nwidth = 720\tpx\n",
       {{2, "the value loads as 720: '\\x09px' after the number is dropped", true}}},
      // The second part of a long line, which loses nothing of its own: the
      // save ends the line before it.
      {"a setting after a long comment",
       "[MP4V Settings]\n#" + std::string(510, 'x') + "width=0720\n",
       {{2, "a line longer than 511 characters is read in parts, and a save writes a "
            "setting's part on a line of its own: a save writes the value '0720' as 720, the "
            "same number",
         true}}},
      // UTF-16 without a byte-order mark: zero bytes in three of four odd
      // places and in none of the even ones; a run of zeros is no UTF-16.
      {"UTF-16 at the threshold", std::string("A\0B\0C\0DE", 9),
       {{1, "UTF-16 text: not readable as 8-bit text (no setting loads from it, and a save "
            "adds them as 8-bit text)",
         true}}},
      {"zero bytes", std::string(4, '\0'), {}},
      // Loaded from a later section, written into the first as another
      // number; the indented header after it is kept as it stands.
      {"a setting from a later section",
       "[MP4V Settings]\nwidth = 0x10\n[Other]\n[MP4V Settings]\n"
       "frame_rate = 12.345678901234\n  [Indented]\nx = 1\n",
       {{2, "a save writes the value '0x10' as 16, the same number", false},
        {5, "frame_rate loads from this line as 12.345678901234001; a save writes it into the "
            "first [MP4V Settings] section, and it then loads as 12.345678901199999",
         true}}},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    const auto findings = mp4vcfg::CheckSettingsText(file.text);
    ASSERT_EQ(findings.size(), file.findings.size());
    for (size_t i = 0; i < findings.size(); ++i) {
      EXPECT_EQ(findings[i].line, file.findings[i].line);
      EXPECT_EQ(findings[i].reason, file.findings[i].reason);
      EXPECT_EQ(findings[i].loses_text, file.findings[i].loses);
    }
  }
  // The real request writes what check names.
  testutil::ScratchDir dir;
  const std::string path = dir.File("rate.cfg");
  check_property::WriteAll(path, files[2].text);
  auto load = reinterpret_cast<MP4VConfigLoadFn>(MP4VConfigGetAPIExt(MP4V_FUNC_LOAD));
  auto save = reinterpret_cast<MP4VConfigSaveFn>(MP4VConfigGetAPIExt(MP4V_FUNC_SAVE));
  MP4VSettings record{};
  ASSERT_EQ(load(&record, path.c_str()), MP4V_STATUS_OK);
  ASSERT_EQ(save(&record, path.c_str()), MP4V_STATUS_OK);
  EXPECT_NE(check_property::ReadAll(path).find("= 29.9700299700"), std::string::npos);
  // UTF-16 without a byte-order mark.
  std::string wide;
  for (char c : std::string("[MP4V Settings]\nwidth=720\n")) {
    wide.push_back(c);
    wide.push_back('\0');
  }
  const auto utf16 = mp4vcfg::CheckSettingsText(wide);
  ASSERT_EQ(utf16.size(), 1u);
  EXPECT_EQ(utf16[0].reason.compare(0, 6, "UTF-16"), 0);
}

// The layout a save changes, from the save's own account: line ends that
// are not the platform's, and the empty lines it adds (before a section
// header) or drops. A long line the save ends is a finding, not layout.
TEST(CheckTextTest, SaysTheLayoutASaveChanges) {
  const std::string platform = std::string(testutil::LineEnd()) == "\r\n" ? "CR LF" : "LF";
  struct Ends {
    std::string from;
    size_t lines;
  };
  const struct {
    const char* name;
    std::string text;
    std::vector<Ends> ends;  // those the platform's line end replaces
    size_t added;
    size_t dropped;
  } files[] = {
      {"as the module writes it", "\n[MP4V Settings]\nwidth = 720\n", {{"LF", 2}}, 0, 0},
      {"CR LF, no empty line before the header, two after a setting",
       "# top\r\n[MP4V Settings]\r\nwidth=720\r\n\r\n\r\n[Other]\r\nx=1\r\n",
       {{"CR LF", 5}},
       1,
       1},
      {"lone CRs, and no line end at the end", "[MP4V Settings]\rwidth=720\r\r\rx=1",
       {{"CR", 2}, {"", 1}},
       1,
       2},
      {"empty lines first and last", "\n\n# a\n\n", {{"LF", 1}}, 0, 3},
      {"nothing but empty lines", "\r\n\r\n", {}, 0, 2},
      {"a byte-order mark before an empty line", "\xEF\xBB\xBF\n[MP4V Settings]\nx=1\n",
       {{"LF", 2}},
       0,
       0},
      {"the empty line kept before the bytes of a UTF-16 mark",
       "\n\xFF\xFE\n[MP4V Settings]\n",
       {{"LF", 2}},
       1,
       0},
      {"a long line the save ends", "[MP4V Settings]\n" + std::string(511, '0') + "width=05\n",
       {{"LF", 2}},
       1,
       0},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    const mp4vcfg::LayoutChange layout = mp4vcfg::JudgeSettingsText(file.text).layout;
    std::vector<std::string> expected;
    for (const Ends& e : file.ends) {
      if (e.from != platform) expected.push_back(e.from + " > " + platform + " " + std::to_string(e.lines));
    }
    std::vector<std::string> got;
    for (const auto& e : layout.line_ends) {
      got.push_back(e.from + " > " + e.to + " " + std::to_string(e.lines));
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(layout.empty_lines_added, file.added);
    EXPECT_EQ(layout.empty_lines_dropped, file.dropped);
  }
  // In words, one summary.
  const mp4vcfg::LayoutChange layout = mp4vcfg::JudgeSettingsText(files[2].text).layout;
  EXPECT_EQ(mp4vcfg::LayoutText(layout),
            "2 CR line ends become " + platform + ", the last line gets a line end (" +
                platform + "), 1 empty line is added, 2 empty lines are dropped");
  EXPECT_EQ(mp4vcfg::LayoutText(mp4vcfg::LayoutChange()), "");
}

// A rate no value text holds: its line, which loads as that very rate, is
// kept as it stands; a rate no line loads as makes the save refuse, which
// check names without a loss.
TEST(CheckTextTest, ARateNoTextHoldsKeepsItsLineOrIsRefused) {
  const std::string text = "# rates\n[MP4V Settings]\nframe_rate = 1e400\n";
  MP4VSettings record{};
  MP4VConfigLoadText(text, &record);
  const double rate = record.frame_rate;  // the field is 4-byte aligned
  ASSERT_EQ(rate, HUGE_VAL);
  EXPECT_TRUE(mp4vcfg::CheckSave(text, record).empty());
  record.frame_rate = -HUGE_VAL;
  const auto findings = mp4vcfg::CheckSave(text, record);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].line, 1u);
  EXPECT_EQ(findings[0].text, "# rates");
  EXPECT_EQ(findings[0].reason,
            "frame_rate -inf: no value text holds this rate, and no line of the file loads as "
            "it: a save refuses the record and leaves the file as it is");
  EXPECT_FALSE(findings[0].loses_text);
}

// For a setting the save is asked to change, its old value goes by design:
// what else would go is named; nothing is named when nothing else goes.
TEST(CheckTextTest, AChangedSettingNamesOnlyWhatElseGoes) {
  struct Row {
    const char* line;
    const char* reason;  // null: no finding
  };
  const std::string long_line = std::string(511, '0') + "width=05";
  const Row rows[] = {
      {"width = 720", nullptr},
      {"width=720px", nullptr},  // its old value, one word
      {"width = 99999999999", nullptr},
      {"width = 7 ; note", "a save writes 640 in place of '7 ; note': '; note' after its first "
                           "word is dropped"},
      {"width x = 720", "a save writes this setting's line as 'width                           "
                        "= 640': the rest of the line is dropped"},
      {"width=720 #", "a save writes this setting's line as 'width                           "
                      "= 640': the rest of the line is dropped"},
      {"width = 720\t# note", nullptr},
      // Loaded from a later section: the save adds it to the first, where it
      // loads as asked; the line it loaded from stays as it is.
      {"height=1\n[Other]\n[MP4V Settings]\nwidth = 720", nullptr},
      // In the second part of a long line: the save ends the line before it.
      {long_line.c_str(),
       "a line longer than 511 characters is read in parts, and a save writes a setting's "
       "part on a line of its own: a save writes 640 in place of '05'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const std::string text = std::string("[MP4V Settings]\n") + row.line + "\n";
    MP4VSettings record{};
    MP4VConfigLoadText(text, &record);
    record.width = 640;
    const auto findings = mp4vcfg::CheckSave(text, record);
    if (row.reason == nullptr) {
      EXPECT_TRUE(findings.empty()) << findings[0].reason;
    } else {
      ASSERT_EQ(findings.size(), 1u);
      EXPECT_EQ(findings[0].reason, row.reason);
      EXPECT_TRUE(findings[0].loses_text);
    }
  }
}

}  // namespace
