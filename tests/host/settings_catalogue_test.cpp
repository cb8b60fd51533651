// The settings' catalogue: every setting on exactly one page, under a label
// a person can reach with its own mnemonic.
#include "host/settings_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(SettingsCatalogueTest, EachLabelHasOneMnemonicUniqueOnItsPageInEveryLanguage) {
  for (mp4v_host::Language language = 0; language < mp4v_host::kLanguageCount; ++language) {
    for (size_t p = 0; p < mp4v_host::kPageGroupCount; ++p) {
      const mp4v_host::PageGroup& group = mp4v_host::PageGroups()[p];
      std::set<wchar_t> letters;
      for (size_t r = 0; r < group.field_count; ++r) {
        SCOPED_TRACE(std::string(group.fields[r].key()) + " in language " +
                     std::to_string(language));
        const wchar_t* text = group.fields[r].label[language];
        ASSERT_NE(nullptr, text);
        const std::wstring label = text;
        const size_t mark = label.find(L'&');
        ASSERT_NE(std::wstring::npos, mark);
        EXPECT_EQ(std::wstring::npos, label.find(L'&', mark + 1));
        ASSERT_LT(mark + 1, label.size());
        // A letter or digit a keyboard of every layout types the same.
        const wchar_t letter = static_cast<wchar_t>(std::towlower(label[mark + 1]));
        EXPECT_TRUE(letter < 0x80 && std::iswalnum(letter));
        EXPECT_TRUE(letters.insert(letter).second) << "mnemonic used twice on its page";
      }
    }
  }
}

bool Present(const wchar_t* text) { return text != nullptr && *text != L'\0'; }

// Each of `words` is there in every language, or (when `optional`) in none.
void ExpectEveryLanguage(const mp4v_host::Words& words, bool optional, const std::string& what) {
  const bool any = std::any_of(words.begin(), words.end(), Present);
  if (optional && !any) return;
  for (mp4v_host::Language language = 0; language < mp4v_host::kLanguageCount; ++language) {
    EXPECT_TRUE(Present(words[language])) << what << ": no text in language " << language;
  }
}

// A gap in one column would show a person an empty label, or the pages
// would fall back on another language for one word: every text the pages
// show is there in every language.
TEST(SettingsCatalogueTest, EveryTextIsThereInEveryLanguage) {
  for (size_t p = 0; p < mp4v_host::kPageGroupCount; ++p) {
    const mp4v_host::PageGroup& group = mp4v_host::PageGroups()[p];
    ExpectEveryLanguage(group.title, false, "title of page " + std::to_string(p));
    for (size_t r = 0; r < group.field_count; ++r) {
      const mp4v_host::PageField& row = group.fields[r];
      ExpectEveryLanguage(row.label, false, std::string(row.key()) + " label");
      ExpectEveryLanguage(row.unit, true, std::string(row.key()) + " unit");
      ExpectEveryLanguage(row.about, true, std::string(row.key()) + " about");
    }
  }
  for (size_t i = 0; i < static_cast<size_t>(mp4v_host::Phrase::kCount); ++i) {
    for (mp4v_host::Language language = 0; language < mp4v_host::kLanguageCount; ++language) {
      EXPECT_TRUE(Present(mp4v_host::PhraseText(static_cast<mp4v_host::Phrase>(i), language)))
          << "phrase " << i << " in language " << language;
    }
  }
}

// The places a phrase fills in, by the number of its marks: a translation
// that drops "%2" would lose the user's text or the hint.
TEST(SettingsCatalogueTest, EachPhraseKeepsItsMarksInEveryLanguage) {
  auto marks = [](const std::wstring& text) {
    std::set<wchar_t> found;
    for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 1)) {
      if (at + 1 < text.size()) found.insert(text[at + 1]);
    }
    return found;
  };
  for (size_t i = 0; i < static_cast<size_t>(mp4v_host::Phrase::kCount); ++i) {
    const auto phrase = static_cast<mp4v_host::Phrase>(i);
    const std::set<wchar_t> english = marks(mp4v_host::PhraseText(phrase, mp4v_host::kEnglish));
    for (mp4v_host::Language language = 1; language < mp4v_host::kLanguageCount; ++language) {
      const wchar_t* text = mp4v_host::PhraseText(phrase, language);
      EXPECT_EQ(english, marks(text != nullptr ? text : L"")) << "phrase " << i;
    }
  }
}

// English is what scripts and logs read (mp4vcfg's messages come from its
// column byte for byte), so it stays ASCII.
TEST(SettingsCatalogueTest, EnglishTextsAreAscii) {
  auto ascii = [](const wchar_t* text) {
    for (; text != nullptr && *text != L'\0'; ++text) {
      if (*text >= 0x80) return false;
    }
    return true;
  };
  for (size_t i = 0; i < static_cast<size_t>(mp4v_host::Phrase::kCount); ++i) {
    EXPECT_TRUE(ascii(mp4v_host::PhraseText(static_cast<mp4v_host::Phrase>(i),
                                            mp4v_host::kEnglish)))
        << "phrase " << i;
  }
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const mp4v_host::PageField& row = mp4v_host::FieldAt(i);
    EXPECT_TRUE(ascii(row.label[mp4v_host::kEnglish]) && ascii(row.unit[mp4v_host::kEnglish]) &&
                ascii(row.about[mp4v_host::kEnglish]))
        << row.key();
  }
}

// The column for a thread's UI language, by its primary language alone.
TEST(SettingsCatalogueTest, TheLanguageFollowsThePrimaryLanguage) {
  struct Case {
    uint16_t lang_id;
    mp4v_host::Language language;
  };
  const Case cases[] = {
      {0x0407, mp4v_host::kGerman},   // Germany
      {0x0C07, mp4v_host::kGerman},   // Austria
      {0x0807, mp4v_host::kGerman},   // Switzerland
      {0x0409, mp4v_host::kEnglish},  // United States
      {0x0809, mp4v_host::kEnglish},  // United Kingdom
      {0x040C, mp4v_host::kEnglish},  // French: no column of its own
      {0x0411, mp4v_host::kEnglish},  // Japanese
      {0x0000, mp4v_host::kEnglish},  // neutral
      {0x0007, mp4v_host::kGerman},   // German, no region
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.language, mp4v_host::LanguageForLangId(c.lang_id)) << std::hex << c.lang_id;
  }
}

TEST(SettingsCatalogueTest, FillPutsEachValueInItsPlace) {
  EXPECT_EQ(L"b a %3", mp4v_host::Fill(L"%2 %1 %3", {L"a", L"b"}));
  EXPECT_EQ(L"100% %1x", mp4v_host::Fill(L"100% %1", {L"%1x"}));  // values are not filled again
  EXPECT_EQ(L"%", mp4v_host::Fill(L"%", {L"a"}));
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
    EXPECT_EQ(c.unit == nullptr, !row.has_unit()) << c.key;
    if (c.unit != nullptr && row.has_unit()) {
      EXPECT_EQ(std::wstring(c.unit), row.unit[mp4v_host::kEnglish]) << c.key;
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
    for (const wchar_t* label : row.label) {
      EXPECT_EQ(std::wstring::npos, std::wstring(label != nullptr ? label : L"").find(L'_'))
          << row.key();
    }
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

// The German tooltip carries the same facts: the key, the range, the step
// and a held value, in German words.
TEST(SettingsCatalogueTest, GermanTipsCarryTheSameFacts) {
  const auto& width = mp4v_host::FieldAt(static_cast<size_t>(mp4v_host::Setting::width));
  const std::wstring tip = mp4v_host::TipText(width, nullptr, mp4v_host::kGerman);
  EXPECT_NE(std::wstring::npos, tip.find(L"„width“ in [MP4V Settings]"));
  EXPECT_NE(std::wstring::npos, tip.find(L"von 1 bis 8191 (Pixel)"));
  EXPECT_NE(std::wstring::npos, tip.find(L"um 16."));
  EXPECT_NE(std::wstring::npos, tip.find(L"Die Breite des codierten Bildes."));
  const auto& closed = mp4v_host::FieldAt(static_cast<size_t>(mp4v_host::Setting::closed_gov));
  const int32_t five = 5;
  EXPECT_NE(std::wstring::npos,
            mp4v_host::TipText(closed, &five, mp4v_host::kGerman).find(L"ist 5 gespeichert"));
}

TEST(SettingsCatalogueTest, PlainLabelDropsTheMarks) {
  EXPECT_EQ(L"Width (pixels)", mp4v_host::PlainLabel(L"&Width (pixels)"));
  EXPECT_EQ(L"Sound & vision", mp4v_host::PlainLabel(L"&Sound && vision"));
  EXPECT_EQ(L"Trailing&", mp4v_host::PlainLabel(L"Trailing&"));
}

}  // namespace
