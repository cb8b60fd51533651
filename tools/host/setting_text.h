// A setting's text as a person types it and reads it: what the settings
// pages' field shows for a stored value, and which value a text stands for,
// by the setting's row of the catalogue. The settings pages and `mp4vcfg set`
// both judge a text here, so they take and refuse the same texts.
#ifndef MP4V_HOST_SETTING_TEXT_H_
#define MP4V_HOST_SETTING_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "host/settings_catalogue.h"

namespace mp4v_host {

// What a field's text amounts to. Every status but kOk refuses the text.
enum class TextStatus {
  kOk,
  kEmpty,        // nothing but blanks
  kNotANumber,   // not the form the field takes
  kOutOfRange,   // an integer beyond 32 bits, a rate beyond a double's range
  kNotPositive,  // a frame rate of zero or below
  kTooSmall,     // a frame rate a file would hold as 0
  kBelowRange,   // a whole number below the field's own range
  kAboveRange,   // a whole number above it
};

// The numbers an integer field takes: the whole 32-bit range, or less.
struct IntegerRange {
  int32_t minimum;
  int32_t maximum;
};

// The choices of the frame-rate list, in the order shown.
constexpr int kFrameRateChoiceCount = 8;
extern const char* const kFrameRateChoices[kFrameRateChoiceCount];

// 24, 30 and 60 divided by 1.001 in double arithmetic: the rates a load snaps
// a file's 23.976, 29.97 and 59.94 to, bit for bit.
double SnappedRate23976();
double SnappedRate2997();
double SnappedRate5994();

// Blanks (spaces and tabs) around a text are ignored by both parsers.
//
// An optional sign, then decimal digits or "0x"/"0X" and hexadecimal digits,
// as mp4vcfg and the files take them; the value must fit 32 signed bits and
// then `range`.
TextStatus ParseIntegerText(std::string_view text, int32_t* value);
TextStatus ParseIntegerText(std::string_view text, IntegerRange range,
                            int32_t* value);

// A frame rate by the rule mp4vcfg follows too (host/frame_rate.h): a
// positive decimal number or a fraction such as "30000/1001", a rate a file
// can hold, snapped as a load would snap it.
TextStatus ParseFrameRateText(std::string_view text, double* value);

// A person's text for the setting of `field`, a row of the catalogue: the
// one judgement of the settings pages' OK and of `mp4vcfg set`, so that both
// take and refuse the same texts and store the same values. Blanks and tabs
// around the text are ignored. The frame rate follows ParseFrameRateText
// into `*real`; every other setting takes a whole number within the row's
// range into `*integer` (0 or 1 for an on/off setting, which the pages
// themselves store from a click). Each is written only for kOk.
TextStatus ParseSettingText(const PageField& field, std::string_view text, int32_t* integer,
                            double* real);

// ProblemText for `text` refused by ParseSettingText for that setting: it
// names the row's own range. In English, for mp4vcfg's messages.
std::string SettingProblemText(const PageField& field, TextStatus status, std::string_view text);
// The same in `language`, for the person at the settings pages.
std::wstring SettingProblemText(const PageField& field, TextStatus status, std::wstring_view text,
                                Language language);

std::string IntegerText(int32_t value);

// The three snapped rates show as "23.976", "29.97" and "59.94"; any other
// rate, also one that is not positive or finite, shows as the shortest text
// that reads back to the same double.
std::string FrameRateText(double value);

// `value` moved by `steps` times `step` (the up-down arrows), held within
// `range` instead of wrapping around. A value outside the range moves into
// it.
int32_t StepInteger(int32_t value, int steps, int32_t step, IntegerRange range);

// The text an arrow press makes of `text`: the number stepped as above, in
// the form it was typed in (hexadecimal stays hexadecimal, with its "0x" or
// "0X"). False, with `*stepped` untouched, when `text` is no number.
bool StepText(std::string_view text, int steps, int32_t step, IntegerRange range,
              std::string* stepped);

// What is wrong with `text`, as sentences for the person, e.g.
// "\"12x\" is not a whole number. Enter ...", naming the numbers `range`
// allows. `frame_rate` chooses the frame rate's wording instead.
// In English, for scripts and logs; `text` is quoted byte for byte.
std::string ProblemText(TextStatus status, bool frame_rate, std::string_view text,
                        IntegerRange range = IntegerRange{INT32_MIN, INT32_MAX});
// The same sentences in `language`, from the catalogue's phrases.
std::wstring ProblemText(Language language, TextStatus status, bool frame_rate,
                         std::wstring_view text,
                         IntegerRange range = IntegerRange{INT32_MIN, INT32_MAX});

}  // namespace mp4v_host

#endif  // MP4V_HOST_SETTING_TEXT_H_
