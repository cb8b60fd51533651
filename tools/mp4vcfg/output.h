// What every command of mp4vcfg writes with: its exit statuses, the error
// that ends a command, the padding and quoting of its text output, the
// findings of a save, and the JSON of --json.
#ifndef MP4VCFG_OUTPUT_H_
#define MP4VCFG_OUTPUT_H_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "mp4vcfg/check.h"

namespace mp4vcfg {

// The exit status of every command, as each command's --help tells the
// person.
constexpr int kExitSuccess = 0;  // done; a save loses no text; the settings agree
constexpr int kExitFailure = 1;  // a save would lose text, nothing written; the settings differ
constexpr int kExitUsage = 2;    // trouble: the command line, a key or value, a file, a save

// A failure: a key or value refused, a file that cannot be read or
// written, a refused name, a failed save, a module that cannot be loaded.
// Ends the command with status 2, the file as it was; what() is the reason
// the error stream gets after "mp4vcfg: ".
class Trouble : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `text` between double quotes, as it is.
std::string Quoted(const std::string& text);

// `text` with blanks after it up to `width` characters; a longer text as it
// is.
std::string PadRight(std::string text, size_t width);

// The findings of a save of `file`, one block each: "FILE:LINE: reason",
// then the line as it stands, indented.
std::string FindingsText(const std::string& file, const std::vector<Finding>& findings);

// How many of `findings` lose text.
size_t CountLosses(const std::vector<Finding>& findings);

// A JSON string of `text`, valid for any bytes: well-formed UTF-8 passes
// through; every other byte from 0x80 up is written as the character of the
// same number (U+0080 to U+00FF, as Latin-1 reads it), control characters
// as escapes.
std::string JsonString(const std::string& text);

// The one JSON object `--json` prints when a command fails: `files`, the
// file it names as JSON ("file": ...; for diff "files": [..., ...]), its exit
// status and the line it wrote on the error stream.
std::string FailureJson(const std::string& files, int status, const std::string& line);

}  // namespace mp4vcfg

#endif  // MP4VCFG_OUTPUT_H_
