// The settings pages as a person uses them, driven from a second thread
// through window messages while the entry runs its dialog: the library is
// reached through request 0x2008 of the module beside this program.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gui/page_ids.h"
#include "gui/pages_driver.h"
#include "host/module_library.h"
#include "host/settings_fields.h"
#include "mp4v_config.h"

namespace {

using namespace pages_driver;
using mp4v_host::FieldType;
using mp4v_host::SettingKey;

constexpr uint64_t k5994Bits = 0x404DF853E2556B29ull;  // 60 / 1.001

const SettingKey& Key(const char* name) { return *mp4v_host::FindSettingKey(name); }
int Index(const SettingKey& key) { return static_cast<int>(&key - mp4v_host::SettingKeys()); }
int FieldId(const char* name) { return mp4v_pages::kFieldIdBase + Index(Key(name)); }

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A record whose every byte is known: each field a valid value of its own,
// every reserved byte a pattern.
MP4VSettings PatternRecord() {
  MP4VSettings record;
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  for (size_t i = 0; i < sizeof record; ++i) bytes[i] = static_cast<unsigned char>(i * 151 + 7);
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const SettingKey& key = mp4v_host::SettingKeys()[i];
    if (key.type == FieldType::kDouble) {
      mp4v_host::StoreDouble(&record, key, 25.0);
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

class PagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
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
  const Typed typed[] = {{L"-2147483648", INT32_MIN}, {L"2147483647", INT32_MAX},
                         {L"0x7FFFFFFF", INT32_MAX},  {L" 42 ", 42},
                         {L"+5", 5},                  {L"-0x10", -16},
                         {L"0", 0}};
  MP4VSettings expected = before_;
  for (size_t i = 0; i < mp4v_host::kSettingKeyCount; ++i) {
    const SettingKey& key = mp4v_host::SettingKeys()[i];
    HWND field = ShowControl(sheet_, mp4v_pages::kFieldIdBase + static_cast<int>(i));
    ASSERT_NE(nullptr, field) << key.name << " is on no page";
    if (key.type == FieldType::kDouble) {
      ChooseItem(field, 6);  // "59.94"
      uint64_t bits = k5994Bits;
      double rate;
      std::memcpy(&rate, &bits, sizeof rate);
      mp4v_host::StoreDouble(&expected, key, rate);
    } else if (i < sizeof typed / sizeof typed[0]) {
      SetText(field, typed[i].text);
      mp4v_host::StoreInt32(&expected, key, typed[i].value);
    } else {
      // A value of each field's own, so that fields mixed up show.
      const int32_t value = (i % 2 ? -1 : 1) * static_cast<int32_t>(i * 7919 + 13);
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
      {"num_threads", L"", L"The field is empty"},
      {"h263_mode", L"1.5", L"is not a whole number"},
      {"frame_rate", L"0", L"is not a frame rate greater than 0"},
      {"frame_rate", L"-25", L"is not a frame rate greater than 0"},
      {"frame_rate", L"abc", L"is not a decimal number"},
      {"frame_rate", L"1e400", L"too large or too small"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    record_ = before_;
    ASSERT_NE(nullptr, Open());
    Set("me_fast", L"7");  // a good change, which must not be written either
    HWND field = Set(c.key, c.text);
    const int page = CurrentPage(sheet_);
    ShowPage(sheet_, page == 0 ? 1 : 0);  // the bad field out of sight
    PressButton(sheet_, IDOK);

    HWND box = WaitFor([&] { return FindMessageBox(thread(), sheet_); });
    ASSERT_NE(nullptr, box) << "no message";
    const std::wstring message = StaticTexts(box);
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
  Set("me_fast", L"y");      // the fourth
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
  Set("me_fast", L"1");
  Set("profile_id", L"0x3");
  PressButton(sheet_, IDOK);
  EXPECT_EQ(MP4V_PAGES_OK, Result());
  MP4VSettings expected = before_;
  mp4v_host::StoreInt32(&expected, Key("height"), 480);
  mp4v_host::StoreInt32(&expected, Key("me_fast"), 1);
  mp4v_host::StoreInt32(&expected, Key("profile_id"), 3);
  ExpectRecord(expected);
}

TEST_F(PagesTest, ArrowsStepWithinTheRange) {
  struct Case {
    const wchar_t* start;
    UINT key;
    int presses;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"2147483646", VK_UP, 3, L"2147483647"},
      {L"-2147483647", VK_DOWN, 3, L"-2147483648"},
      {L"0x10", VK_UP, 1, L"17"},
      {L"5", VK_DOWN, 2, L"3"},
  };
  ASSERT_NE(nullptr, Open());
  HWND width = ShowControl(sheet_, FieldId("width"));
  ASSERT_NE(nullptr, width);
  for (const Case& c : cases) {
    SetText(width, c.start);
    SendMessageW(width, EM_SETSEL, 1, 1);
    for (int i = 0; i < c.presses; ++i) PostKey(width, c.key);
    // Posted keys are handled in order, and Home after the arrows puts the
    // caret at 0 (each step leaves it at the end): then all were handled.
    PostKey(width, VK_HOME);
    const HWND handled = WaitFor([&]() -> HWND {
      DWORD start = 1, end = 1;
      Selection(width, &start, &end);
      return start == 0 && end == 0 ? width : nullptr;
    }, 5000);
    ASSERT_NE(nullptr, handled) << "the keys were not handled";
    EXPECT_EQ(c.expected, Text(width)) << c.start;
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
      const std::wstring label = Text(GetDlgItem(page, mp4v_pages::kLabelIdBase + static_cast<int>(i)));
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

// No text is cut off and no two controls overlap, in the font the pages use,
// and the tabs fit in one row.
TEST_F(PagesTest, EveryTextFitsAndNoControlsOverlap) {
  ASSERT_NE(nullptr, Open());
  EXPECT_EQ(1, TabCtrl_GetRowCount(PropSheet_GetTabControl(sheet_)));
  for (int p = 0; p < PageCount(sheet_); ++p) {
    HWND page = ShowPage(sheet_, p);
    std::vector<HWND> controls;
    for (HWND c = GetWindow(page, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      if (IsWindowVisible(c)) controls.push_back(c);
    }
    for (size_t a = 0; a < controls.size(); ++a) {
      RECT ra;
      GetWindowRect(controls[a], &ra);
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
      const bool label = id >= mp4v_pages::kLabelIdBase && id < mp4v_pages::kLabelIdBase + 100;
      const bool key = id >= mp4v_pages::kKeyIdBase && id < mp4v_pages::kKeyIdBase + 100;
      if (!label && !key) continue;
      std::wstring text = Text(controls[a]);
      if (label) text.erase(text.find(L'&'), 1);
      if (key) {
        EXPECT_EQ(Wide(mp4v_host::SettingKeys()[id - mp4v_pages::kKeyIdBase].name), text);
      }
      HDC dc = GetDC(controls[a]);
      HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(controls[a], WM_GETFONT, 0, 0)));
      SIZE extent{};
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
      SelectObject(dc, old);
      ReleaseDC(controls[a], dc);
      RECT client;
      GetClientRect(controls[a], &client);
      EXPECT_LE(extent.cx, client.right) << "\"" << std::string(text.begin(), text.end()) << "\" is cut off";
      EXPECT_LE(extent.cy, client.bottom) << "\"" << std::string(text.begin(), text.end()) << "\" is cut off";
    }
  }
  PressButton(sheet_, IDCANCEL);
  EXPECT_EQ(MP4V_PAGES_CANCELLED, Result());
}

}  // namespace
