// The settings' catalogue: which page of the settings pages shows each
// setting, in what order, and what a person needs to know of it: its label,
// the kind of control, the numbers it takes, its unit and what it does.
// Every one of the 56 keys appears on exactly one page. The settings pages
// lay themselves out from it, and `mp4vcfg set` takes a setting's range from
// it, so both hold a value to the same numbers.
#ifndef MP4V_HOST_SETTINGS_CATALOGUE_H_
#define MP4V_HOST_SETTINGS_CATALOGUE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "mp4v_config.h"

namespace mp4v_host {

// The settings by their place in MP4V_SETTINGS_FIELDS: the table names its
// rows by these, so a row for a field the header does not list cannot be
// written, and the key's name and type come from that list alone.
#define MP4V_HOST_FIELD_NAME(field, offset, c_type, type_name) field,
enum class Setting : size_t { MP4V_SETTINGS_FIELDS(MP4V_HOST_FIELD_NAME) };
#undef MP4V_HOST_FIELD_NAME

// How a setting is shown.
enum class Control {
  kNumber,     // a whole number with a range of its own (a size, a count...)
  kChoice,     // a number that names one of the encoder's choices
  kOnOff,      // a check box: 0 off, 1 on
  kFrameRate,  // the frame-rate list
};

struct PageField {
  Setting setting;
  const wchar_t* label;  // plain words, with "&" before its mnemonic
  Control control;
  int32_t minimum;       // the numbers the field takes (numbers and choices)
  int32_t maximum;
  int32_t step;          // what one press of an arrow adds
  const wchar_t* unit;   // shown after the field; null for none
  const wchar_t* about;  // one sentence on what it does; null when the
                         // key's name alone does not make that certain
  size_t index() const { return static_cast<size_t>(setting); }
  const char* key() const;
};

struct PageGroup {
  const wchar_t* title;   // the tab's text
  const PageField* fields;
  size_t field_count;
};

constexpr size_t kPageGroupCount = 6;

// The pages in tab order; each page's fields in reading order.
const PageGroup* PageGroups();

// The row of the setting at `index` in MP4V_SETTINGS_FIELDS.
const PageField& FieldAt(size_t index);

// `label` without its "&" marks: the setting's name in messages.
std::wstring PlainLabel(const wchar_t* label);

// The tooltip of a setting: its key and section, what it does where that is
// known, and what the field takes. `odd_value` is the value an on/off
// setting holds that is neither 0 nor 1, or null.
std::wstring TipText(const PageField& field, const int32_t* odd_value);

}  // namespace mp4v_host

#endif  // MP4V_HOST_SETTINGS_CATALOGUE_H_
