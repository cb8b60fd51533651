#include "host/setting_text.h"

#include <cstring>
#include <limits>

#include "host/frame_rate.h"
#include "host/number_text.h"

namespace mp4v_host {
namespace {

TextStatus FromNumberStatus(NumberStatus status) {
  switch (status) {
    case NumberStatus::kOk: return TextStatus::kOk;
    case NumberStatus::kOutOfRange: return TextStatus::kOutOfRange;
    case NumberStatus::kNotANumber: break;
  }
  return TextStatus::kNotANumber;
}

// Divided at run time through volatile operands, so that no compiler folds
// it with another precision: the same double division a load performs.
double DividedBy1001(double rate) {
  volatile double numerator = rate;
  volatile double denominator = 1.001;
  return numerator / denominator;
}

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

const char* const kFrameRateChoices[kFrameRateChoiceCount] = {
    "23.976", "24", "25", "29.97", "30", "50", "59.94", "60"};

double SnappedRate23976() { return DividedBy1001(24.0); }
double SnappedRate2997() { return DividedBy1001(30.0); }
double SnappedRate5994() { return DividedBy1001(60.0); }

TextStatus ParseIntegerText(std::string_view text, int32_t* value) {
  text = TrimBlanks(text);
  if (text.empty()) return TextStatus::kEmpty;
  return FromNumberStatus(ParseInt32(text, value));
}

TextStatus ParseIntegerText(std::string_view text, IntegerRange range,
                            int32_t* value) {
  int32_t parsed = 0;
  const TextStatus status = ParseIntegerText(text, &parsed);
  if (status != TextStatus::kOk) return status;
  if (parsed < range.minimum) return TextStatus::kBelowRange;
  if (parsed > range.maximum) return TextStatus::kAboveRange;
  *value = parsed;
  return TextStatus::kOk;
}

TextStatus ParseFrameRateText(std::string_view text, double* value) {
  text = TrimBlanks(text);
  if (text.empty()) return TextStatus::kEmpty;
  switch (ParseFrameRate(text, value)) {
    case FrameRateStatus::kOk: return TextStatus::kOk;
    case FrameRateStatus::kNotANumber: return TextStatus::kNotANumber;
    case FrameRateStatus::kOutOfRange: return TextStatus::kOutOfRange;
    case FrameRateStatus::kNotPositive: return TextStatus::kNotPositive;
    case FrameRateStatus::kTooSmall: return TextStatus::kTooSmall;
  }
  return TextStatus::kNotANumber;
}

TextStatus ParseSettingText(const PageField& field, std::string_view text, int32_t* integer,
                            double* real) {
  if (field.control == Control::kFrameRate) return ParseFrameRateText(text, real);
  return ParseIntegerText(text, IntegerRange{field.minimum, field.maximum}, integer);
}

std::string SettingProblemText(const PageField& field, TextStatus status, std::string_view text) {
  return ProblemText(status, field.control == Control::kFrameRate, text,
                     IntegerRange{field.minimum, field.maximum});
}

std::wstring SettingProblemText(const PageField& field, TextStatus status, std::wstring_view text,
                                Language language) {
  return ProblemText(language, status, field.control == Control::kFrameRate, text,
                     IntegerRange{field.minimum, field.maximum});
}

std::string IntegerText(int32_t value) { return FormatInt32(value); }

std::string FrameRateText(double value) {
  if (SameBits(value, SnappedRate23976())) return "23.976";
  if (SameBits(value, SnappedRate2997())) return "29.97";
  if (SameBits(value, SnappedRate5994())) return "59.94";
  return FormatDouble(value);
}

int32_t StepInteger(int32_t value, int steps, int32_t step, IntegerRange range) {
  int64_t moved = static_cast<int64_t>(value) + static_cast<int64_t>(steps) * step;
  if (moved > range.maximum) moved = range.maximum;
  if (moved < range.minimum) moved = range.minimum;
  return static_cast<int32_t>(moved);
}

bool StepText(std::string_view text, int steps, int32_t step, IntegerRange range,
              std::string* stepped) {
  int32_t value = 0;
  if (ParseIntegerText(text, &value) != TextStatus::kOk) return false;
  const int32_t moved = StepInteger(value, steps, step, range);
  // The form as typed: a sign, then "0x" or "0X" for a hexadecimal number.
  std::string_view digits = TrimBlanks(text);
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    digits.remove_prefix(1);
  }
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    // Lower-case digits stay lower case when the person typed them so.
    bool lower = false;
    for (char c : digits.substr(2)) lower = lower || (c >= 'a' && c <= 'f');
    const char* hex = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    uint32_t magnitude = moved < 0 ? 0u - static_cast<uint32_t>(moved)
                                   : static_cast<uint32_t>(moved);
    std::string reversed;
    do {
      reversed += hex[magnitude % 16];
      magnitude /= 16;
    } while (magnitude != 0);
    *stepped = std::string(moved < 0 ? "-" : "") + "0" + digits[1] +
               std::string(reversed.rbegin(), reversed.rend());
    return true;
  }
  *stepped = IntegerText(moved);
  return true;
}

std::wstring ProblemText(Language language, TextStatus status, bool frame_rate,
                         std::wstring_view text, IntegerRange range) {
  auto phrase = [language](Phrase p) { return PhraseText(p, language); };
  // Blanks are spaces and tabs alone, as TrimBlanks takes them.
  const size_t first = text.find_first_not_of(L" \t");
  const std::wstring trimmed =
      first == std::wstring_view::npos
          ? std::wstring()
          : std::wstring(text.substr(first, text.find_last_not_of(L" \t") - first + 1));
  const std::wstring hint =
      frame_rate ? std::wstring(phrase(Phrase::kRateHint))
                 : Fill(phrase(Phrase::kIntegerHint),
                        {Fill(phrase(Phrase::kRange), {Widen(IntegerText(range.minimum)),
                                                       Widen(IntegerText(range.maximum))})});
  switch (status) {
    case TextStatus::kOk:
      return std::wstring();
    case TextStatus::kEmpty:
      return Fill(phrase(Phrase::kEmpty), {hint});
    case TextStatus::kNotANumber:
      return Fill(phrase(frame_rate ? Phrase::kNotARate : Phrase::kNotAWholeNumber),
                  {trimmed, hint});
    case TextStatus::kOutOfRange:
      return Fill(phrase(frame_rate ? Phrase::kRateOutOfRange : Phrase::kOutside32Bits),
                  {trimmed, hint});
    case TextStatus::kNotPositive:
      return Fill(phrase(Phrase::kNotPositive), {trimmed, hint});
    case TextStatus::kTooSmall:
      return Fill(phrase(Phrase::kTooSmall), {trimmed, Widen(kSmallestFrameRateText)});
    case TextStatus::kBelowRange:
      return Fill(phrase(Phrase::kBelowRange), {trimmed, hint});
    case TextStatus::kAboveRange:
      return Fill(phrase(Phrase::kAboveRange), {trimmed, hint});
  }
  return std::wstring();
}

// The English phrases are ASCII, so each byte of `text` goes through as the
// character of the same number and comes back unchanged.
std::string ProblemText(TextStatus status, bool frame_rate, std::string_view text,
                        IntegerRange range) {
  std::wstring wide;
  for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  const std::wstring problem = ProblemText(kEnglish, status, frame_rate, wide, range);
  std::string narrow;
  for (wchar_t c : problem) narrow += static_cast<char>(c);
  return narrow;
}

}  // namespace mp4v_host
