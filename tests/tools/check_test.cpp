// mp4vcfg check against the module's real save, on files made of the pieces
// that trip readers up: what check says of a file is what the save does.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "check_property.h"
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
      {"  [Indented]", "an indented section header", false},
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

TEST(CheckTextTest, RatesAFileCannotHoldAndMovedComments) {
  // 1e-11 is written as 0.0000000000; 23.96999999999 as 23.9700000000, which
  // the next load snaps to 24/1.001.
  for (const char* rate : {"1e-11", "23.96999999999"}) {
    const auto findings =
        mp4vcfg::CheckSettingsText(std::string("[MP4V Settings]\nframe_rate = ") + rate + "\n");
    ASSERT_EQ(findings.size(), 1u) << rate;
    EXPECT_TRUE(findings[0].loses_text);
    EXPECT_NE(findings[0].reason.find("which loads as"), std::string::npos);
  }
  // A value that grows pushes its comment onto a line of its own: named, no
  // text lost.
  const std::string comment(490, 'c');
  const auto moved =
      mp4vcfg::CheckSettingsText("[MP4V Settings]\nframe_rate=25 #" + comment + "\n");
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_FALSE(moved[0].loses_text);
  EXPECT_NE(moved[0].reason.find("comment moves"), std::string::npos) << moved[0].reason;
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

}  // namespace
