// What a save would do to each line of a settings file, as the module's own
// save reports it (linked from the core library): the findings are what the
// real save does, not a second reading of its rules.
#ifndef MP4VCFG_CHECK_H_
#define MP4VCFG_CHECK_H_

#include <cstddef>
#include <string>
#include <vector>

namespace mp4vcfg {

// One line that a save would not keep as it stands.
struct Finding {
  size_t line = 0;       // 1-based, counting LF, CR LF and lone CR as one end
  std::string text;      // the line as it stands, without its line end
  std::string reason;    // why, in the user's words
  bool loses_text = true;  // false: the line changes, but no text is lost
};

// The lines of the file contents `bytes` that a save of the settings it
// holds changes beyond re-aligning them (a save keeps every other line as
// it stands, or re-aligns an entry, completes a header's "]" or gives a bare
// key its "="): a setting's value whose text or number the save changes, a
// line over 511 characters (split in two), and, as changes that lose no
// text, a setting's number spelled another way ("0x2D0" written as 720), a
// comment moved to a line of its own and an indented section header (read
// as an entry). Lines a save adds are not findings. A file in UTF-16
// gives one finding, for its first line. Empty for an empty text. Throws
// std::bad_alloc when memory runs out.
std::vector<Finding> CheckSettingsText(const std::string& bytes);

// `text` for display on one line: control characters as \xNN, at most
// `width` characters, a UTF-8 sequence counting as one and never cut
// (longer texts end with "...").
std::string DisplayLine(const std::string& text, size_t width);

}  // namespace mp4vcfg

#endif  // MP4VCFG_CHECK_H_
