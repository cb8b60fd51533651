// The settings' catalogue: which page of the settings pages shows each
// setting, in what order, and what a person needs to know of it: its label,
// the kind of control, the numbers it takes, its unit and what it does.
// Every one of the 56 keys appears on exactly one page. The settings pages
// lay themselves out from it, and `mp4vcfg set` takes a setting's range from
// it, so both hold a value to the same numbers.
//
// Every word the pages show is here too, in each language the pages speak,
// one column per language: a row holds its label, unit and tooltip sentence
// in all of them, and the page-wide texts (caption, tab titles, the parts of
// a tooltip and of the message that refuses a field) are rows of their own.
// The texts live beside the facts they describe rather than in string
// tables of the pages library's resources because a row then cannot gain a
// language for one text and miss it for another unseen, because the tests
// that hold every text in every language run natively on every target, and
// because `mp4vcfg set` words its (English) refusals from the same rows. A
// further language is one more column: kLanguageCount one higher, its
// primary language identifier in kLanguageIds and its texts in every row
// (the tests name each one missing); nothing that reads the table changes.
#ifndef MP4V_HOST_SETTINGS_CATALOGUE_H_
#define MP4V_HOST_SETTINGS_CATALOGUE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "mp4v_config.h"

namespace mp4v_host {

// The settings by their place in MP4V_SETTINGS_FIELDS: the table names its
// rows by these, so a row for a field the header does not list cannot be
// written, and the key's name and type come from that list alone.
#define MP4V_HOST_FIELD_NAME(field, offset, c_type, type_name) field,
enum class Setting : size_t { MP4V_SETTINGS_FIELDS(MP4V_HOST_FIELD_NAME) };
#undef MP4V_HOST_FIELD_NAME

// The languages the pages speak, as the column of a text. English is
// column 0, the language of every system the table does not name.
constexpr size_t kLanguageCount = 2;
using Language = size_t;
constexpr Language kEnglish = 0;
constexpr Language kGerman = 1;

// The Windows primary language identifier (the low 10 bits of a LANGID:
// 0x09 English, 0x07 German) each column is for.
extern const uint16_t kLanguageIds[kLanguageCount];

// The column for a Windows language identifier (a LANGID, as
// GetThreadUILanguage gives it): the column of its primary language, so
// that German of Austria or Switzerland is German too; English for a
// language no column is for.
Language LanguageForLangId(uint16_t lang_id);

// One text in every language, by column. A text null or empty in some
// column but not in all is a gap in the table, which the catalogue's tests
// refuse.
using Words = std::array<const wchar_t*, kLanguageCount>;

// How a setting is shown.
enum class Control {
  kNumber,     // a whole number with a range of its own (a size, a count...)
  kChoice,     // a number that names one of the encoder's choices
  kOnOff,      // a check box: 0 off, 1 on
  kFrameRate,  // the frame-rate list
};

struct PageField {
  Setting setting;
  Words label;         // plain words, with "&" before its mnemonic
  Control control;
  int32_t minimum;     // the numbers the field takes (numbers and choices)
  int32_t maximum;
  int32_t step;        // what one press of an arrow adds
  Words unit;          // shown after the field; null in every column for none
  Words about;         // one sentence on what it does; null in every column
                       // when the key's name alone does not make that certain
  size_t index() const { return static_cast<size_t>(setting); }
  bool has_unit() const { return unit[kEnglish] != nullptr; }
  bool has_about() const { return about[kEnglish] != nullptr; }
  const char* key() const;
};

struct PageGroup {
  Words title;   // the tab's text
  const PageField* fields;
  size_t field_count;
};

// The texts that are no setting's own: the sheet's caption (which its
// messages carry too), the parts of a tooltip and of the message that
// refuses a field. "%1", "%2"... stand for what Fill puts in.
enum class Phrase : size_t {
  kCaption,
  kTipKey,             // %1 the key, %2 the section
  kTipNumber,          // %1 the range (kRange)
  kTipUnit,            // %1 the unit, after kTipNumber
  kTipHex,             // ends a number's or a choice's tip
  kTipStep,            // %1 the step of the arrows
  kTipChoice,
  kTipOnOff,
  kTipOddValue,        // %1 the value an on/off setting holds
  kTipFrameRate,
  kRange,              // %1 the least, %2 the most
  kRefusal,            // %1 the setting's name, %2 its key, %3 the problem
  kIntegerHint,        // %1 the range (kRange)
  kRateHint,
  kEmpty,              // %1 the hint
  kNotAWholeNumber,    // %1 the text, %2 the hint; and so on below
  kNotARate,
  kOutside32Bits,
  kRateOutOfRange,
  kNotPositive,
  kTooSmall,           // %1 the text, %2 the smallest rate
  kBelowRange,
  kAboveRange,
  kCount
};

// The phrase in `language`'s column; English for a column the table does
// not have.
const wchar_t* PhraseText(Phrase phrase, Language language);

// `pattern` with "%1" to "%9" replaced by `values` in turn; a mark with no
// value stays as it is.
std::wstring Fill(const wchar_t* pattern, std::initializer_list<std::wstring> values);

constexpr size_t kPageGroupCount = 6;

// The pages in tab order; each page's fields in reading order.
const PageGroup* PageGroups();

// The row of the setting at `index` in MP4V_SETTINGS_FIELDS.
const PageField& FieldAt(size_t index);

// `label` without its "&" marks: the setting's name in messages.
std::wstring PlainLabel(const wchar_t* label);

// The tooltip of a setting in `language`: its key and section, what it does
// where that is known, and what the field takes. `odd_value` is the value an
// on/off setting holds that is neither 0 nor 1, or null. English for a
// column the table does not have.
std::wstring TipText(const PageField& field, const int32_t* odd_value,
                     Language language = kEnglish);

}  // namespace mp4v_host

#endif  // MP4V_HOST_SETTINGS_CATALOGUE_H_
