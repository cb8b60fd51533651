#include "mp4vcfg/check.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "api/requests.h"
#include "settings/key_table.h"

namespace mp4vcfg {
namespace {

// The lines of a text as an editor counts them, LF, CR LF and a lone CR
// each ending one, asked for in the order of the text: it keeps no record
// per line, only how far it has counted.
class LineNumbers {
 public:
  explicit LineNumbers(const std::string& bytes) : bytes_(bytes) {}
  // 1-based number of the line holding byte `offset`, which is never before
  // the offset asked for last.
  size_t At(size_t offset) {
    while (counted_ < offset && counted_ < bytes_.size()) {
      const char c = bytes_[counted_];
      if (c == '\r' && counted_ + 1 < bytes_.size() && bytes_[counted_ + 1] == '\n') {
        if (counted_ + 2 > offset) break;  // the line end holds `offset`
        counted_ += 2;
      } else {
        ++counted_;
        if (c != '\n' && c != '\r') continue;
      }
      ++line_;
      start_ = counted_;
    }
    return line_;
  }
  // The text of the line At() gave last, without its line end.
  std::string Text() const {
    const size_t end = std::min(bytes_.find_first_of("\r\n", start_), bytes_.size());
    return bytes_.substr(start_, end - start_);
  }

 private:
  const std::string& bytes_;
  size_t counted_ = 0;  // bytes counted
  size_t line_ = 1;     // the line at `counted_`
  size_t start_ = 0;    // where it begins
};

// A value of the account as the findings quote it: an "int" field's as its
// digits, a "dbl" field's with the digits that give it back.
std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string Quote(const std::string& text, size_t width) {
  return "'" + DisplayLine(text, width) + "'";
}

// The words for what the account says a rewrite does to a setting's line,
// or "" for a setting changed as asked, whose old value alone goes.
std::string RewriteReason(const MP4VSavedLine& line) {
  const std::string old_text = Quote(line.old_value, 30);
  switch (line.change) {
    case MP4VLineChange::kKept:
    case MP4VLineChange::kLoadsElsewhere:
    case MP4VLineChange::kAsked:
      return line.split || line.split_before
                 ? "a save writes " + line.new_value + " in place of " + old_text
                 : "";
    case MP4VLineChange::kRestOfLine:
      return "a save writes this setting's line as " + Quote(line.written, 50) +
             ": the rest of the line is dropped";
    case MP4VLineChange::kOtherValue:
      return (line.asked ? "the new value " + Number(line.saved) + ":"
                         : old_text + " loads as " + Number(line.loaded) + ",") +
             " a save writes " + line.new_value + ", which loads as " + Number(line.reloaded);
    case MP4VLineChange::kWordsAfterFirst:
      return "a save writes " + line.new_value + " in place of " + old_text + ": " +
             Quote(line.dropped, 30) + " after its first word is dropped";
    case MP4VLineChange::kTextAfterNumber:
      return "the value loads as " + line.new_value + ": " + Quote(line.dropped, 30) +
             " after the number is dropped";
    case MP4VLineChange::kNoNumber:
      return old_text + " is not a number: it loads as 0 and a save writes " + line.new_value;
    case MP4VLineChange::kOutOfRange:
      return old_text + " is out of range: a save writes " + line.new_value;
    case MP4VLineChange::kSameNumber:
      return "a save writes the value " + old_text + " as " + line.new_value +
             ", the same number";
    case MP4VLineChange::kSameValue:
      return "a save writes the value " + old_text + " as " + line.new_value +
             ": a load reads both as " + Number(line.reloaded);
  }
  return "";
}

const char* EndName(MP4VLineEnd end) {
  switch (end) {
    case MP4VLineEnd::kLf:
      return "LF";
    case MP4VLineEnd::kCrLf:
      return "CR LF";
    case MP4VLineEnd::kCr:
      return "CR";
    case MP4VLineEnd::kNone:
    case MP4VLineEnd::kGoesOn:
      break;
  }
  return "";
}

// Adds what the account says the save changes of the layout of `line` to
// `*layout`. A part of a long line that the save ends is a finding, not
// layout.
void AddLayout(const MP4VSavedLine& line, LayoutChange* layout) {
  if (line.end != line.written_end && line.end != MP4VLineEnd::kGoesOn) {
    const char* const from = EndName(line.end);
    const char* const to = EndName(line.written_end);
    auto same = [&](const LayoutChange::LineEnds& e) { return e.from == from && e.to == to; };
    auto at = std::find_if(layout->line_ends.begin(), layout->line_ends.end(), same);
    if (at == layout->line_ends.end()) {
      layout->line_ends.push_back({from, to, 0});
      at = layout->line_ends.end() - 1;
    }
    ++at->lines;
  }
  if (line.written_empty_before > line.empty_before) {
    layout->empty_lines_added += line.written_empty_before - line.empty_before;
  } else {
    layout->empty_lines_dropped += line.empty_before - line.written_empty_before;
  }
}

}  // namespace

std::string DisplayLine(const std::string& text, size_t width) {
  // Characters, not bytes, count towards the width, and a cut never falls
  // inside one: a UTF-8 sequence is one character.
  std::string out;
  size_t shown = 0;
  size_t last_fit = 0;  // bytes of `out` within width - 3 characters
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = 1;
    if (c >= 0xC0) {
      length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      for (size_t k = 1; k < length; ++k) {
        if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
          length = 1;
          break;
        }
      }
    }
    if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out.append(text, i, length);
    }
    i += length;
    ++shown;
    if (shown + 3 <= width) last_fit = out.size();
  }
  if (shown > width) out = out.substr(0, width > 3 ? last_fit : 0) + "...";
  return out;
}

SaveReport JudgeSettingsText(const std::string& bytes) {
  MP4VSettings loaded{};
  MP4VConfigLoadText(bytes, &loaded);
  return JudgeSave(bytes, loaded);
}

std::vector<Finding> CheckSettingsText(const std::string& bytes) {
  return JudgeSettingsText(bytes).findings;
}

std::vector<Finding> CheckSave(const std::string& bytes, const MP4VSettings& saved) {
  return JudgeSave(bytes, saved).findings;
}

SaveReport JudgeSave(const std::string& bytes, const MP4VSettings& saved) {
  SaveReport report;
  std::vector<Finding>& findings = report.findings;
  const std::string first_line = bytes.substr(0, bytes.find_first_of("\r\n"));
  // One finding a line: a line over kConfigLineMax characters is read in
  // parts, and each part may have words of its own.
  auto add = [&findings](Finding f) {
    if (!findings.empty() && findings.back().line == f.line) {
      findings.back().reason += "; " + f.reason;
      findings.back().loses_text = findings.back().loses_text || f.loses_text;
    } else {
      findings.push_back(std::move(f));
    }
  };
  const std::string parts = "a line longer than " + std::to_string(kConfigLineMax) +
                            " characters is read in parts, and a save ";
  // The account's lines come one at a time and only the findings are kept.
  // A part kept as read that the save ends waits for the next line: a
  // rewritten next part says so itself.
  LineNumbers numbers(bytes);
  LayoutChange layout;
  bool split_waits = false;
  Finding waiting;
  const auto each_line = [&](const MP4VSavedLine& line) {
    if (split_waits && line.kind != MP4VSavedLineKind::kSettingRewritten) {
      add(std::move(waiting));
    }
    split_waits = false;
    AddLayout(line, &layout);
    Finding f;
    f.line = numbers.At(line.offset);
    f.loses_text = line.loses_text;
    if (line.kind == MP4VSavedLineKind::kSettingRewritten) {
      f.reason = RewriteReason(line);
      if (f.reason.empty()) return;
      if (line.comment_moved) {
        f.reason += "; the comment moves to a line of its own (the entry and its comment "
                    "no longer fit one line)";
      }
      // Said once a line, before the words of its parts.
      const bool split = line.split || line.split_before;
      if (split && (findings.empty() || findings.back().line != f.line)) {
        f.reason.insert(0, parts + "writes a setting's part on a line of its own: ");
      }
    } else if (line.change == MP4VLineChange::kLoadsElsewhere) {
      f.reason = std::string(line.loads) + " loads from this line as " + Number(line.loaded) +
                 "; a save writes it into the first [" + kMP4VSettingsSection +
                 "] section, and it then loads as " + Number(line.reloaded);
    } else if (line.split) {
      // A part kept as read, ended because the save adds settings after it.
      f.text = numbers.Text();
      f.reason = parts + "adds settings between them: the line is split";
      waiting = std::move(f);
      split_waits = true;
      return;
    } else {
      return;
    }
    f.text = numbers.Text();
    add(std::move(f));
  };
  MP4VSaveAccount account;
  switch (MP4VConfigAccountSaveText(bytes, &saved, each_line, &account)) {
    case MP4VSaveTextResult::kWritten:
      break;
    case MP4VSaveTextResult::kUtf16:
      findings.push_back({1, first_line,
                          "UTF-16 text (it begins with a UTF-16 byte-order mark): a save "
                          "refuses it and leaves it as it is, and no setting loads from it",
                          false});
      return report;
    case MP4VSaveTextResult::kNoValueText:
      findings.push_back({1, first_line,
                          "frame_rate " + Number(saved.frame_rate) +
                              ": no value text holds this rate, and no line of the file "
                              "loads as it: a save refuses the record and leaves the file "
                              "as it is",
                          false});
      return report;
    case MP4VSaveTextResult::kOutOfMemory:
      throw std::bad_alloc();
  }
  if (split_waits) add(std::move(waiting));
  if (account.unmarked_utf16) {
    findings.clear();
    findings.push_back({1, first_line,
                        "UTF-16 text: not readable as 8-bit text (no setting loads from "
                        "it, and a save adds them as 8-bit text)",
                        true});
    return report;
  }
  layout.empty_lines_dropped += account.empty_at_end;
  report.layout = std::move(layout);
  return report;
}

std::string LayoutText(const LayoutChange& layout) {
  std::vector<std::string> parts;
  for (const LayoutChange::LineEnds& ends : layout.line_ends) {
    if (ends.from.empty()) {
      parts.push_back("the last line gets a line end (" + ends.to + ")");
    } else {
      parts.push_back(std::to_string(ends.lines) + " " + ends.from +
                      (ends.lines == 1 ? " line end becomes " : " line ends become ") + ends.to);
    }
  }
  auto empty_lines = [](size_t count, const char* what) {
    return std::to_string(count) + (count == 1 ? " empty line is " : " empty lines are ") + what;
  };
  if (layout.empty_lines_added != 0) parts.push_back(empty_lines(layout.empty_lines_added, "added"));
  if (layout.empty_lines_dropped != 0) {
    parts.push_back(empty_lines(layout.empty_lines_dropped, "dropped"));
  }
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

std::string LayoutSummary(const std::string& file, const std::string& bytes,
                          const MP4VSettings& saved) {
  const std::string layout = LayoutText(JudgeSave(bytes, saved).layout);
  return layout.empty() ? "" : file + ": a save changes the layout: " + layout + "\n";
}

}  // namespace mp4vcfg
