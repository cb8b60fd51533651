// showMP4VEncoderPages: the 56 settings as a modal property sheet over the
// host's record. The pages are built at run time from the page table, in
// dialog units, so that they grow with the dialog font on every DPI setting.
//
// The pages speak the language of the calling thread's user interface
// (GetThreadUILanguage: the user's, unless the host chose one for its
// thread), as far as the catalogue has it, and English otherwise; every
// word comes from the catalogue's column for that language. Only the
// sheet's own buttons are the common controls library's.
//
// The record is read once, when the pages open, and written once, after OK
// was pressed and every changed field was found good; until then the
// person's texts live in the page controls alone. Nothing outlives a call
// but the note that a sheet is open, which keeps a second one from opening.
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <commctrl.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "gui/page_ids.h"
#include "host/setting_text.h"
#include "host/settings_catalogue.h"
#include "host/settings_fields.h"
#include "mp4v_config.h"

namespace {

using mp4v_host::Control;
using mp4v_host::IntegerRange;
using mp4v_host::Language;
using mp4v_host::PageField;
using mp4v_host::PageGroup;
using mp4v_host::Phrase;
using mp4v_host::SettingKey;
using mp4v_host::TextStatus;

// The library's manifest resource (see version.rc).
constexpr WORD kManifestId = 2;

// One sheet in the process at a time. The note is taken before anything is
// shown and given back after the sheet is gone; `g_open_sheet` is the open
// sheet's window, once it has one, so a second call can bring it forward.
volatile LONG g_sheet_taken = 0;
HWND volatile g_open_sheet = nullptr;

// ---- Layout, in dialog units ------------------------------------------------
// A row is a label, the field (with its arrows) and the field's unit; an
// on/off setting is one check box that carries its label, as wide as the
// label and the field together.
constexpr short kMargin = 7;
constexpr short kRowHeight = 14;
constexpr short kLabelX = kMargin;
constexpr short kLabelWidth = 150;
constexpr short kTextHeight = 8;
constexpr short kTextDrop = 2;  // a label's top below its field's top
constexpr short kFieldX = kLabelX + kLabelWidth + 4;
constexpr short kFieldWidth = 62;
constexpr short kFieldHeight = 12;
constexpr short kUpDownWidth = 10;
constexpr short kCheckHeight = 10;
constexpr short kCheckDrop = 1;
constexpr short kListDropHeight = 100;  // the frame-rate list when open
constexpr short kUnitX = kFieldX + kFieldWidth + kUpDownWidth + 4;
constexpr short kUnitWidth = 100;
constexpr short kPageWidth = kUnitX + kUnitWidth + kMargin;

// Room for any number a person may mean; longer texts are refused anyway.
constexpr int kFieldTextLimit = 40;

// Window class atoms of dialog templates.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboBoxAtom = 0x0085;

std::wstring Widen(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// Characters beyond ASCII cannot be part of a number: they become '?', which
// every parser refuses.
std::string Narrow(const std::wstring& text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (wchar_t c : text) narrow += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
  return narrow;
}

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, &text[0], length + 1);
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// An extended dialog template (DLGTEMPLATEEX and its items), written into
// WORDs so that the DWORD alignment of every item can be kept.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, short width, short height) {
    Word(1);                     // dlgVer
    Word(0xFFFF);                // signature
    Dword(0);                    // helpID
    Dword(0);                    // exStyle
    Dword(style);
    count_at_ = words_.size();
    Word(0);                     // cDlgItems, counted as items are added
    Word(0);                     // x
    Word(0);                     // y
    Word(static_cast<WORD>(width));
    Word(static_cast<WORD>(height));
    Word(0);                     // no menu
    Word(0);                     // the standard dialog class
    Word(0);                     // no title: the tab takes the page's title
    Word(8);                     // point size
    Word(FW_NORMAL);
    Word(DEFAULT_CHARSET << 8);  // italic 0, then the character set
    Text(L"MS Shell Dlg");
  }

  void Item(WORD atom, const wchar_t* class_name, const wchar_t* text, int id,
            DWORD style, DWORD ex_style, short x, short y, short width,
            short height) {
    if (words_.size() % 2 != 0) Word(0);  // items start on a DWORD
    Dword(0);                              // helpID
    Dword(ex_style);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Word(static_cast<WORD>(x));
    Word(static_cast<WORD>(y));
    Word(static_cast<WORD>(width));
    Word(static_cast<WORD>(height));
    Dword(static_cast<DWORD>(id));
    if (class_name != nullptr) {
      Text(class_name);
    } else {
      Word(0xFFFF);
      Word(atom);
    }
    Text(text);
    Word(0);  // no creation data
    ++words_[count_at_];
  }

  const DLGTEMPLATE* data() const {
    return reinterpret_cast<const DLGTEMPLATE*>(words_.data());
  }

 private:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Text(const wchar_t* text) {
    for (; *text != L'\0'; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }

  std::vector<WORD> words_;
  size_t count_at_ = 0;
};

// One setting as the pages show it.
struct Slot {
  const SettingKey* key;
  size_t index;  // the key's place in MP4V_SETTINGS_FIELDS
  const PageField* field;
  bool is_rate() const { return field->control == Control::kFrameRate; }
  bool is_check() const { return field->control == Control::kOnOff; }
};

class Session;

struct PageContext {
  Session* session;
  size_t page;
};

// A change that OK will write.
struct Change {
  const SettingKey* key;
  int32_t integer;
  double real;
};

// Everything one call needs, on the caller's stack.
class Session {
 public:
  Session(const MP4VSettings& record, Language language) : language_(language) {
    const SettingKey* keys = mp4v_host::SettingKeys();
    initial_.resize(mp4v_host::kSettingKeyCount);
    for (size_t p = 0; p < mp4v_host::kPageGroupCount; ++p) {
      const PageGroup& group = mp4v_host::PageGroups()[p];
      contexts_[p] = PageContext{this, p};
      for (size_t r = 0; r < group.field_count; ++r) {
        const PageField& field = group.fields[r];
        const Slot slot{&keys[field.index()], field.index(), &field};
        slots_[p].push_back(slot);
        if (slot.is_rate()) {
          initial_[slot.index] =
              Widen(mp4v_host::FrameRateText(mp4v_host::LoadDouble(record, *slot.key)));
        } else {
          std::memcpy(&initial_value_[slot.index],
                      reinterpret_cast<const unsigned char*>(&record) + slot.key->offset,
                      sizeof(int32_t));
          initial_[slot.index] = Widen(mp4v_host::IntegerText(initial_value_[slot.index]));
        }
      }
      templates_.push_back(BuildTemplate(p));
    }
  }

  const DialogTemplate& page_template(size_t page) const { return templates_[page]; }
  HWND sheet() const { return sheet_; }
  PageContext* context(size_t page) { return &contexts_[page]; }
  bool accepted() const { return accepted_; }
  // Whether the sheet was ever on the screen, where a person could answer it.
  bool shown() const { return shown_; }
  // The sheet's title, which its messages carry too.
  const wchar_t* caption() const { return mp4v_host::PhraseText(Phrase::kCaption, language_); }
  const wchar_t* title(size_t page) const {
    return mp4v_host::PageGroups()[page].title[language_];
  }

  // The page's controls get their values, limits and tooltips; the first
  // page also hooks the sheet, to see it shown, and makes OK the default
  // button.
  void OnPageInit(size_t page, HWND window) {
    pages_[page] = window;
    if (sheet_ == nullptr) {
      sheet_ = GetParent(window);
      SetWindowSubclass(sheet_, &Session::SheetProc, 1,
                        reinterpret_cast<DWORD_PTR>(this));
      if (IsWindowVisible(sheet_)) shown_ = true;
      SendMessageW(sheet_, DM_SETDEFID, IDOK, 0);
      g_open_sheet = sheet_;
    }
    HWND tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0,
                                0, 0, window, nullptr, ThisModule(), nullptr);
    if (tips != nullptr) {
      SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, 360);
      // Long enough to read a tip of three sentences.
      SendMessageW(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    }
    tips_[page] = tips;
    for (const Slot& slot : slots_[page]) {
      HWND field = GetDlgItem(window, mp4v_pages::kFieldIdBase + static_cast<int>(slot.index));
      if (slot.is_check()) {
        SendMessageW(field, BM_SETCHECK, InitialCheck(slot), 0);
      } else if (slot.is_rate()) {
        for (const char* choice : mp4v_host::kFrameRateChoices) {
          SendMessageW(field, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(Widen(choice).c_str()));
        }
        SendMessageW(field, CB_LIMITTEXT, kFieldTextLimit, 0);
        const LRESULT item = SendMessageW(
            field, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
            reinterpret_cast<LPARAM>(initial_[slot.index].c_str()));
        if (item != CB_ERR) SendMessageW(field, CB_SETCURSEL, item, 0);
        SetWindowTextW(field, initial_[slot.index].c_str());
      } else {
        SendMessageW(field, EM_LIMITTEXT, kFieldTextLimit, 0);
        HWND arrows = GetDlgItem(window, mp4v_pages::kUpDownIdBase + static_cast<int>(slot.index));
        // The arrows never move on their own (see OnDeltaPos); a position in
        // the middle of the range keeps both of them working.
        SendMessageW(arrows, UDM_SETRANGE32, static_cast<WPARAM>(INT_MIN), INT_MAX);
        SendMessageW(arrows, UDM_SETPOS32, 0, 0);
        SetWindowTextW(field, initial_[slot.index].c_str());
      }
      if (tips != nullptr) AddTips(tips, window, slot);
    }
  }

  // An arrow of an integer field: its text moved by the field's step, held
  // within the field's range and kept in the form it was typed in. A text
  // that is not a number stays as it is, to be reported by OK.
  void OnDeltaPos(HWND page, const NMUPDOWN& change) {
    const int index = static_cast<int>(change.hdr.idFrom) - mp4v_pages::kUpDownIdBase;
    if (index < 0 || index >= static_cast<int>(MP4V_SETTINGS_COUNT)) return;
    const PageField& row = mp4v_host::FieldAt(static_cast<size_t>(index));
    HWND field = GetDlgItem(page, mp4v_pages::kFieldIdBase + index);
    std::string stepped;
    if (!mp4v_host::StepText(Narrow(WindowText(field)), change.iDelta, row.step,
                              IntegerRange{row.minimum, row.maximum}, &stepped)) {
      MessageBeep(MB_OK);
      return;
    }
    const std::wstring text = Widen(stepped);
    SetWindowTextW(field, text.c_str());
    SendMessageW(field, EM_SETSEL, text.size(), text.size());
  }

  // A click on an on/off setting's box (or Space, or its access key): a
  // cleared or third-state box becomes checked, a checked one cleared. The
  // third state never comes back: it only shows a value the record held.
  void OnCheckClicked(HWND page, int id) {
    const int index = id - mp4v_pages::kFieldIdBase;
    if (index < 0 || index >= static_cast<int>(MP4V_SETTINGS_COUNT)) return;
    const PageField& row = mp4v_host::FieldAt(static_cast<size_t>(index));
    if (row.control != Control::kOnOff) return;
    HWND box = GetDlgItem(page, id);
    const bool checked = SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    SendMessageW(box, BM_SETCHECK, checked ? BST_UNCHECKED : BST_CHECKED, 0);
    // The tip no longer speaks of the value the box held.
    std::wstring& text = tip_texts_[index];
    text = mp4v_host::TipText(row, nullptr, language_);
    for (size_t p = 0; p < mp4v_host::kPageGroupCount; ++p) {
      if (pages_[p] != page || tips_[p] == nullptr) continue;
      TTTOOLINFOW tool{};
      tool.cbSize = TTTOOLINFOW_V2_SIZE;
      tool.hwnd = page;
      tool.uId = reinterpret_cast<UINT_PTR>(box);
      tool.lpszText = &text[0];
      SendMessageW(tips_[p], TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }

  // OK, however it was pressed (the button, Enter, or a program's
  // PSM_PRESSBUTTON, which under Wine reaches the sheet as no command at
  // all), ends in PSN_APPLY to every page the sheet has made, and it is
  // then that the fields are judged, as they stand. False when a changed
  // field is bad: it has been reported, and the sheet stays open. A
  // PSN_APPLY that does not close the sheet (`closing` false: a program's
  // PSM_APPLY, as the sheet has no Apply button) judges but keeps nothing,
  // since the record is written after OK alone. Judging again for each
  // page gives the same verdict: the texts cannot change meanwhile.
  bool OnApply(bool closing) {
    if (!Validate()) {
      accepted_ = false;
      return false;
    }
    accepted_ = closing;
    return true;
  }

  // The 56 fields of the record, at once: the changed ones take their new
  // values, and every other byte is left alone.
  void Commit(MP4VSettings* record) const {
    for (const Change& change : changes_) {
      if (change.key->type == mp4v_host::FieldType::kDouble) {
        mp4v_host::StoreDouble(record, *change.key, change.real);
      } else {
        mp4v_host::StoreInt32(record, *change.key, change.integer);
      }
    }
  }

 private:
  WPARAM InitialCheck(const Slot& slot) const {
    const int32_t value = initial_value_[slot.index];
    return value == 0 ? BST_UNCHECKED : value == 1 ? BST_CHECKED : BST_INDETERMINATE;
  }

  DialogTemplate BuildTemplate(size_t page) const {
    const std::vector<Slot>& slots = slots_[page];
    // Every page is as tall as the tallest, so that no page looks cut short.
    size_t rows = 0;
    for (size_t p = 0; p < mp4v_host::kPageGroupCount; ++p) {
      if (mp4v_host::PageGroups()[p].field_count > rows) rows = mp4v_host::PageGroups()[p].field_count;
    }
    DialogTemplate page_template(
        DS_SETFONT | DS_FIXEDSYS | WS_CHILD | WS_DISABLED | WS_CAPTION,
        kPageWidth, static_cast<short>(2 * kMargin + rows * kRowHeight - 2));
    for (size_t r = 0; r < slots.size(); ++r) {
      const Slot& slot = slots[r];
      const int index = static_cast<int>(slot.index);
      const short y = static_cast<short>(kMargin + r * kRowHeight);
      if (slot.is_check()) {
        page_template.Item(kButtonAtom, nullptr, slot.field->label[language_],
                           mp4v_pages::kFieldIdBase + index, WS_TABSTOP | BS_3STATE, 0,
                           kLabelX, y + kCheckDrop, kUnitX - kLabelX - 4, kCheckHeight);
        continue;
      }
      page_template.Item(kStaticAtom, nullptr, slot.field->label[language_],
                         mp4v_pages::kLabelIdBase + index, SS_LEFT | SS_NOTIFY,
                         0, kLabelX, y + kTextDrop, kLabelWidth, kTextHeight);
      if (slot.is_rate()) {
        page_template.Item(kComboBoxAtom, nullptr, L"", mp4v_pages::kFieldIdBase + index,
                           WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL,
                           0, kFieldX, y, kFieldWidth + kUpDownWidth, kListDropHeight);
      } else {
        page_template.Item(kEditAtom, nullptr, L"", mp4v_pages::kFieldIdBase + index,
                           WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                           kFieldX, y, kFieldWidth, kFieldHeight);
        // Right after its field, which it takes as its buddy.
        page_template.Item(0, UPDOWN_CLASSW, L"", mp4v_pages::kUpDownIdBase + index,
                           UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS |
                               UDS_NOTHOUSANDS,
                           0, kFieldX + kFieldWidth, y, kUpDownWidth, kFieldHeight);
      }
      if (slot.field->has_unit()) {
        page_template.Item(kStaticAtom, nullptr, slot.field->unit[language_],
                           mp4v_pages::kUnitIdBase + index,
                           SS_LEFT | SS_NOPREFIX | SS_NOTIFY, 0, kUnitX,
                           y + kTextDrop, kUnitWidth, kTextHeight);
      }
    }
    return page_template;
  }

  void AddTips(HWND tips, HWND page, const Slot& slot) {
    std::wstring& text = tip_texts_[slot.index];
    const int32_t odd = initial_value_[slot.index];
    text = mp4v_host::TipText(*slot.field,
                               slot.is_check() && odd != 0 && odd != 1 ? &odd : nullptr,
                               language_);
    const int index = static_cast<int>(slot.index);
    HWND field = GetDlgItem(page, mp4v_pages::kFieldIdBase + index);
    std::vector<HWND> targets = {field};
    for (int base : {mp4v_pages::kLabelIdBase, mp4v_pages::kUnitIdBase}) {
      if (HWND other = GetDlgItem(page, base + index)) targets.push_back(other);
    }
    if (slot.is_rate()) {
      COMBOBOXINFO info{};
      info.cbSize = sizeof info;
      if (GetComboBoxInfo(field, &info) && info.hwndItem != nullptr) {
        targets.push_back(info.hwndItem);
      }
    }
    for (HWND target : targets) {
      TTTOOLINFOW tool{};
      tool.cbSize = TTTOOLINFOW_V2_SIZE;
      tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      tool.hwnd = page;
      tool.uId = reinterpret_cast<UINT_PTR>(target);
      tool.lpszText = &text[0];
      SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }

  // Every field in reading order, page by page. A field left as it was shown
  // keeps its bytes and is not judged (the record may hold what the pages
  // would not take from a person). The first bad changed one is reported
  // and nothing is kept; when all are good, the changes wait for Commit,
  // which the call makes once the sheet has closed after OK.
  bool Validate() {
    changes_.clear();
    for (size_t p = 0; p < mp4v_host::kPageGroupCount; ++p) {
      for (const Slot& slot : slots_[p]) {
        const int id = mp4v_pages::kFieldIdBase + static_cast<int>(slot.index);
        Change change{slot.key, 0, 0.0};
        if (slot.is_check()) {
          // A page never opened still shows what it was given.
          const WPARAM state = pages_[p] != nullptr
                                   ? static_cast<WPARAM>(SendDlgItemMessageW(
                                         pages_[p], id, BM_GETCHECK, 0, 0))
                                   : InitialCheck(slot);
          if (state == InitialCheck(slot)) continue;
          change.integer = state == BST_CHECKED ? 1 : 0;
          changes_.push_back(change);
          continue;
        }
        const std::wstring text = pages_[p] != nullptr
                                      ? WindowText(GetDlgItem(pages_[p], id))
                                      : initial_[slot.index];
        if (text == initial_[slot.index]) continue;
        const TextStatus status = mp4v_host::ParseSettingText(*slot.field, Narrow(text),
                                                               &change.integer, &change.real);
        if (status != TextStatus::kOk) {
          changes_.clear();
          Report(p, slot, status, text);
          return false;
        }
        changes_.push_back(change);
      }
    }
    return true;
  }

  // Brings the field's page forward, selects the field and says what is
  // wrong with it.
  void Report(size_t page, const Slot& slot, TextStatus status,
              const std::wstring& text) {
    PropSheet_SetCurSel(sheet_, nullptr, page);
    HWND field = GetDlgItem(pages_[page], mp4v_pages::kFieldIdBase + static_cast<int>(slot.index));
    SelectField(slot, field);
    const std::wstring message = mp4v_host::Fill(
        mp4v_host::PhraseText(Phrase::kRefusal, language_),
        {mp4v_host::PlainLabel(slot.field->label[language_]), Widen(slot.key->name),
         mp4v_host::SettingProblemText(*slot.field, status, text, language_)});
    MessageBoxW(sheet_, message.c_str(), caption(), MB_OK | MB_ICONWARNING);
    SelectField(slot, field);
  }

  static void SelectField(const Slot& slot, HWND field) {
    SetFocus(field);
    if (slot.is_rate()) {
      SendMessageW(field, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
    } else {
      SendMessageW(field, EM_SETSEL, 0, -1);
    }
  }

  // The sheet's window, hooked to see it shown: a sheet that closes without
  // ever having been on the screen was answered by no one.
  static LRESULT CALLBACK SheetProc(HWND sheet, UINT message, WPARAM wparam,
                                    LPARAM lparam, UINT_PTR id, DWORD_PTR data) {
    Session* session = reinterpret_cast<Session*>(data);
    if ((message == WM_SHOWWINDOW && wparam != FALSE) ||
        (message == WM_WINDOWPOSCHANGED &&
         (reinterpret_cast<const WINDOWPOS*>(lparam)->flags & SWP_SHOWWINDOW) != 0)) {
      session->shown_ = true;
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(sheet, &Session::SheetProc, id);
    return DefSubclassProc(sheet, message, wparam, lparam);
  }

  const Language language_;
  std::vector<std::wstring> initial_;  // what each field showed at first
  int32_t initial_value_[MP4V_SETTINGS_COUNT] = {};  // each integer as read
  std::wstring tip_texts_[MP4V_SETTINGS_COUNT];
  std::vector<Slot> slots_[mp4v_host::kPageGroupCount];
  std::vector<DialogTemplate> templates_;
  PageContext contexts_[mp4v_host::kPageGroupCount];
  HWND pages_[mp4v_host::kPageGroupCount] = {};
  HWND tips_[mp4v_host::kPageGroupCount] = {};
  HWND sheet_ = nullptr;
  std::vector<Change> changes_;
  bool accepted_ = false;
  bool shown_ = false;
};

// Posted by a page that became the current one, to be handled once the
// sheet has shown it and hidden the page before.
constexpr UINT kTakeFocusMessage = WM_APP + 1;

// A page brought forward by Ctrl+Tab or by the sheet's PSM_SETCURSEL leaves
// the focus on the hidden page before it, where typed keys and mnemonics
// would reach fields the person cannot see. The focus moves to this page's
// first field then; a focus anywhere visible (the tabs, say) stays.
void TakeFocusIfHidden(HWND page) {
  HWND focus = GetFocus();
  HWND sheet = GetParent(page);
  if (focus == nullptr || IsWindowVisible(focus) || !IsChild(sheet, focus)) return;
  if (HWND first = GetNextDlgTabItem(page, nullptr, FALSE)) {
    SendMessageW(sheet, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
  }
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* context = reinterpret_cast<PageContext*>(
        reinterpret_cast<const PROPSHEETPAGEW*>(lparam)->lParam);
    SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(context));
    context->session->OnPageInit(context->page, page);
    return TRUE;
  }
  if (message == kTakeFocusMessage) {
    TakeFocusIfHidden(page);
    return TRUE;
  }
  auto* context = reinterpret_cast<PageContext*>(GetWindowLongPtrW(page, DWLP_USER));
  if (context == nullptr) return FALSE;
  if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
    context->session->OnCheckClicked(page, LOWORD(wparam));
    return TRUE;
  }
  if (message != WM_NOTIFY) return FALSE;
  const NMHDR& header = *reinterpret_cast<const NMHDR*>(lparam);
  if (header.code == UDN_DELTAPOS) {
    context->session->OnDeltaPos(page, *reinterpret_cast<const NMUPDOWN*>(lparam));
    SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);  // the arrows stay put
    return TRUE;
  }
  if (header.code == PSN_SETACTIVE) {
    PostMessageW(page, kTakeFocusMessage, 0, 0);
    SetWindowLongPtrW(page, DWLP_MSGRESULT, 0);
    return TRUE;
  }
  if (header.code == PSN_APPLY) {
    const bool closing = reinterpret_cast<const PSHNOTIFY*>(lparam)->lParam != FALSE;
    // A bad field's page has come forward: the sheet stays on it.
    SetWindowLongPtrW(page, DWLP_MSGRESULT, context->session->OnApply(closing)
                                                ? PSNRET_NOERROR
                                                : PSNRET_INVALID_NOCHANGEPAGE);
    return TRUE;
  }
  return FALSE;
}

// Centres the sheet over its owner, or over the work area of the screen when
// it has none.
int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM) {
  if (message != PSCB_INITIALIZED) return 0;
  RECT area{};
  HWND owner = GetWindow(sheet, GW_OWNER);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(owner != nullptr ? owner : sheet,
                                    MONITOR_DEFAULTTONEAREST),
                  &monitor);
  area = monitor.rcWork;
  if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
    GetWindowRect(owner, &area);
  }
  RECT frame{};
  GetWindowRect(sheet, &frame);
  const LONG width = frame.right - frame.left;
  const LONG height = frame.bottom - frame.top;
  LONG x = area.left + (area.right - area.left - width) / 2;
  LONG y = area.top + (area.bottom - area.top - height) / 2;
  // Never off the work area's top left, where the title bar must stay.
  if (x < monitor.rcWork.left) x = monitor.rcWork.left;
  if (y < monitor.rcWork.top) y = monitor.rcWork.top;
  SetWindowPos(sheet, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return 0;
}

// The call running on this thread, for the key hook below; set for the
// time of one call only.
thread_local const Session* t_session = nullptr;

// Ctrl+Tab and Ctrl+PageDown bring the next page forward, Ctrl+Shift+Tab and
// Ctrl+PageUp the one before, wherever the focus is on the sheet. Not every
// system's sheet does this in its modal loop, so the pages take these keys
// themselves, before the loop sees them.
LRESULT CALLBACK PageKeysHook(int code, WPARAM removed, LPARAM data) {
  MSG* message = reinterpret_cast<MSG*>(data);
  HWND sheet = t_session != nullptr ? t_session->sheet() : nullptr;
  if (code == HC_ACTION && removed == PM_REMOVE && sheet != nullptr &&
      message->message == WM_KEYDOWN && (GetKeyState(VK_CONTROL) & 0x8000) &&
      (message->hwnd == sheet || IsChild(sheet, message->hwnd))) {
    int step = 0;
    if (message->wParam == VK_TAB) step = (GetKeyState(VK_SHIFT) & 0x8000) ? -1 : 1;
    if (message->wParam == VK_NEXT) step = 1;
    if (message->wParam == VK_PRIOR) step = -1;
    HWND tabs = PropSheet_GetTabControl(sheet);
    const int count = TabCtrl_GetItemCount(tabs);
    if (step != 0 && count > 0) {
      const int page = (TabCtrl_GetCurSel(tabs) + step + count) % count;
      PropSheet_SetCurSel(sheet, nullptr, page);
      message->message = WM_NULL;  // taken: neither the loop nor the field sees it
    }
  }
  return CallNextHookEx(nullptr, code, removed, data);
}

// Installs the key hook for the time of one call.
class PageKeys {
 public:
  explicit PageKeys(const Session* session) : outer_(t_session) {
    t_session = session;
    hook_ = SetWindowsHookExW(WH_GETMESSAGE, &PageKeysHook, nullptr, GetCurrentThreadId());
  }
  ~PageKeys() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    t_session = outer_;
  }
  PageKeys(const PageKeys&) = delete;
  PageKeys& operator=(const PageKeys&) = delete;

 private:
  const Session* outer_;
  HHOOK hook_ = nullptr;
};

// The library's own manifest, active on this thread for the life of the
// object: the windows made meanwhile are Common Controls 6 windows whether
// or not the host's manifest asks for them. Without it (a system that
// refuses the context) the pages still show, in the host's controls.
class OwnManifest {
 public:
  OwnManifest() {
    wchar_t path[MAX_PATH] = {};
    const HMODULE module = ThisModule();
    if (GetModuleFileNameW(module, path, MAX_PATH) == 0) return;
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = path;
    context.hModule = module;
    context.lpResourceName = MAKEINTRESOURCEW(kManifestId);
    handle_ = CreateActCtxW(&context);
    if (handle_ == INVALID_HANDLE_VALUE) return;
    if (!ActivateActCtx(handle_, &cookie_)) cookie_ = 0;
  }
  ~OwnManifest() {
    if (cookie_ != 0) DeactivateActCtx(0, cookie_);
    if (handle_ != INVALID_HANDLE_VALUE) ReleaseActCtx(handle_);
  }
  OwnManifest(const OwnManifest&) = delete;
  OwnManifest& operator=(const OwnManifest&) = delete;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  ULONG_PTR cookie_ = 0;
};

class OneSheet {
 public:
  OneSheet() : taken_(InterlockedCompareExchange(&g_sheet_taken, 1, 0) == 0) {}
  ~OneSheet() {
    if (!taken_) return;
    g_open_sheet = nullptr;
    InterlockedExchange(&g_sheet_taken, 0);
  }
  OneSheet(const OneSheet&) = delete;
  OneSheet& operator=(const OneSheet&) = delete;
  bool taken() const { return taken_; }

 private:
  bool taken_;
};

// The open sheet (of this or another thread) comes to the front, restored
// if it was minimized, so the person sees why no second one opened.
void BringOpenSheetForward() {
  HWND sheet = g_open_sheet;
  if (sheet == nullptr || !IsWindow(sheet)) return;
  if (IsIconic(sheet)) ShowWindowAsync(sheet, SW_RESTORE);
  SetForegroundWindow(sheet);
}

int32_t ShowPages(HWND owner, MP4VSettings* record) {
  OwnManifest manifest;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  if (!InitCommonControlsEx(&controls)) return MP4V_PAGES_FAILED;

  Session session(*record, mp4v_host::LanguageForLangId(GetThreadUILanguage()));
  const HINSTANCE module = ThisModule();
  PROPSHEETPAGEW pages[mp4v_host::kPageGroupCount] = {};
  for (size_t p = 0; p < mp4v_host::kPageGroupCount; ++p) {
    pages[p].dwSize = sizeof pages[p];  // the sheet steps through the array by it
    pages[p].dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
    pages[p].hInstance = module;
    pages[p].pResource = session.page_template(p).data();
    pages[p].pszTitle = session.title(p);
    pages[p].pfnDlgProc = &PageProc;
    pages[p].lParam = reinterpret_cast<LPARAM>(session.context(p));
  }
  PROPSHEETHEADERW header{};
  header.dwSize = PROPSHEETHEADERW_V1_SIZE;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP |
                   PSH_USECALLBACK;
  header.hwndParent = owner;
  header.hInstance = module;
  header.pszCaption = session.caption();
  header.nPages = mp4v_host::kPageGroupCount;
  header.nStartPage = 0;
  header.ppsp = pages;
  header.pfnCallback = &SheetCallback;

  PageKeys keys(&session);
  // A sheet that could make no window (no display, say) is a failure, never
  // a Cancel. The documented answer of PropertySheet then is -1, but Wine's
  // returns 0, as for Cancel: only a sheet that was on the screen can have
  // been cancelled by a person.
  if (PropertySheetW(&header) < 0 || !session.shown()) return MP4V_PAGES_FAILED;
  if (!session.accepted()) return MP4V_PAGES_CANCELLED;
  session.Commit(record);
  return MP4V_PAGES_OK;
}

}  // namespace

extern "C" int32_t MP4V_CDECL showMP4VEncoderPages(void* owner_window,
                                                   MP4VSettings* settings) {
  if (settings == nullptr) return MP4V_PAGES_FAILED;
  HWND owner = static_cast<HWND>(owner_window);
  if (owner != nullptr && !IsWindow(owner)) return MP4V_PAGES_FAILED;
  // A modal sheet disables the window it is owned by; owned by a child
  // window (a host's button, say) it would leave the top-level window
  // usable. The top-level window is the owner then.
  if (owner != nullptr) owner = GetAncestor(owner, GA_ROOT);
  OneSheet one;
  if (!one.taken()) {
    BringOpenSheetForward();
    return MP4V_PAGES_FAILED;
  }
  try {
    return ShowPages(owner, settings);
  } catch (...) {
    // Only memory can run out before the pages show; the record is as it was.
    return MP4V_PAGES_FAILED;
  }
}

// The export has exactly the type the public header promises.
static_assert(std::is_same<decltype(&showMP4VEncoderPages),
                           MP4VShowEncoderPagesFn>::value,
              "showMP4VEncoderPages matches MP4VShowEncoderPagesFn");
