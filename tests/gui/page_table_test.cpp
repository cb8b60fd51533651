// The page table: every setting on exactly one page, under a label a person
// can reach with its own mnemonic.
#include "gui/page_table.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <set>
#include <string>

#include "host/settings_fields.h"

namespace {

TEST(PageTableTest, EverySettingIsOnExactlyOnePage) {
  std::map<std::string, int> seen;
  for (size_t p = 0; p < mp4v_pages::kPageGroupCount; ++p) {
    const mp4v_pages::PageGroup& group = mp4v_pages::PageGroups()[p];
    EXPECT_GT(group.field_count, 0u);
    for (size_t r = 0; r < group.field_count; ++r) {
      const std::string key = group.fields[r].key;
      EXPECT_NE(nullptr, mp4v_host::FindSettingKey(key)) << key << " is no setting";
      ++seen[key];
    }
  }
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    EXPECT_EQ(1, seen[mp4v_host::SettingKeys()[i].name]) << mp4v_host::SettingKeys()[i].name;
  }
  EXPECT_EQ(mp4v_host::kSettingKeyCount, seen.size());
}

TEST(PageTableTest, EachLabelHasOneMnemonicUniqueOnItsPage) {
  for (size_t p = 0; p < mp4v_pages::kPageGroupCount; ++p) {
    const mp4v_pages::PageGroup& group = mp4v_pages::PageGroups()[p];
    std::set<wchar_t> letters;
    for (size_t r = 0; r < group.field_count; ++r) {
      const std::wstring label = group.fields[r].label;
      const size_t mark = label.find(L'&');
      ASSERT_NE(std::wstring::npos, mark) << group.fields[r].key;
      EXPECT_EQ(std::wstring::npos, label.find(L'&', mark + 1)) << group.fields[r].key;
      ASSERT_LT(mark + 1, label.size());
      const wchar_t letter = static_cast<wchar_t>(std::towlower(label[mark + 1]));
      EXPECT_TRUE(std::iswalnum(letter)) << group.fields[r].key;
      EXPECT_TRUE(letters.insert(letter).second)
          << group.fields[r].key << ": mnemonic used twice on its page";
    }
  }
}

TEST(PageTableTest, PlainLabelDropsTheMarks) {
  EXPECT_EQ(L"Width (pixels)", mp4v_pages::PlainLabel(L"&Width (pixels)"));
  EXPECT_EQ(L"Sound & vision", mp4v_pages::PlainLabel(L"&Sound && vision"));
  EXPECT_EQ(L"Trailing&", mp4v_pages::PlainLabel(L"Trailing&"));
}

}  // namespace
