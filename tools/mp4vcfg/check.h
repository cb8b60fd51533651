// What a save would do to each line of a settings file, as the module's own
// save reports it (linked from the core library): the findings are what the
// real save does, not a second reading of its rules.
#ifndef MP4VCFG_CHECK_H_
#define MP4VCFG_CHECK_H_

#include <cstddef>
#include <string>
#include <vector>

#include "mp4v_config.h"

namespace mp4vcfg {

// One line that a save would not keep as it stands.
struct Finding {
  size_t line = 0;       // 1-based, counting LF, CR LF and lone CR as one end
  std::string text;      // the line as it stands, without its line end
  std::string reason;    // why, in the user's words
  bool loses_text = true;  // false: the line changes, but no text is lost
};

// The layout a save changes without losing text: line ends it writes
// otherwise, and empty lines it adds or drops (before a section header it
// writes one; elsewhere it writes none).
struct LayoutChange {
  struct LineEnds {
    std::string from;  // "LF", "CR LF", "CR", or "" for the last line of a
                       // text that ends without one
    std::string to;    // "LF" or "CR LF", the platform's
    size_t lines = 0;
  };
  std::vector<LineEnds> line_ends;  // in the order they first occur
  size_t empty_lines_added = 0;
  size_t empty_lines_dropped = 0;
  bool empty() const {
    return line_ends.empty() && empty_lines_added == 0 && empty_lines_dropped == 0;
  }
};

// What a save would do to a file: the lines it would not keep as they
// stand, and the layout it changes.
struct SaveReport {
  std::vector<Finding> findings;
  LayoutChange layout;
};

// What a save of the record `saved` over the file contents `bytes` would
// do, in the words of the module's own account of that save
// (MP4VConfigAccountSaveText): every verdict, and every fact of the layout,
// is the account's. It keeps only the findings, taking the account a line
// at a time: beyond `bytes` it holds the save's document, not a record for
// every line. A save keeps every line but the lines of the settings whose
// value text it changes. For a setting the record changes (it differs from
// what `bytes` load as), the old value goes by design and the finding names
// only what else goes: the rest of its line, or words of its value after
// the first; such a line that loses nothing is no finding. For one it does
// not change, the finding says how the save changes its text: a number
// rounded or out of range, text after the number, no number (each losing
// text), or the same number spelled another way ("0x2D0" written as 720,
// "720\t" as 720: white space is layout, no loss). A setting's line in a
// long line that the save ends (losing text), a comment moved to a line of
// its own, and a setting loaded from a later section of the same name that
// the save writes as another number are named too. Lines a save adds are
// not findings; one finding a line, in line order. A text beginning with a
// UTF-16 byte-order mark, which a save refuses, gives one finding for its
// first line that loses no text; UTF-16 text without a mark, one that
// loses text. So does a record whose frame rate no value text holds
// (infinite, NaN) when no line of the text loads as it, which a save
// refuses too (one finding for the first line, losing no text). The layout
// is empty where the save writes nothing. Throws std::bad_alloc when
// memory runs out.
SaveReport JudgeSave(const std::string& bytes, const MP4VSettings& saved);

// The same for a save of the record `bytes` load as: what any save of the
// file does when no setting changes.
SaveReport JudgeSettingsText(const std::string& bytes);

// The findings alone of JudgeSave and JudgeSettingsText.
std::vector<Finding> CheckSave(const std::string& bytes, const MP4VSettings& saved);
std::vector<Finding> CheckSettingsText(const std::string& bytes);

// `layout` in words for a summary line ("2 CR LF line ends become LF, 1
// empty line is added"), or "" when it is empty.
std::string LayoutText(const LayoutChange& layout);

// The line a dry run of a save of `saved` over `bytes` (the file `file`)
// adds about the layout: "FILE: a save changes the layout: ...\n", or ""
// when the save changes none (or writes nothing).
std::string LayoutSummary(const std::string& file, const std::string& bytes,
                          const MP4VSettings& saved);

// `text` for display on one line: control characters (tab and DEL among
// them) as \xNN, never raw, at most `width` characters, a UTF-8 sequence
// counting as one and never cut (longer texts end with "...").
std::string DisplayLine(const std::string& text, size_t width);

}  // namespace mp4vcfg

#endif  // MP4VCFG_CHECK_H_
