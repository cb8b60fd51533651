// The account of a save, handed on line by line while the written text is
// made in pieces: every piece size gives the account of the text written
// whole, and what it says a load of the written text gives is what such a
// load does give.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "api/requests.h"
#include "config/document.h"
#include "settings/key_table.h"

namespace {

// Texts of the shapes that meet where one piece ends and the next begins:
// headers (the settings' own, repeated, and others), entries of the
// settings' keys with value texts a save rewrites or keeps, lines longer
// than the reader takes whole (a key where a part begins), empty lines,
// the three line ends, and lines that begin with the bytes of a UTF-8 or
// UTF-16 mark or hold a zero byte.
std::string ShapedText(std::mt19937* random) {
  static const char* const kLines[] = {
      "[MP4V Settings]", "[mp4v settings] # again", "[Host]", "[Other] x",
      "width = 0x2D0", "width = 720 px", "height = 576\t# tab", "height = px",
      "frame_rate = 29.97", "frame_rate = 1e400", "bitrate = 4000", "width x = 7",
      "# a comment", "; note", "=odd", "key = value # c", "\xEF\xBB\xBFwidth = 5",
      "\xFF\xFE" "free", "height = 99999999999", "threads = 2",
  };
  static const char* const kEnds[] = {"\n", "\r\n", "\r", "\n\n", "\r\n\r\n"};
  std::string text;
  const size_t lines = 1 + (*random)() % 40;
  for (size_t i = 0; i < lines; ++i) {
    const uint32_t pick = (*random)() % 24;
    if (pick < 20) {
      text += kLines[pick];
    } else if (pick == 20) {
      // A line the reader takes in parts, a setting where the second begins.
      text += std::string(kConfigLineMax, 'a') + "width = 0x2D0";
    } else if (pick == 21) {
      text += std::string(kConfigLineMax + 40, 'b');
    } else if (pick == 22) {
      text += std::string("zero\0byte = 1", 13);
    }
    text += kEnds[(*random)() % 5];
  }
  if ((*random)() % 4 == 0) text.pop_back();  // no line end at the end
  // A text that begins with a UTF-16 mark is one a save refuses.
  return text.compare(0, 2, "\xFF\xFE") == 0 ? "x\n" + text : text;
}

// Every fact of a line, in one text, for comparing accounts.
std::string Facts(const MP4VSavedLine& l) {
  char numbers[160];
  std::snprintf(numbers, sizeof numbers,
                "%zu+%zu k%d c%d ls%d s%d sb%d cm%d a%d %.17g %.17g %.17g", l.offset, l.size, static_cast<int>(l.kind), static_cast<int>(l.change),
                l.loses_text, l.split, l.split_before, l.comment_moved, l.asked, l.loaded,
                l.saved, l.reloaded);
  char layout[64];
  std::snprintf(layout, sizeof layout, " e%d/%d empty %zu/%zu", static_cast<int>(l.end),
                static_cast<int>(l.written_end), l.empty_before, l.written_empty_before);
  return std::string(numbers) + layout + " key[" + l.key + "] old[" + l.old_value + "] new[" +
         l.new_value + "] written[" + l.written + "] dropped[" + l.dropped + "] loads[" +
         (l.loads != nullptr ? l.loads : "") + "]";
}

struct Account {
  MP4VSaveTextResult result;
  std::vector<std::string> lines;
  std::vector<MP4VSavedLine> kept;
  MP4VSaveAccount rest;
};

Account AccountOf(const std::string& text, const MP4VSettings& record, size_t piece_nodes) {
  Account a;
  a.result = MP4VConfigAccountSaveText(
      text, &record,
      [&a](const MP4VSavedLine& line) {
        a.lines.push_back(Facts(line));
        a.kept.push_back(line);
      },
      &a.rest, piece_nodes);
  return a;
}

const MP4VSettingsKey* RowNamed(const std::string& key) {
  for (const MP4VSettingsKey& row : MP4VSettingsKeyTable) {
    if (ConfigNamesEqual(row.key, key)) return &row;
  }
  return nullptr;
}

double Field(const MP4VSettings& record, const MP4VSettingsKey& row) {
  const char* field = reinterpret_cast<const char*>(&record) + row.offset;
  if (std::strcmp(row.type_name, "dbl") == 0) {
    double value;
    std::memcpy(&value, field, sizeof value);
    return value;
  }
  int32_t value;
  std::memcpy(&value, field, sizeof value);
  return value;
}

TEST(SaveAccountPiecesTest, EveryPieceSizeGivesTheAccountOfTheWholeText) {
  std::mt19937 random(35);
  size_t rewritten = 0, split = 0;
  for (int round = 0; round < 300; ++round) {
    const std::string text = ShapedText(&random);
    SCOPED_TRACE(testing::PrintToString(text));
    MP4VSettings record{};
    MP4VConfigLoadText(text, &record);
    if (round % 3 == 1) record.width = 640;
    if (round % 3 == 2) record.frame_rate = 25;
    const Account whole = AccountOf(text, record, SIZE_MAX);
    ASSERT_EQ(whole.result, MP4VSaveTextResult::kWritten);
    for (size_t piece : {1, 2, 3, 5}) {
      SCOPED_TRACE(piece);
      const Account pieces = AccountOf(text, record, piece);
      ASSERT_EQ(pieces.result, MP4VSaveTextResult::kWritten);
      EXPECT_EQ(pieces.lines, whole.lines);
      EXPECT_EQ(pieces.rest.empty_at_end, whole.rest.empty_at_end);
      EXPECT_EQ(pieces.rest.loses_text, whole.rest.loses_text);
      EXPECT_EQ(pieces.rest.unmarked_utf16, whole.rest.unmarked_utf16);
      EXPECT_TRUE(pieces.rest.lines.empty());
    }

    // Against the text the save writes: a line kept is written as read,
    // and the value the account says a load of that text gives is the one
    // a load of it gives.
    std::string after;
    ASSERT_EQ(MP4VConfigSaveText(text, &record, &after), MP4VSaveTextResult::kWritten);
    MP4VSettings reloaded{};
    MP4VConfigLoadText(after, &reloaded);
    for (const MP4VSavedLine& line : whole.kept) {
      if (line.kind == MP4VSavedLineKind::kKept) {
        EXPECT_EQ(line.written, text.substr(line.offset, line.size));
      }
      split += line.split;
      const MP4VSettingsKey* row = line.kind == MP4VSavedLineKind::kSettingRewritten
                                       ? RowNamed(line.key)
                                       : line.loads != nullptr ? RowNamed(line.loads) : nullptr;
      if (row == nullptr) continue;
      EXPECT_EQ(line.reloaded, Field(reloaded, *row)) << Facts(line);
      rewritten += line.kind == MP4VSavedLineKind::kSettingRewritten;
    }
  }
  // The shapes reached what the pieces must get right.
  EXPECT_GT(rewritten, 50u);
  EXPECT_GT(split, 10u);
}

// The account the save text request keeps is the one handed on line by
// line, and a file many pieces long gives the account of its whole text.
TEST(SaveAccountPiecesTest, AFileOfManyPiecesGivesTheWholeTextsAccount) {
  std::string text;
  for (size_t i = 0; text.size() < 400000; ++i) {
    text += i % 97 == 0 ? "[Host " + std::to_string(i) + "]\r\n"
                        : "width = " + std::to_string(i) + "\n";
    if (i == 3 * kMP4VAccountPieceNodes) text += "[MP4V Settings]\nheight = 0x240\n";
  }
  MP4VSettings record{};
  MP4VConfigLoadText(text, &record);
  record.width = 1000;
  const Account whole = AccountOf(text, record, SIZE_MAX);
  const Account pieces = AccountOf(text, record, kMP4VAccountPieceNodes);
  ASSERT_GT(pieces.lines.size(), 4 * kMP4VAccountPieceNodes);
  EXPECT_EQ(pieces.lines, whole.lines);
  MP4VSaveAccount kept;
  std::string after;
  ASSERT_EQ(MP4VConfigSaveText(text, &record, &after, &kept), MP4VSaveTextResult::kWritten);
  ASSERT_EQ(kept.lines.size(), pieces.lines.size());
  for (size_t i = 0; i < kept.lines.size(); ++i) EXPECT_EQ(Facts(kept.lines[i]), pieces.lines[i]);
}

}  // namespace
