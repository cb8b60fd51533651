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

// The lines of the file contents `bytes` that a save of the record `saved`
// over them would not keep as they stand, as the module's own save computes
// it (MP4VConfigSaveText): a save keeps every line but the lines of the
// settings whose value text it changes. For a setting the record changes
// (it differs from what `bytes` load as), the old value goes by design and
// the finding names only what else goes: the rest of its line, or words of
// its value after the first. For one it does not change, the finding says
// how the save changes its text: a number rounded or out of range, text
// after the number, no number (each losing text), or the same number
// spelled another way ("0x2D0" written as 720, no loss). A setting's line
// in a long line that the save ends, a comment moved to a line of its own,
// and a setting loaded from a later section of the same name that the save
// writes as another number are named too. Lines a save adds are not
// findings; one finding a line. A text beginning with a UTF-16 byte-order
// mark, which a save refuses, gives one finding for its first line that
// loses no text; UTF-16 text without a mark, one that loses text. So does a
// record whose frame rate no value text holds (infinite, NaN) when no line
// of the text loads as it, which a save refuses too (one finding for the
// first line, losing no text). Otherwise empty for an empty text. Throws
// std::bad_alloc when memory runs out.
std::vector<Finding> CheckSave(const std::string& bytes, const MP4VSettings& saved);

// The same for a save of the record `bytes` load as: what any save of the
// file does when no setting changes.
std::vector<Finding> CheckSettingsText(const std::string& bytes);

// `text` for display on one line: control characters as \xNN, at most
// `width` characters, a UTF-8 sequence counting as one and never cut
// (longer texts end with "...").
std::string DisplayLine(const std::string& text, size_t width);

}  // namespace mp4vcfg

#endif  // MP4VCFG_CHECK_H_
