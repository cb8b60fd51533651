// Which settings each page of the settings pages shows, in what order, and
// under which label. Every one of the 56 keys appears on exactly one page.
#ifndef MP4V_GUI_PAGE_TABLE_H_
#define MP4V_GUI_PAGE_TABLE_H_

#include <cstddef>
#include <string>

namespace mp4v_pages {

struct PageField {
  const char* key;        // the configuration key, as in MP4V_SETTINGS_FIELDS
  const wchar_t* label;   // the label, with "&" before its mnemonic
};

struct PageGroup {
  const wchar_t* title;   // the tab's text
  const PageField* fields;
  size_t field_count;
};

constexpr size_t kPageGroupCount = 6;

// The pages in tab order; each page's fields in reading order.
const PageGroup* PageGroups();

// `label` without its "&" marks: the setting's name in messages.
std::wstring PlainLabel(const wchar_t* label);

}  // namespace mp4v_pages

#endif  // MP4V_GUI_PAGE_TABLE_H_
