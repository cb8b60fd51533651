// What a save would do to each line of a settings file, found with the
// module's own reader, key binding and writer (linked from the core
// library), so that the findings follow the module's rules exactly.
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

// Every line of the file contents `bytes` that a save of the settings it
// holds would not keep as it stands, beyond re-aligning an entry (padding,
// blanks around "=" and before "#"), completing a header's "]", or giving a
// bare key its "=". Lines a save adds are not findings. A file in UTF-16
// gives one finding, for its first line. Empty for an empty text.
std::vector<Finding> CheckSettingsText(const std::string& bytes);

// `text` for display on one line: control characters as \xNN, at most
// `width` characters (longer texts end with "...").
std::string DisplayLine(const std::string& text, size_t width);

}  // namespace mp4vcfg

#endif  // MP4VCFG_CHECK_H_
