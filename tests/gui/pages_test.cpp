// The settings pages as a person uses them, driven from a second thread
// through window messages while the entry runs its dialog: the library is
// reached through request 0x2008 of the module beside this program.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "gui/page_ids.h"
#include "gui/pages_driver.h"
#include "host/module_library.h"
#include "host/settings_catalogue.h"
#include "host/settings_fields.h"
#include "mp4v_config.h"

namespace {

using namespace pages_driver;
using mp4v_host::Control;
using mp4v_host::FieldType;
using mp4v_host::SettingKey;

constexpr uint64_t k2997Bits = 0x403DF853E2556B29ull;  // 30 / 1.001
constexpr uint64_t k5994Bits = 0x404DF853E2556B29ull;  // 60 / 1.001

const SettingKey& Key(const char* name) { return *mp4v_host::FindSettingKey(name); }
int Index(const SettingKey& key) { return static_cast<int>(&key - mp4v_host::SettingKeys()); }
int FieldId(const char* name) { return mp4v_pages::kFieldIdBase + Index(Key(name)); }
const mp4v_host::PageField& Row(size_t index) { return mp4v_host::FieldAt(index); }
bool IsCheckBox(size_t index) { return Row(index).control == Control::kOnOff; }

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A record whose every byte is known: each field a valid value of its own
// (the on/off settings 0, 1 or 2 in turn), every reserved byte a pattern.
MP4VSettings PatternRecord() {
  MP4VSettings record;
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  for (size_t i = 0; i < sizeof record; ++i) bytes[i] = static_cast<unsigned char>(i * 151 + 7);
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const SettingKey& key = mp4v_host::SettingKeys()[i];
    if (key.type == FieldType::kDouble) {
      mp4v_host::StoreDouble(&record, key, 25.0);
    } else if (IsCheckBox(i)) {
      mp4v_host::StoreInt32(&record, key, static_cast<int32_t>(i % 3));
    } else {
      mp4v_host::StoreInt32(&record, key, static_cast<int32_t>(i * 1000 + 3));
    }
  }
  return record;
}

// The offsets at which two records differ.
std::string Differences(const MP4VSettings& expected, const MP4VSettings& actual) {
  std::string text;
  const auto* a = reinterpret_cast<const unsigned char*>(&expected);
  const auto* b = reinterpret_cast<const unsigned char*>(&actual);
  for (size_t i = 0; i < sizeof expected; ++i) {
    if (a[i] != b[i]) text += std::to_string(i) + " ";
  }
  return text;
}

// Clicks a check box as the mouse does and waits until its page has seen
// the click (the box's state changes); false when it did not.
bool Click(HWND box) {
  const LRESULT before = SendMessageW(box, BM_GETCHECK, 0, 0);
  PostMessageW(box, BM_CLICK, 0, 0);
  return WaitFor([&]() -> HWND {
           return SendMessageW(box, BM_GETCHECK, 0, 0) != before ? box : nullptr;
         }, 5000) != nullptr;
}

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

// Whether the system has a font family of this name.
bool HasFontFamily(const wchar_t* name) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(wanted.lfFaceName, name, LF_FACESIZE - 1);
  HDC screen = GetDC(nullptr);
  bool found = false;
  EnumFontFamiliesExW(screen, &wanted, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

// The language the run expects the pages in: MP4V_EXPECT_LANGUAGE names its
// primary language ("de", "en"); unset, the test takes whichever the system
// gives. Empty when the thread's UI language is the one expected, otherwise
// what keeps it from being so.
std::string WhyNotTheExpectedLanguage() {
  const char* expected = std::getenv("MP4V_EXPECT_LANGUAGE");
  if (expected == nullptr) return std::string();
  const LANGID actual = GetThreadUILanguage();
  const std::string want = expected;
  const WORD primary = want == "de" ? LANG_GERMAN : want == "en" ? LANG_ENGLISH : 0;
  if (primary == 0) return "MP4V_EXPECT_LANGUAGE names no language the test knows: " + want;
  if (PRIMARYLANGID(actual) == primary) return std::string();
  char id[8];
  std::snprintf(id, sizeof id, "%04x", actual);
  return "the thread's UI language is " + std::string(id) + ", not \"" + want +
         "\": under Wine it comes from the environment, LANG=" +
         (want == "de" ? "de_DE.UTF-8" : "en_US.UTF-8") +
         " with LC_ALL and LC_MESSAGES unset or the same (tests/gui/CMakeLists.txt sets them); "
         "the system needs that locale (locale -a)";
}

// The column of the catalogue this thread's pages speak.
mp4v_host::Language ThreadLanguage() {
  return mp4v_host::LanguageForLangId(GetThreadUILanguage());
}

class PagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The pages are measured in the font dialogs use ("MS Shell Dlg", which
    // is Tahoma): without it every size would be another font's.
    ASSERT_TRUE(HasFontFamily(L"Tahoma"))
        << "no Tahoma font: under Wine the fonts-wine package (scripts/setup.sh) and "
           "the font folder scripts/xvfb.sh adds provide it";
    const std::string why = WhyNotTheExpectedLanguage();
    ASSERT_TRUE(why.empty()) << why;
    module_ = new mp4v_host::ModuleLibrary;
    std::string error;
    ASSERT_TRUE(module_->Open("", &error)) << error;
  }
  static void TearDownTestSuite() {
    delete module_;
    module_ = nullptr;
  }

  void SetUp() override {
    UseTestDesktop();
    ASSERT_NE(nullptr, module_);
    entry_ = reinterpret_cast<MP4VShowEncoderPagesFn>(
        module_->get_api()(MP4V_FUNC_SETTINGS_PAGES));
    ASSERT_NE(nullptr, entry_);
    record_ = PatternRecord();
    before_ = record_;
  }

  // Whatever a failed test left open is closed, so the next one starts clean.
  void TearDown() override {
    if (gui_ == nullptr) return;
    for (int i = 0; i < 50 && !gui_->Join(100); ++i) {
      if (HWND box = FindMessageBox(gui_->id(), sheet_)) PressButton(box, IDOK);
      if (IsWindow(sheet_)) PressButton(sheet_, IDCANCEL);
    }
    gui_.reset();
  }

  // Opens the pages over record_ on a thread of their own.
  HWND Open(bool with_owner = false) {
    gui_ = std::make_unique<GuiThread>(
        [this](HWND owner) { result_ = entry_(owner, &record_); }, with_owner);
    sheet_ = WaitFor([this] { return FindSheet(gui_->id()); });
    return sheet_;
  }

  // Waits for the call to return; its result.
  int32_t Result() {
    if (!gui_->Join(30000)) {
      ADD_FAILURE() << "the pages did not close";
      return -100;
    }
    return result_;
  }

  // Sets `key`'s field on whichever page shows it; that page stays forward.
  HWND Set(const char* key, const std::wstring& text) {
    HWND field = ShowControl(sheet_, FieldId(key));
    EXPECT_NE(nullptr, field) << key;
    if (field != nullptr) SetText(field, text);
    return field;
  }

  DWORD thread() const { return gui_->id(); }

  void ExpectRecord(const MP4VSettings& expected) {
    EXPECT_EQ(0, std::memcmp(&expected, &record_, sizeof expected))
        << "bytes differ at " << Differences(expected, record_);
  }

  static mp4v_host::ModuleLibrary* module_;
  MP4VShowEncoderPagesFn entry_ = nullptr;
  MP4VSettings record_;
  MP4VSettings before_;
  std::unique_ptr<GuiThread> gui_;
  HWND sheet_ = nullptr;
  int32_t result_ = -100;
};

mp4v_host::ModuleLibrary* PagesTest::module_ = nullptr;

TEST_F(PagesTest, TheEntryComesFromTheLibraryBesideTheModule) {
  HMODULE pages = GetModuleHandleW(L"demo_config_gui_mp4v.dll");
  ASSERT_NE(nullptr, pages);
  EXPECT_EQ(reinterpret_cast<void*>(entry_),
            reinterpret_cast<void*>(GetProcAddress(pages, MP4V_SHOW_ENCODER_PAGES_NAME)));
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(pages, path, MAX_PATH);
  const std::string module_dir = module_->path().substr(0, module_->path().find_last_of("\\/") + 1);
  EXPECT_EQ(Wide(module_dir) + L"demo_config_gui_mp4v.dll", path);
}

TEST_F(PagesTest, RefusesANullRecordAndAnOwnerThatIsNoWindow) {
  EXPECT_EQ(MP4V_PAGES_FAILED, entry_(nullptr, nullptr));
  EXPECT_EQ(MP4V_PAGES_FAILED, entry_(reinterpret_cast<void*>(0x1234), &record_));
  ExpectRecord(before_);
}

// Every field on every page gets a new value; OK writes exactly those.
TEST_F(PagesTest, OkWritesEveryNewValueAndNothingElse) {
  ASSERT_NE(nullptr, Open(true));
  EXPECT_EQ(gui_->owner(), GetWindow(sheet_, GW_OWNER));
  EXPECT_FALSE(IsWindowEnabled(gui_->owner())) << "the pages are modal to the owner";
  EXPECT_EQ(6, PageCount(sheet_));

  struct Typed {
    const wchar_t* text;
    int32_t value;
  };
  // The forms a number takes, on the first fields (choices of the whole
  // 32-bit range, and a width).
  const Typed typed[] = {{L"-2147483648", INT32_MIN}, {L"2147483647", INT32_MAX},
                         {L"0x1FFF", 8191},           {L" 42 ", 42},
                         {L"+5", 5},                  {L"-0x10", -16},
                         {L"0", 0}};
  MP4VSettings expected = before_;
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const SettingKey& key = mp4v_host::SettingKeys()[i];
    const mp4v_host::PageField& row = Row(i);
    HWND field = ShowControl(sheet_, mp4v_pages::kFieldIdBase + static_cast<int>(i));
    ASSERT_NE(nullptr, field) << key.name << " is on no page";
    if (key.type == FieldType::kDouble) {
      ChooseItem(field, 6);  // "59.94"
      uint64_t bits = k5994Bits;
      double rate;
      std::memcpy(&rate, &bits, sizeof rate);
      mp4v_host::StoreDouble(&expected, key, rate);
    } else if (row.control == Control::kOnOff) {
      // 0 and the third state (2) become 1, 1 becomes 0.
      const int32_t held = static_cast<int32_t>(i % 3);
      ASSERT_TRUE(Click(field)) << key.name;
      mp4v_host::StoreInt32(&expected, key, held == 1 ? 0 : 1);
    } else if (i < sizeof typed / sizeof typed[0] && typed[i].value >= row.minimum &&
               typed[i].value <= row.maximum) {
      SetText(field, typed[i].text);
      mp4v_host::StoreInt32(&expected, key, typed[i].value);
    } else {
      // A value of each field's own within its range, so that fields mixed
      // up show.
      const int64_t span = static_cast<int64_t>(row.maximum) - row.minimum + 1;
      const int32_t value =
          static_cast<int32_t>(row.minimum + static_cast<int64_t>(i * 7919 + 13) % span);
      SetText(field, std::to_wstring(value));
      mp4v_host::StoreInt32(&expected, key, value);
    }
  }
  PressButton(sheet_, IDOK);
  EXPECT_EQ(MP4V_PAGES_OK, Result());
  EXPECT_TRUE(gui_->owner_enabled_after());
  ExpectRecord(expected);
}

TEST_F(PagesTest, UntouchedFieldsKeepTheirBytes) {
  // 29.97 itself shows as "29.97", the text of the snapped rate.
  mp4v_host::StoreDouble(&record_, Key("frame_rate"), 29.97);
  before_ = record_;
  ASSERT_NE(nullptr, Open());
  PressButton(sheet_, IDOK);
  EXPECT_EQ(MP4V_PAGES_OK, Result());
  ExpectRecord(before_);
}

TEST_F(PagesTest, CancelEscapeAndTheCloseBoxLeaveTheRecord) {
  enum Way { kCancel, kEscape, kCloseBox };
  for (Way way : {kCancel, kEscape, kCloseBox}) {
    SCOPED_TRACE(way);
    record_ = before_;
    ASSERT_NE(nullptr, Open(true));
    Set("frame_rate", L"50");
    HWND width = Set("width", L"1");
    switch (way) {
      case kCancel: PressButton(sheet_, IDCANCEL); break;
      case kEscape: PostKey(width, VK_ESCAPE); break;
      case kCloseBox: PressCloseBox(sheet_); break;
    }
    EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
    EXPECT_TRUE(gui_->owner_enabled_after());
    ExpectRecord(before_);
    gui_.reset();
  }
}

TEST_F(PagesTest, EnterPressesOk) {
  ASSERT_NE(nullptr, Open());
  HWND width = Set("width", L"640");
  PostKey(width, VK_RETURN);
  EXPECT_EQ(MP4V_PAGES_OK, Result());
  MP4VSettings expected = before_;
  mp4v_host::StoreInt32(&expected, Key("width"), 640);
  ExpectRecord(expected);
}

// OK pressed by a program (PSM_PRESSBUTTON, posted or sent) takes the texts
// the fields hold then, as the button and Enter do: a good one is written,
// a bad one refused where it is with the sheet left open.
TEST_F(PagesTest, OkPressedByAProgramTakesTheFieldsTexts) {
  for (bool sent : {false, true}) {
    SCOPED_TRACE(sent ? "sent" : "posted");
    record_ = before_;
    ASSERT_NE(nullptr, Open());
    Set("width", L"1921");
    PressSheetButton(sheet_, PSBTN_OK, sent);
    EXPECT_EQ(MP4V_PAGES_OK, Result());
    MP4VSettings expected = before_;
    mp4v_host::StoreInt32(&expected, Key("width"), 1921);
    ExpectRecord(expected);
    gui_.reset();
  }

  record_ = before_;
  ASSERT_NE(nullptr, Open());
  Set("width", L"1921");
  HWND height = Set("height", L"z");
  ShowPage(sheet_, 1);
  PressSheetButton(sheet_, PSBTN_OK, false);
  HWND box = WaitFor([&] { return FindMessageBox(thread(), sheet_); });
  ASSERT_NE(nullptr, box) << "no message";
  EXPECT_NE(std::wstring::npos, StaticTexts(box).find(L"(height)")) << Narrow(StaticTexts(box));
  PressButton(box, IDOK);
  ASSERT_TRUE(WaitGone(box));
  EXPECT_TRUE(IsWindow(sheet_)) << "the pages stay open";
  EXPECT_EQ(GetParent(height), PropSheet_GetCurrentPageHwnd(sheet_)) << "its page comes forward";
  PressSheetButton(sheet_, PSBTN_CANCEL, false);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
  ExpectRecord(before_);
}

// With no display no window can be shown: the entry says it failed, never
// that the person cancelled, and leaves the record as it was. ctest runs
// this test (gui_no_display) with DISPLAY unset; it first makes sure that
// this process can make no window.
TEST(PagesWithoutDisplay, FailAndLeaveTheRecord) {
  if (!UnderWine()) GTEST_SKIP() << WhyAWindowCanBeMade();
  const std::string why = WhyAWindowCanBeMade();
  ASSERT_TRUE(why.empty()) << why;
  mp4v_host::ModuleLibrary module;
  std::string error;
  ASSERT_TRUE(module.Open("", &error)) << error;
  auto entry = reinterpret_cast<MP4VShowEncoderPagesFn>(
      module.get_api()(MP4V_FUNC_SETTINGS_PAGES));
  ASSERT_NE(nullptr, entry);
  MP4VSettings record = PatternRecord();
  const MP4VSettings before = record;
  EXPECT_EQ(MP4V_PAGES_FAILED, entry(nullptr, &record));
  EXPECT_EQ(0, std::memcmp(&before, &record, sizeof record))
      << "bytes differ at " << Differences(before, record);
}

// Each kind of bad text: OK is refused, the field's page comes forward with
// the field selected, a message names the setting and the fault, and
// nothing is written.
TEST_F(PagesTest, BadTextIsRefusedWhereItIs) {
  struct Case {
    const char* key;
    const wchar_t* text;
    const wchar_t* problem;
  };
  const Case cases[] = {
      {"width", L"12x", L"is not a whole number"},
      {"quant_b", L"2147483648", L"outside the 32-bit range"},
      {"num_threads", L"", L"The value is empty"},
      {"slice_count", L"1.5", L"is not a whole number"},
      // A field's own range, named in the message.
      {"width", L"-720", L"is less than this setting takes. Enter a whole number from 1 to 8191"},
      {"width", L"0", L"from 1 to 8191"},
      {"height", L"8192", L"is more than this setting takes. Enter a whole number from 1 to 8191"},
      {"target_bitrate", L"-1", L"from 0 to 2147483647"},
      {"quant_i", L"32", L"from 0 to 31"},
      {"me_f_code", L"0", L"from 1 to 7"},
      {"frame_rate", L"1e-11", L"is too small"},
      {"frame_rate", L"1/0", L"too large or too small"},
      {"frame_rate", L"0", L"is not a frame rate greater than 0"},
      {"frame_rate", L"-25", L"is not a frame rate greater than 0"},
      {"frame_rate", L"abc", L"is not a decimal number"},
      {"frame_rate", L"1e400", L"too large or too small"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    record_ = before_;
    ASSERT_NE(nullptr, Open());
    Set("me_f_code", L"3");  // a good change, which must not be written either
    HWND field = Set(c.key, c.text);
    const int page = CurrentPage(sheet_);
    ShowPage(sheet_, page == 0 ? 1 : 0);  // the bad field out of sight
    PressButton(sheet_, IDOK);

    HWND box = WaitFor([&] { return FindMessageBox(thread(), sheet_); });
    ASSERT_NE(nullptr, box) << "no message";
    const std::wstring message = StaticTexts(box);
    wchar_t title[128] = {};
    GetWindowTextW(box, title, 128);
    EXPECT_EQ(std::wstring(L"MPEG-4 Video Encoder Settings"), title) << "the sheet's title";
    EXPECT_NE(std::wstring::npos, message.find(L"(" + Wide(c.key) + L")")) << message;
    EXPECT_NE(std::wstring::npos, message.find(c.problem)) << message;
    PressButton(box, IDOK);
    ASSERT_TRUE(WaitGone(box));

    EXPECT_TRUE(IsWindow(sheet_)) << "the pages stay open";
    EXPECT_EQ(page, CurrentPage(sheet_));
    HWND focus = FocusOf(thread());
    EXPECT_TRUE(focus == field || GetParent(focus) == field) << "the bad field has the focus";
    DWORD start = 1, end = 0;
    Selection(field, &start, &end);
    EXPECT_EQ(0u, start);
    EXPECT_EQ(Text(field).size(), end) << "the whole text is selected";

    PressButton(sheet_, IDCANCEL);
    EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
    ExpectRecord(before_);
    gui_.reset();
  }
}

TEST_F(PagesTest, TheFirstBadFieldInReadingOrderIsReportedAndFixingItLetsOkThrough) {
  ASSERT_NE(nullptr, Open());
  Set("profile_id", L"x");   // the last page
  Set("me_f_code", L"y");    // the fourth
  HWND height = Set("height", L"z");  // the first
  const int first_page = CurrentPage(sheet_);
  PressButton(sheet_, IDOK);
  HWND box = WaitFor([&] { return FindMessageBox(thread(), sheet_); });
  ASSERT_NE(nullptr, box);
  EXPECT_NE(std::wstring::npos, StaticTexts(box).find(L"(height)"));
  PressButton(box, IDOK);
  ASSERT_TRUE(WaitGone(box));
  EXPECT_EQ(first_page, CurrentPage(sheet_));

  SetText(height, L"480");
  Set("me_f_code", L"5");
  Set("profile_id", L"0x3");
  PressButton(sheet_, IDOK);
  EXPECT_EQ(MP4V_PAGES_OK, Result());
  MP4VSettings expected = before_;
  mp4v_host::StoreInt32(&expected, Key("height"), 480);
  mp4v_host::StoreInt32(&expected, Key("me_f_code"), 5);
  mp4v_host::StoreInt32(&expected, Key("profile_id"), 3);
  ExpectRecord(expected);
}

// The arrows step by the field's own amount, stop at the ends of its range
// and keep a hexadecimal number hexadecimal.
TEST_F(PagesTest, ArrowsStepWithinTheFieldsRange) {
  struct Case {
    const char* key;
    const wchar_t* start;
    UINT key_code;
    int presses;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {"profile_id", L"2147483646", VK_UP, 3, L"2147483647"},
      {"profile_id", L"-2147483647", VK_DOWN, 3, L"-2147483648"},
      {"width", L"0x2D0", VK_UP, 1, L"0x2E0"},
      {"width", L"720", VK_DOWN, 2, L"688"},
      {"width", L"8180", VK_UP, 1, L"8191"},
      {"width", L"-720", VK_UP, 1, L"1"},
      {"target_bitrate", L"4000000", VK_UP, 2, L"4002000"},
      {"target_bitrate", L"500", VK_DOWN, 1, L"0"},
      {"quant_i", L"30", VK_UP, 5, L"31"},
  };
  ASSERT_NE(nullptr, Open());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    HWND field = ShowControl(sheet_, FieldId(c.key));
    ASSERT_NE(nullptr, field);
    SetText(field, c.start);
    SendMessageW(field, EM_SETSEL, 1, 1);
    for (int i = 0; i < c.presses; ++i) PostKey(field, c.key_code);
    // Posted keys are handled in order, and Home after the arrows puts the
    // caret at 0 (each step leaves it at the end): then all were handled.
    PostKey(field, VK_HOME);
    const HWND handled = WaitFor([&]() -> HWND {
      DWORD start = 1, end = 1;
      Selection(field, &start, &end);
      return start == 0 && end == 0 ? field : nullptr;
    }, 5000);
    ASSERT_NE(nullptr, handled) << "the keys were not handled";
    EXPECT_EQ(c.expected, Text(field)) << c.start;
  }
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
}

// Alt + each label's underlined letter reaches that label's field, and Tab
// walks the fields of a page top to bottom.
TEST_F(PagesTest, KeyboardReachesEveryFieldInReadingOrder) {
  ASSERT_NE(nullptr, Open());
  for (int p = 0; p < PageCount(sheet_); ++p) {
    HWND page = ShowPage(sheet_, p);
    // The focus comes along to the page shown, so keys never reach a field
    // of a page out of sight.
    EXPECT_NE(nullptr, WaitFor([&] { return IsChild(page, FocusOf(thread())) ? page : nullptr; }, 5000))
        << "the focus stayed behind when page " << p << " came forward";
    std::vector<HWND> fields;
    for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
      HWND field = GetDlgItem(page, mp4v_pages::kFieldIdBase + static_cast<int>(i));
      if (field == nullptr) continue;
      fields.push_back(field);
      // A check box carries its label itself.
      const std::wstring label =
          Text(IsCheckBox(i) ? field
                             : GetDlgItem(page, mp4v_pages::kLabelIdBase + static_cast<int>(i)));
      const size_t mark = label.find(L'&');
      ASSERT_NE(std::wstring::npos, mark) << "no mnemonic: " << mp4v_host::SettingKeys()[i].name;
      PostAltKey(FocusOf(thread()), label[mark + 1]);
      HWND reached = WaitFor([&]() -> HWND {
        HWND focus = FocusOf(thread());
        return focus == field || GetParent(focus) == field ? focus : nullptr;
      }, 5000);
      EXPECT_NE(nullptr, reached) << "Alt+" << static_cast<char>(label[mark + 1]) << " on page " << p;
    }
    // The fields by their place on the page, and the Tab order from the first.
    std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) {
      RECT ra, rb;
      GetWindowRect(a, &ra);
      GetWindowRect(b, &rb);
      return ra.top < rb.top;
    });
    ASSERT_FALSE(fields.empty());
    HWND item = fields.front();
    for (size_t k = 1; k < fields.size(); ++k) {
      item = GetNextDlgTabItem(page, item, FALSE);
      EXPECT_EQ(fields[k], item) << "Tab order on page " << p << " at row " << k;
    }
  }
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
}

// Ctrl+Tab and Ctrl+Shift+Tab step through the pages, and the focus comes
// along to the page shown.
TEST_F(PagesTest, CtrlTabStepsThroughThePages) {
  ASSERT_NE(nullptr, Open());
  struct Step {
    bool shift;
    int page;
  };
  const Step steps[] = {{false, 1}, {false, 2}, {true, 1}, {true, 0}, {true, 5}};
  for (const Step& step : steps) {
    {
      HeldModifiers ctrl(thread(), step.shift);
      PostKey(FocusOf(thread()), VK_TAB);
      WaitFor([&] { return CurrentPage(sheet_) == step.page ? sheet_ : nullptr; }, 5000);
    }
    ASSERT_EQ(step.page, CurrentPage(sheet_)) << (step.shift ? "Ctrl+Shift+Tab" : "Ctrl+Tab");
    HWND page = PropSheet_GetCurrentPageHwnd(sheet_);
    EXPECT_NE(nullptr, WaitFor([&] { return IsChild(page, FocusOf(thread())) ? page : nullptr; }, 5000))
        << "the focus stayed behind on the way to page " << step.page;
  }
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
}

// The size of `text` in `control`'s own font.
SIZE TextSize(HWND control, const std::wstring& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return extent;
}

std::wstring WithoutMnemonic(std::wstring text) {
  const size_t mark = text.find(L'&');
  if (mark != std::wstring::npos) text.erase(mark, 1);
  return text;
}

// No label, field or button is cut off and no two controls overlap, measured
// in the fonts the pages use; the tabs fit in one row. scripts/test.sh runs
// it again at 120, 144 and 192 DPI, naming the setting in MP4V_EXPECT_DPI.
TEST_F(PagesTest, EveryTextFitsAndNoControlsOverlap) {
  if (const char* dpi = std::getenv("MP4V_EXPECT_DPI")) {
    HDC screen = GetDC(nullptr);
    const int actual = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(std::atoi(dpi), actual)
        << "the Wine prefix's LogPixels setting did not take (see scripts/test.sh)";
  }
  // The longest numbers a field shows.
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const SettingKey& key = mp4v_host::SettingKeys()[i];
    if (key.type == FieldType::kDouble) {
      mp4v_host::StoreDouble(&record_, key, 29.97);
    } else if (!IsCheckBox(i)) {
      mp4v_host::StoreInt32(&record_, key, INT32_MIN);
    }
  }
  ASSERT_NE(nullptr, Open());
  // The texts measured are those of the thread's language.
  const mp4v_host::Language language = ThreadLanguage();
  EXPECT_EQ(std::wstring(mp4v_host::PhraseText(mp4v_host::Phrase::kCaption, language)),
            Text(sheet_));
  HWND width_label = ShowControl(
      sheet_, mp4v_pages::kLabelIdBase + Index(Key("width")));
  ASSERT_NE(nullptr, width_label);
  EXPECT_EQ(std::wstring(Row(Index(Key("width"))).label[language]), Text(width_label));
  HWND tabs = PropSheet_GetTabControl(sheet_);
  EXPECT_EQ(1, TabCtrl_GetRowCount(tabs));
  for (int t = 0; t < TabCtrl_GetItemCount(tabs); ++t) {
    wchar_t title[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = title;
    item.cchTextMax = 64;
    TabCtrl_GetItem(tabs, t, &item);
    EXPECT_EQ(std::wstring(mp4v_host::PageGroups()[t].title[language]), title);
    RECT rect{};
    TabCtrl_GetItemRect(tabs, t, &rect);
    EXPECT_LE(TextSize(tabs, title).cx, rect.right - rect.left) << "tab " << t;
  }
  // The sheet's buttons.
  for (int id : {IDOK, IDCANCEL}) {
    HWND button = GetDlgItem(sheet_, id);
    ASSERT_NE(nullptr, button);
    RECT client;
    GetClientRect(button, &client);
    const SIZE extent = TextSize(button, WithoutMnemonic(Text(button)));
    EXPECT_LE(extent.cx + 4, client.right) << Narrow(Text(button)) << " is cut off";
    EXPECT_LE(extent.cy, client.bottom) << Narrow(Text(button)) << " is cut off";
  }
  const int check_box = GetSystemMetrics(SM_CXMENUCHECK);
  for (int p = 0; p < PageCount(sheet_); ++p) {
    HWND page = ShowPage(sheet_, p);
    RECT page_rect;
    GetWindowRect(page, &page_rect);
    std::vector<HWND> controls;
    for (HWND c = GetWindow(page, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      if (IsWindowVisible(c)) controls.push_back(c);
    }
    for (size_t a = 0; a < controls.size(); ++a) {
      RECT ra;
      GetWindowRect(controls[a], &ra);
      RECT inside;
      IntersectRect(&inside, &ra, &page_rect);
      EXPECT_TRUE(EqualRect(&inside, &ra))
          << "control " << GetDlgCtrlID(controls[a]) << " reaches past page " << p;
      for (size_t b = a + 1; b < controls.size(); ++b) {
        // The arrows sit on their field's right border by design.
        if (std::abs(GetDlgCtrlID(controls[a]) - GetDlgCtrlID(controls[b])) ==
            mp4v_pages::kUpDownIdBase - mp4v_pages::kFieldIdBase) {
          continue;
        }
        RECT rb, both;
        GetWindowRect(controls[b], &rb);
        EXPECT_FALSE(IntersectRect(&both, &ra, &rb))
            << "controls " << GetDlgCtrlID(controls[a]) << " and " << GetDlgCtrlID(controls[b])
            << " overlap on page " << p;
      }
      const int id = GetDlgCtrlID(controls[a]);
      if (id >= mp4v_pages::kUpDownIdBase) continue;  // the arrows have no text
      const bool field = id < mp4v_pages::kLabelIdBase;
      const size_t index = static_cast<size_t>(id - (field ? mp4v_pages::kFieldIdBase
                                                 : id < mp4v_pages::kUnitIdBase
                                                     ? mp4v_pages::kLabelIdBase
                                                     : mp4v_pages::kUnitIdBase));
      std::wstring text = Text(controls[a]);
      RECT client;
      GetClientRect(controls[a], &client);
      int room = client.right;
      if (field && IsCheckBox(index)) {
        text = WithoutMnemonic(text);
        room -= check_box + 2;  // the box and the gap before its text
      } else if (field && Row(index).control == Control::kFrameRate) {
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        GetComboBoxInfo(controls[a], &info);
        room = info.rcItem.right - info.rcItem.left;
      } else if (field) {
        const DWORD margins = static_cast<DWORD>(SendMessageW(controls[a], EM_GETMARGINS, 0, 0));
        room -= LOWORD(margins) + HIWORD(margins);
      } else {
        text = WithoutMnemonic(text);
      }
      const SIZE extent = TextSize(controls[a], text);
      EXPECT_LE(extent.cx, room) << "\"" << Narrow(text) << "\" is cut off on page " << p;
      EXPECT_LE(extent.cy, client.bottom) << "\"" << Narrow(text) << "\" is cut off on page " << p;
    }
  }
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
}

// On/off settings are check boxes. A value other than 0 and 1 shows as the
// third state and stays in the record, through OK and Cancel alike, unless
// the person clicks the box; a click stores 0 or 1.
TEST_F(PagesTest, OnOffSettingsAreCheckBoxesThatKeepOtherValues) {
  struct Held {
    const char* key;
    int32_t value;
    LRESULT state;
    int clicks;
    int32_t after_clicks;
  };
  const Held held[] = {
      {"closed_gov", 5, BST_INDETERMINATE, 1, 1},
      {"deinterlacing_enable", -3, BST_INDETERMINATE, 2, 0},
      {"ac_prediction", 0, BST_UNCHECKED, 1, 1},
      {"bvop_auto", 1, BST_CHECKED, 1, 0},
      {"adapt_quant", 1, BST_CHECKED, 2, 1},
  };
  for (const Held& h : held) mp4v_host::StoreInt32(&record_, Key(h.key), h.value);
  before_ = record_;
  enum Way { kOkUntouched, kCancelAfterClicks, kOkAfterClicks };
  for (Way way : {kOkUntouched, kCancelAfterClicks, kOkAfterClicks}) {
    SCOPED_TRACE(way);
    record_ = before_;
    ASSERT_NE(nullptr, Open());
    MP4VSettings expected = before_;
    for (const Held& h : held) {
      HWND box = ShowControl(sheet_, FieldId(h.key));
      ASSERT_NE(nullptr, box) << h.key;
      EXPECT_EQ(BS_3STATE, GetWindowLongW(box, GWL_STYLE) & BS_TYPEMASK) << h.key;
      EXPECT_EQ(h.state, SendMessageW(box, BM_GETCHECK, 0, 0)) << h.key;
      if (way == kOkUntouched) continue;
      for (int c = 0; c < h.clicks; ++c) ASSERT_TRUE(Click(box)) << h.key;
      mp4v_host::StoreInt32(&expected, Key(h.key), h.after_clicks);
    }
    PressButton(sheet_, way == kCancelAfterClicks ? IDCANCEL : IDOK);
    EXPECT_EQ(way == kCancelAfterClicks ? MP4V_PAGES_CANCELLED : MP4V_PAGES_OK, Result());
    ExpectRecord(way == kOkAfterClicks ? expected : before_);
    gui_.reset();
  }
}

struct FoundTips {
  HWND sheet;
  std::vector<HWND> tips;
};

BOOL CALLBACK FindTips(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<FoundTips*>(data);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (std::wstring(name) == TOOLTIPS_CLASSW && GetWindow(window, GW_OWNER) == found->sheet) {
    found->tips.push_back(window);
  }
  return TRUE;
}

// The tooltip that `page` shows over `control`. A page's tooltip window is
// owned by the sheet (a pop-up is owned by a top-level window), so each of
// the sheet's is asked.
std::wstring TipOf(HWND page, HWND control) {
  FoundTips found{GetAncestor(page, GA_ROOT), {}};
  EnumThreadWindows(GetWindowThreadProcessId(page, nullptr), &FindTips,
                    reinterpret_cast<LPARAM>(&found));
  for (HWND tips : found.tips) {
    wchar_t text[1024] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = page;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = text;
    SendMessageW(tips, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
    if (text[0] != L'\0') return text;
  }
  return L"<no tooltip>";
}

// The key moved into the tooltip, with the field's range; an on/off
// setting's tip tells the value it holds until the box is clicked.
TEST_F(PagesTest, TooltipsNameTheKeyTheRangeAndAHeldValue) {
  mp4v_host::StoreInt32(&record_, Key("closed_gov"), 5);
  ASSERT_NE(nullptr, Open());
  HWND width = ShowControl(sheet_, FieldId("width"));
  ASSERT_NE(nullptr, width);
  const std::wstring width_tip = TipOf(GetParent(width), width);
  EXPECT_NE(std::wstring::npos, width_tip.find(L"\"width\" of [MP4V Settings]")) << Narrow(width_tip);
  EXPECT_NE(std::wstring::npos, width_tip.find(L"from 1 to 8191")) << Narrow(width_tip);
  HWND label = GetDlgItem(GetParent(width), mp4v_pages::kLabelIdBase + Index(Key("width")));
  EXPECT_EQ(width_tip, TipOf(GetParent(width), label)) << "the label shows the same tip";

  HWND box = ShowControl(sheet_, FieldId("closed_gov"));
  ASSERT_NE(nullptr, box);
  EXPECT_NE(std::wstring::npos, TipOf(GetParent(box), box).find(L"holds 5"))
      << Narrow(TipOf(GetParent(box), box));
  ASSERT_TRUE(Click(box));
  EXPECT_EQ(std::wstring::npos, TipOf(GetParent(box), box).find(L"holds 5"))
      << Narrow(TipOf(GetParent(box), box));
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
}

// A fraction, and a rate a load would snap, store what the load gives.
TEST_F(PagesTest, FrameRatesStoreWhatALoadGives) {
  struct Case {
    const wchar_t* text;
    uint64_t bits;
  };
  const Case cases[] = {{L"30000/1001", k2997Bits},
                        {L"24000/1001", 0x4037F9DCB5112287ull},
                        {L"23.98", 0x4037F9DCB5112287ull},
                        {L"12.5", 0x4029000000000000ull}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    record_ = before_;
    ASSERT_NE(nullptr, Open());
    Set("frame_rate", c.text);
    PressButton(sheet_, IDOK);
    EXPECT_EQ(MP4V_PAGES_OK, Result());
    uint64_t bits = 0;
    std::memcpy(&bits, &record_.frame_rate, sizeof bits);
    EXPECT_EQ(c.bits, bits);
    gui_.reset();
  }
}

// The module of a control's class window procedure: which library made it.
std::wstring ClassModule(HWND control) {
  const LONG_PTR procedure = static_cast<LONG_PTR>(GetClassLongPtrW(control, GCLP_WNDPROC));
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(procedure), &module);
  wchar_t path[MAX_PATH] = {};
  if (module != nullptr) GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

// This program has no manifest, as many hosts have none; the sheet still
// shows Common Controls 6 windows, through the library's own manifest, and
// OK is the default button.
TEST_F(PagesTest, ControlsComeFromCommonControls6WithoutAHostManifest) {
  ASSERT_EQ(nullptr, FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), RT_MANIFEST))
      << "this test program must be built without a manifest";
  ASSERT_NE(nullptr, Open());
  HWND box = ShowControl(sheet_, FieldId("closed_gov"));
  HWND edit = ShowControl(sheet_, FieldId("width"));
  ASSERT_NE(nullptr, box);
  ASSERT_NE(nullptr, edit);
  // The check box, the edit field and OK come from the side-by-side
  // Common Controls 6 library, not from user32's classic classes (which a
  // host without a manifest gets on its own).
  for (HWND control : {box, edit, GetDlgItem(sheet_, IDOK)}) {
    const std::wstring module = ClassModule(control);
    std::wstring lower = module;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    EXPECT_NE(std::wstring::npos, lower.find(L"common-controls"))
        << Narrow(module) << " (a Wine prefix keeps Common Controls 6 in windows\\winsxs; "
        << "scripts/wine-setup.sh makes the prefix)";
    EXPECT_NE(std::wstring::npos, lower.find(L"comctl32.dll")) << Narrow(module);
  }
  HWND ok = GetDlgItem(sheet_, IDOK);
  EXPECT_EQ(IDOK, LOWORD(SendMessageW(sheet_, DM_GETDEFID, 0, 0)));
  EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongW(ok, GWL_STYLE) & BS_TYPEMASK)
      << "OK is not drawn as the default button";
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
}

// Given a child window (the host's button) as owner, the sheet is modal to
// the top-level window it belongs to.
TEST_F(PagesTest, AChildWindowAsOwnerDisablesItsTopLevelWindow) {
  HWND child = nullptr;
  gui_ = std::make_unique<GuiThread>(
      [this, &child](HWND owner) {
        child = CreateWindowExW(0, L"BUTTON", L"Encoder settings...", WS_CHILD | WS_VISIBLE,
                                10, 10, 160, 24, owner, nullptr, nullptr, nullptr);
        result_ = entry_(child, &record_);
      },
      true);
  sheet_ = WaitFor([this] { return FindSheet(gui_->id()); });
  ASSERT_NE(nullptr, sheet_);
  HWND top = gui_->owner();
  EXPECT_EQ(top, GetWindow(sheet_, GW_OWNER));
  EXPECT_FALSE(IsWindowEnabled(top)) << "the top-level window stays usable";
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
  EXPECT_TRUE(gui_->owner_enabled_after());
  ExpectRecord(before_);
}

// A call made while a sheet is open returns MP4V_PAGES_FAILED at once and
// leaves its record alone: from another thread, and from the pages' own
// thread as a host's button would make it during the sheet's message loop.
MP4VShowEncoderPagesFn g_nested_entry = nullptr;
MP4VSettings g_nested_record;
int32_t g_nested_result = -100;

void CALLBACK CallAgain(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  g_nested_result = g_nested_entry(nullptr, &g_nested_record);
}

TEST_F(PagesTest, ASecondCallWhileASheetIsOpenFails) {
  g_nested_entry = entry_;
  g_nested_record = before_;
  g_nested_result = -100;
  gui_ = std::make_unique<GuiThread>(
      [this](HWND) {
        SetTimer(nullptr, 0, 300, &CallAgain);
        result_ = entry_(nullptr, &record_);
      },
      false);
  sheet_ = WaitFor([this] { return FindSheet(gui_->id()); });
  ASSERT_NE(nullptr, sheet_);
  MP4VSettings other = before_;
  EXPECT_EQ(MP4V_PAGES_FAILED, entry_(nullptr, &other));
  EXPECT_EQ(0, std::memcmp(&other, &before_, sizeof other));
  ASSERT_NE(nullptr, WaitFor([this] { return g_nested_result != -100 ? sheet_ : nullptr; }, 10000))
      << "the nested call did not return";
  EXPECT_EQ(MP4V_PAGES_FAILED, g_nested_result);
  EXPECT_EQ(0, std::memcmp(&g_nested_record, &before_, sizeof before_));
  // Still the one sheet.
  EXPECT_EQ(sheet_, FindSheet(thread()));
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
  gui_.reset();
  // Once it is closed, the pages open again.
  ASSERT_NE(nullptr, Open());
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
}

// A host that sets its thread's UI language gets the pages in that language
// whatever the system's is: German for German, English for French, which
// the pages do not speak.
TEST_F(PagesTest, TheHostThreadsUiLanguageChoosesThePagesLanguage) {
  struct Case {
    LANGID set;
    mp4v_host::Language expected;
  };
  const Case cases[] = {{MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), mp4v_host::kGerman},
                        {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), mp4v_host::kEnglish}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    std::atomic<unsigned> taken{0};  // the thread's UI language after it set one
    gui_ = std::make_unique<GuiThread>(
        [this, &c, &taken](HWND owner) {
          SetThreadUILanguage(c.set);
          const LANGID now = GetThreadUILanguage();
          taken = now;
          if (now == c.set) result_ = entry_(owner, &record_);
        },
        false);
    // The sheet, or, when the language did not take, a window that is none.
    const HWND refused = HWND_BROADCAST;
    sheet_ = WaitFor([&]() -> HWND {
      if (HWND sheet = FindSheet(gui_->id())) return sheet;
      return taken != 0 && taken != c.set ? refused : nullptr;
    });
    if (sheet_ == refused) {
      sheet_ = nullptr;
      GTEST_SKIP() << "this system's SetThreadUILanguage does not change the thread's UI "
                      "language (it kept "
                   << std::hex << taken << " for " << c.set
                   << "; Wine 8's is a stub that keeps the user's): the case needs Windows";
    }
    ASSERT_NE(nullptr, sheet_);
    EXPECT_EQ(std::wstring(mp4v_host::PhraseText(mp4v_host::Phrase::kCaption, c.expected)),
              Text(sheet_));
    HWND tabs = PropSheet_GetTabControl(sheet_);
    wchar_t title[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = title;
    item.cchTextMax = 64;
    TabCtrl_GetItem(tabs, 1, &item);
    EXPECT_EQ(std::wstring(mp4v_host::PageGroups()[1].title[c.expected]), title);
    PressButton(sheet_, IDCANCEL);
    EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
    gui_.reset();
  }
}

}  // namespace
