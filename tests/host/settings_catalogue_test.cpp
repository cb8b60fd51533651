// The settings' catalogue: every setting on exactly one page, under a label
// a person can reach with its own mnemonic.
#include "host/settings_catalogue.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cwctype>
#include <map>
#include <set>
#include <string>

#include "host/settings_fields.h"

namespace {

TEST(SettingsCatalogueTest, EverySettingIsOnExactlyOnePage) {
  std::map<std::string, int> seen;
  for (size_t p = 0; p < mp4v_host::kPageGroupCount; ++p) {
    const mp4v_host::PageGroup& group = mp4v_host::PageGroups()[p];
    EXPECT_GT(group.field_count, 0u);
    for (size_t r = 0; r < group.field_count; ++r) {
      const std::string key = group.fields[r].key();
      EXPECT_NE(nullptr, mp4v_host::FindSettingKey(key)) << key << " is no setting";
      ++seen[key];
    }
  }
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    EXPECT_EQ(1, seen[mp4v_host::SettingKeys()[i].name]) << mp4v_host::SettingKeys()[i].name;
  }
  EXPECT_EQ(mp4v_host::kSettingKeyCount, seen.size());
}

TEST(SettingsCatalogueTest, EachLabelHasOneMnemonicUniqueOnItsPage) {
  for (size_t p = 0; p < mp4v_host::kPageGroupCount; ++p) {
    const mp4v_host::PageGroup& group = mp4v_host::PageGroups()[p];
    std::set<wchar_t> letters;
    for (size_t r = 0; r < group.field_count; ++r) {
      const std::wstring label = group.fields[r].label;
      const size_t mark = label.find(L'&');
      ASSERT_NE(std::wstring::npos, mark) << group.fields[r].key();
      EXPECT_EQ(std::wstring::npos, label.find(L'&', mark + 1)) << group.fields[r].key();
      ASSERT_LT(mark + 1, label.size());
      const wchar_t letter = static_cast<wchar_t>(std::towlower(label[mark + 1]));
      EXPECT_TRUE(std::iswalnum(letter)) << group.fields[r].key();
      EXPECT_TRUE(letters.insert(letter).second)
          << group.fields[r].key() << ": mnemonic used twice on its page";
    }
  }
}

// Each row is the header's field of its index, and the kind of control
// follows the field's type: the frame rate alone is a double.
TEST(SettingsCatalogueTest, RowsAreTheHeadersFields) {
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const mp4v_host::SettingKey& key = mp4v_host::SettingKeys()[i];
    const mp4v_host::PageField& row = mp4v_host::FieldAt(i);
    EXPECT_EQ(i, row.index()) << key.name;
    EXPECT_STREQ(key.name, row.key());
    EXPECT_EQ(key.type == mp4v_host::FieldType::kDouble,
              row.control == mp4v_host::Control::kFrameRate)
        << key.name;
  }
}

// The facts a person relies on: which settings are check boxes, which take
// no negative numbers, and the steps and units of the ones that have them.
TEST(SettingsCatalogueTest, ControlsRangesStepsAndUnits) {
  using mp4v_host::Control;
  struct Case {
    const char* key;
    Control control;
    int32_t minimum;
    int32_t maximum;
    int32_t step;
    const wchar_t* unit;
  };
  constexpr int32_t kMost = INT32_MAX;
  const Case cases[] = {
      {"deinterlacing_enable", Control::kOnOff, 0, 1, 1, nullptr},
      {"closed_gov", Control::kOnOff, 0, 1, 1, nullptr},
      {"ac_prediction", Control::kOnOff, 0, 1, 1, nullptr},
      {"bvop_auto", Control::kOnOff, 0, 1, 1, nullptr},
      {"adapt_quant", Control::kOnOff, 0, 1, 1, nullptr},
      {"h263_mode", Control::kOnOff, 0, 1, 1, nullptr},
      {"h263_unrestricted_mv", Control::kOnOff, 0, 1, 1, nullptr},
      {"h263_advanced_intra_coding", Control::kOnOff, 0, 1, 1, nullptr},
      {"h263_deblocking_filter", Control::kOnOff, 0, 1, 1, nullptr},
      {"h263_slice_structured", Control::kOnOff, 0, 1, 1, nullptr},
      {"h263_modified_quantization", Control::kOnOff, 0, 1, 1, nullptr},
      {"width", Control::kNumber, 1, 8191, 16, L"pixels"},
      {"height", Control::kNumber, 1, 8191, 16, L"pixels"},
      {"target_bitrate", Control::kNumber, 0, kMost, 1000, L"bit/s"},
      {"max_bitrate", Control::kNumber, 0, kMost, 1000, L"bit/s"},
      {"vbv_buffer", Control::kNumber, 0, kMost, 1, nullptr},  // its unit is not known
      {"max_key_interval", Control::kNumber, 0, kMost, 1, L"frames"},
      {"bvop_count", Control::kNumber, 0, kMost, 1, L"frames"},
      {"out_fps", Control::kNumber, 0, kMost, 1, L"frames/s"},
      {"slice_count", Control::kNumber, 0, kMost, 1, nullptr},
      {"num_threads", Control::kNumber, 0, kMost, 1, nullptr},
      {"quant_i", Control::kNumber, 0, 31, 1, nullptr},
      {"quant_p", Control::kNumber, 0, 31, 1, nullptr},
      {"quant_b", Control::kNumber, 0, 31, 1, nullptr},
      {"min_quantizer", Control::kNumber, 0, 31, 1, nullptr},
      {"max_quantizer", Control::kNumber, 0, 31, 1, nullptr},
      {"me_f_code", Control::kNumber, 1, 7, 1, nullptr},
      {"profile_id", Control::kChoice, INT32_MIN, kMost, 1, nullptr},
      {"rc_mode", Control::kChoice, INT32_MIN, kMost, 1, nullptr},
  };
  for (const Case& c : cases) {
    const mp4v_host::SettingKey* key = mp4v_host::FindSettingKey(c.key);
    ASSERT_NE(nullptr, key) << c.key;
    const mp4v_host::PageField& row =
        mp4v_host::FieldAt(static_cast<size_t>(key - mp4v_host::SettingKeys()));
    EXPECT_EQ(c.control, row.control) << c.key;
    EXPECT_EQ(c.minimum, row.minimum) << c.key;
    EXPECT_EQ(c.maximum, row.maximum) << c.key;
    EXPECT_EQ(c.step, row.step) << c.key;
    EXPECT_EQ(c.unit == nullptr, row.unit == nullptr) << c.key;
    if (c.unit != nullptr && row.unit != nullptr) {
      EXPECT_EQ(std::wstring(c.unit), row.unit) << c.key;
    }
  }
  // Every row: a sound range and step, and a label in words, not a key.
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const mp4v_host::PageField& row = mp4v_host::FieldAt(i);
    if (row.control == Control::kFrameRate) continue;
    EXPECT_LE(row.minimum, row.maximum) << row.key();
    EXPECT_GE(row.step, 1) << row.key();
    EXPECT_LE(static_cast<int64_t>(row.step),
              static_cast<int64_t>(row.maximum) - row.minimum)
        << row.key();
    EXPECT_EQ(std::wstring::npos, std::wstring(row.label).find(L'_')) << row.key();
  }
}

TEST(SettingsCatalogueTest, TipsNameTheKeyAndWhatTheFieldTakes) {
  const auto& width = mp4v_host::FieldAt(static_cast<size_t>(mp4v_host::Setting::width));
  const std::wstring width_tip = mp4v_host::TipText(width, nullptr);
  EXPECT_NE(std::wstring::npos, width_tip.find(L"\"width\" of [MP4V Settings]")) << width_tip;
  EXPECT_NE(std::wstring::npos, width_tip.find(L"from 1 to 8191")) << width_tip;
  EXPECT_NE(std::wstring::npos, width_tip.find(L"The arrows step by 16")) << width_tip;

  const auto& closed = mp4v_host::FieldAt(static_cast<size_t>(mp4v_host::Setting::closed_gov));
  const int32_t five = 5;
  const std::wstring odd = mp4v_host::TipText(closed, &five);
  EXPECT_NE(std::wstring::npos, odd.find(L"holds 5, neither 0 nor 1")) << odd;
  EXPECT_EQ(std::wstring::npos, mp4v_host::TipText(closed, nullptr).find(L"neither"));

  // A choice says honestly that the record does not tell what its numbers mean.
  const auto& profile = mp4v_host::FieldAt(static_cast<size_t>(mp4v_host::Setting::profile_id));
  EXPECT_NE(std::wstring::npos,
            mp4v_host::TipText(profile, nullptr).find(L"does not say which number"));
}

TEST(SettingsCatalogueTest, PlainLabelDropsTheMarks) {
  EXPECT_EQ(L"Width (pixels)", mp4v_host::PlainLabel(L"&Width (pixels)"));
  EXPECT_EQ(L"Sound & vision", mp4v_host::PlainLabel(L"&Sound && vision"));
  EXPECT_EQ(L"Trailing&", mp4v_host::PlainLabel(L"Trailing&"));
}

}  // namespace
