// What every command of mp4vcfg writes with: its exit statuses, the error
// that ends a command, the padding and quoting of its text output, the
// findings of a save, and the JSON of --json (held as nlohmann-json's
// ordered_json, written in mp4vcfg's own layout).
#ifndef MP4VCFG_OUTPUT_H_
#define MP4VCFG_OUTPUT_H_

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/settings_fields.h"
#include "mp4v_config.h"
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

// The system's own words for its error code `code` (a GetLastError value
// through FormatMessage on Windows, an errno value through strerror
// elsewhere), without a full stop or line end at the end; "error N" where
// the system has none.
std::string SystemMessage(uint32_t code);

// The calling thread's last error (GetLastError(), errno), as a request of
// the module leaves it.
uint32_t LastError();

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

// A setting's value in `record` as a JSON number.
nlohmann::ordered_json JsonValue(const MP4VSettings& record, const mp4v_host::SettingKey& key);

// `document`, an object, as mp4vcfg prints JSON, ending in a line feed.
// Members keep the order they were added in. The document's members stand
// one a line, indented by two blanks; below them, a container that holds
// containers has one member a line too, each a step further in, and any
// other container is one line: {"value": 640, "set": true}, ["a", "b"].
// Strings may hold any bytes: well-formed UTF-8 is written as it is, every
// other byte from 0x80 up as the character of its number (U+0080 to U+00FF,
// as Latin-1 reads it); control characters and DEL are escaped. Numbers are
// written as the text output writes them (mp4v_host::FormatDouble for a
// double), an infinity or NaN, which JSON lacks, as null. Throws nothing but
// std::bad_alloc.
std::string JsonText(const nlohmann::ordered_json& document);

// The one JSON object --json prints when a command fails: `member` ("file",
// or "files" for diff) holding `files` (a name, null for a name the command
// line lacks, or an array of them), the exit status and `line`, the line
// the error stream got.
std::string FailureJson(const char* member, const nlohmann::ordered_json& files, int status,
                        const std::string& line);

}  // namespace mp4vcfg

#endif  // MP4VCFG_OUTPUT_H_
