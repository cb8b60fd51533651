// Reading a configuration file into a document and writing one back.
//
// A line ends at a line feed or a carriage return (so "\r\n" leaves an empty
// line, which is dropped) and holds at most 511 characters: the rest of a
// longer line is read as the following line. Each kept line is a section
// header, an entry or a free line:
//   "[name] ..."        section header: "[" and at least one character that
//                       is not "]"; the name runs to the first "]" or the end
//                       (a missing "]" is accepted); the comment is the text
//                       after the first "#" that follows the "]".
//   "key = value #c"    entry: any other line whose first character is not
//                       "#" or "="; the key is the first word before the
//                       first "#" or "="; the value runs from after the "="
//                       to the first "#", without surrounding blanks (tabs
//                       stay); the comment is the text after the "#", when
//                       the value is not empty and something follows it.
//   "#..." or "=..."    free line, kept by its whole text.
// A UTF-8 byte-order mark at the very start of the file is not part of the
// first line. Parts of a line are kept whole, never cut.
//
// What is written back: every line the reader kept, exactly as it was read
// (ConfigNode::as_read(); a line the reader took in two parts is joined
// again), so that a save keeps every line it does not change byte for byte
// and every other program sharing the file reads what it read before. Only
// the nodes that ConfigSetEntry adds, and those whose value it sets to
// another text, are written in the writer's own layout. Line ends become
// the platform's, empty lines are dropped, and an empty line goes before
// every section header.
#ifndef MP4V_CONFIG_CONFIG_FILE_H_
#define MP4V_CONFIG_CONFIG_FILE_H_

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/document.h"
#include "platform/files.h"

// The text of the one free line that stands for a missing or empty file.
constexpr char kConfigPlaceholderLine[] = "# config file";

// Reads one line of `stream` into `buffer`: characters up to and including
// the first line feed or carriage return, at most `capacity` - 1 of them,
// then a terminating NUL. Returns `buffer`, or null when the stream was at
// its end before any character was stored. A capacity of 1 or less stores
// only the terminator (when there is room) and returns `buffer`.
char* ConfigReadLine(char* buffer, int capacity, std::FILE* stream);

// How a line matches the three line patterns, as views into the line.
enum class ConfigLineKind { kSection, kEntry, kFreeLine, kEmpty };
struct ConfigLineMatch {
  ConfigLineKind kind = ConfigLineKind::kEmpty;
  // Number of parts matched (section: 1-2, entry: 1-3, free line: 1).
  int parts = 0;
  // Section: name, remainder from the "]". Entry: key text, value text,
  // comment. Free line: its text. Each is [data, data + size).
  struct Part {
    const char* data = nullptr;
    size_t size = 0;
  } part[3];
};
// Matches `line` (read up to its first NUL) against the section, entry and
// free-line patterns in that order.
void ConfigMatchLine(const char* line, ConfigLineMatch* match);
// The same for the `size` bytes at `line`, which hold neither a NUL nor a
// line end (a line the reader cut at its end and at its first NUL): the
// match ConfigMatchLine gives for those bytes followed by a NUL, found
// without reading past them and in one pass.
void ConfigMatchSpan(const char* line, size_t size, ConfigLineMatch* match);

// Where the line of a node stands in a text: its `size` bytes from
// `offset`, without the line end. For a node of the writer's own form whose
// comment moved to lines of its own, those lines are part of its text.
struct ConfigNodeSpan {
  const ConfigNode* node;
  size_t offset;
  size_t size;
};

// The document of the lines of `text`, a file's bytes (a leading
// byte-order mark skipped; `*byte_order_mark`, when given, says whether
// there was one). The document takes `text` over and its nodes' lines as
// read (ConfigNode::as_read()) view it there: a caller that keeps its own
// bytes passes a copy, one that does not moves them in. A line that begins
// with a zero byte is a free line with an empty name, which holds no key.
// Returns the empty document when no line was kept, or when memory ran out
// (`*out_of_memory` then set and nothing leaked). When `spans` is given,
// each node's line in `text` is appended to it, in document order.
ConfigDocument ConfigParseText(std::string text, bool* out_of_memory,
                               bool* byte_order_mark = nullptr,
                               std::vector<ConfigNodeSpan>* spans = nullptr);

// The same, viewing `text` where the caller keeps it instead of holding a
// copy: the caller keeps it, unchanged, for as long as the document lives.
ConfigDocument ConfigParseView(const std::string& text, bool* out_of_memory,
                               bool* byte_order_mark = nullptr,
                               std::vector<ConfigNodeSpan>* spans = nullptr);

// The bytes the writer puts in front of `text` (written from a document
// read with a byte-order mark when `byte_order_mark`) so that it reads back
// as written: a byte-order mark, an empty line, or nothing (see
// ConfigSerialize).
std::string_view ConfigTextLead(const std::string& text, bool byte_order_mark);

// Where in `text` the body of the first section named `section` stands,
// as the reader would read it: from the first byte of its header's line
// (`*begin`) to the first byte of the next header's line, or the end of the
// text (`*end`). False when the text holds no such header, and when the
// section's header or the next one is the rest of a line the reader took in
// parts (the writer joins those to the line before).
bool ConfigFindSectionBody(const std::string& text, const char* section, size_t* begin,
                           size_t* end);

// What ConfigReadSectionBody found.
enum class ConfigSectionRead {
  kFound,        // the body is in `*body`
  kNotFound,     // ConfigFindSectionBody finds no body in the text
  kReadFailed,   // `read` failed: the reader says why
  kOutOfMemory,  // the body did not fit in memory
};
// Reads the next bytes of a text, at most `room` of them, into `into`: true
// with their number in `*got` (0 only at the text's end), false when the
// text could not be read. PlatformFileReader::Read is one.
using ConfigPieceReader = std::function<bool(char* into, size_t room, size_t* got)>;
// How many of a text's first bytes ConfigReadSectionBody hands back: those
// that tell a byte-order mark and UTF-16 text.
constexpr size_t kConfigLeadSize = 3;

// The body ConfigFindSectionBody finds, text[begin, end), from a text read
// in pieces through `read` up to the end of that body, never held whole: a
// large file's section costs its own bytes and one piece of 64 KiB. The
// text's first bytes (up to kConfigLeadSize) go to `*lead`, whatever the
// result. `*body` is empty unless the result is kFound.
ConfigSectionRead ConfigReadSectionBody(const ConfigPieceReader& read, const char* section,
                                        std::string* body, std::string* lead);

// The text a save puts in place of a section whose surrounding lines it
// keeps as read: `*section` (the writer's text of the section's lines)
// after the line end of the writer's own that the lines after it begin with
// (`feed_first`, from ConfigKeptLinesAsRead), with the platform's line ends
// (ConfigPlatformText). `start` holds the text's first bytes before the
// section (up to kConfigLeadSize; fewer where the section comes that
// early), and `next` those right after it, read with a byte-order mark
// when `byte_order_mark`. False, `*section` as it was, when the text would
// then begin with bytes the writer puts something in front of
// (ConfigTextLead): kept lines as read cannot stand for it.
bool ConfigSectionInPlace(std::string* section, bool feed_first, std::string_view start,
                          std::string_view next, bool byte_order_mark);

// What ConfigStreamSection did.
enum class ConfigStreamed {
  kWritten,      // the text went to `write`, the section replaced
  kWholeText,    // the text must be saved whole: nothing here is final
  kReadFailed,   // `read` failed
  kWriteFailed,  // `write` failed
  kOutOfMemory,
};
// Hands bytes on, in order: false when they could not be written.
using ConfigPieceWriter = std::function<bool(const char* data, size_t size)>;
// Makes the writer's text of a section from its `body` (its lines as read,
// header first) into `*section`: false when that text cannot be made here
// (the save then takes the whole text); it may throw std::bad_alloc.
using ConfigSectionMaker = std::function<bool(const std::string& body, std::string* section)>;
// Where the new section stands in the text written, and the old bytes it
// stands for there.
struct ConfigSplice {
  size_t at = 0;
  size_t size = 0;
  std::string held;
};
// Writes, through `write`, what a save writes over the text `read` gives when
// the lines before and after the first section `section` are kept exactly
// as read (ConfigKeptLinesAsRead, each "\n" as the platform's line end):
// those bytes, with the section's old lines (and the empty line the writer
// puts before it, when there is one) replaced by
// ConfigSectionInPlace(`make`(body)). The text is read once, in pieces of
// 64 KiB, and never held: only the section's old lines are, in
// `splice->held`. kWholeText whenever that cannot be done for this text (no
// such section, a line around it not kept as read, a UTF-16 mark, `make`
// declined, a stretch of 64 KiB with no line end): the bytes written so far
// are then to be thrown away.
ConfigStreamed ConfigStreamSection(const ConfigPieceReader& read, const char* section,
                                   const ConfigSectionMaker& make,
                                   const ConfigPieceWriter& write, ConfigSplice* splice);

// Appends to `out` what ConfigSerialize writes for the lines of
// text[from, to) when every one is kept as read: each line's bytes and a
// line end, an empty line before each header, a line the reader took in
// parts joined again; without reading a line into a node. `from` and `to`
// are where lines begin, past any byte-order mark, and the line before `to`
// does not go on into it (ConfigFindSectionBody gives such places).
void ConfigAppendKeptLines(const std::string& text, size_t from, size_t to,
                           std::string* out);

// Where ConfigAppendKeptLines of `text` from `from` to `to`, with every
// "\n" it appends written as `line_end` ("\n" or "\r\n", as
// ConfigPlatformText writes them), would write exactly the bytes of `text`
// from `from` to some place, as they are: that place (at most `to`; less
// where a last line end goes). npos when it would write anything else. A
// writer may then write those bytes from `text` itself. With `feed_first`,
// the bytes may also come after one line end of the writer's own (the
// empty line before a header), which `*feed_first` then says.
size_t ConfigKeptLinesAsRead(const std::string& text, size_t from, size_t to,
                             bool* feed_first = nullptr, const char* line_end = "\n");

// Writes `document` as text into `out` (replacing its contents), one line per
// node, each ending with "\n"; an empty line goes before every section
// header. Entries are "%-31s = %s" when `aligned`, else "%s=%s", followed by
// " #comment" when they have one. Every line fits what the reader takes whole
// (kConfigLineMax): a line that would be longer loses padding and blanks
// first, and a comment that still does not fit follows on free lines of its
// own ("#" and up to kConfigLineMax - 1 of its characters each). `out`
// begins with a UTF-8 byte-order mark when `byte_order_mark` is set, and
// also when the first line would otherwise begin with those bytes; with an
// empty line when it would otherwise begin with the bytes of a UTF-16 mark
// (which would make it a file a save refuses). Reading `out` back
// (ConfigParseText) gives the same nodes, except such moved
// comments, for every node the reader makes and every one ConfigSetEntry
// makes. A node that keeps its text as read is written as that text, and
// a node `continued` is joined to the next one when both are. When `spans`
// is given, each node's text in `out` is appended to it, in document order.
// Returns false only when memory ran out.
bool ConfigSerialize(const ConfigNode* document, bool aligned,
                     std::string* out, bool byte_order_mark = false,
                     std::vector<ConfigNodeSpan>* spans = nullptr);

// Whether `size` bytes at `data` begin with a UTF-16 byte-order mark (FF FE
// or FE FF): such a file is not 8-bit text, and a save does not rewrite it.
bool ConfigHasUtf16Mark(const char* data, size_t size);

// Whether `size` bytes at `data` look like UTF-16 text without a
// byte-order mark: in their first 512 bytes (at least 4), a zero byte in
// at least three in four of the even places, or of the odd ones (the high
// bytes of Latin letters), and in at most one in four of the others. A run
// of zero bytes in 8-bit text has them in both. Such text reads as lines
// that hold no setting.
bool ConfigLooksLikeUtf16(const char* data, size_t size);

// `text` with every "\n" written as the platform's text line end, as a text
// stream writes it (`text` itself, moved, where that end is "\n"). Where the
// platform's end is longer, the conversion is made in `text`'s own buffer
// when its capacity holds the result, else in a new one.
std::string ConfigPlatformText(std::string text);

// How many "\n" the `size` bytes at `data` hold.
size_t ConfigCountFeeds(const char* data, size_t size);

// Returns the document of the file at `path` (holding the file's bytes),
// or the one-node placeholder document "# config file" when the file is
// missing, unreadable, empty, or holds only empty lines; the empty document
// only when memory ran out. Sets `*status`, when given, to what became of
// reading the file (kRead also for an empty file).
// `*byte_order_mark`, when given, says whether the file began with a UTF-8
// byte-order mark.
ConfigDocument ConfigReadFileEx(const char* path, FileReadStatus* status,
                                bool* byte_order_mark = nullptr);
// The same, without the status.
ConfigDocument ConfigReadFile(const char* path);

// Writes `document` to `path` in the aligned (`aligned` nonzero) or compact
// layout, with the platform's text line end; the document, taken over, is
// released in every case. The file is replaced in one step through a
// temporary file in the same directory: it is either fully updated or left
// exactly as it was. A byte-order mark that began the old file is written
// back. Returns true when the file was written; false when it was not
// (missing directory, read-only or non-regular target, a failed write, full
// disk, out of memory).
bool ConfigWriteFile(ConfigDocument document, const char* path, int aligned);
// The same, beginning the file with a byte-order mark when
// `byte_order_mark` is set, without looking at the old file (a save learns
// it from the one reading of the file, ConfigReadFileEx).
bool ConfigWriteFileEx(ConfigDocument document, const char* path, int aligned,
                       bool byte_order_mark);

#endif  // MP4V_CONFIG_CONFIG_FILE_H_
