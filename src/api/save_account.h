// The account of a save: for every line of the file a save reads, what it
// writes for it, what of its text goes and whether that is text or only
// layout, and how the line ends and what empty lines stand before it, in
// the file and in what the save writes. The one place that decides what a
// save loses: mp4vcfg check, set and edit only word it.
//
// The rule: a save loses text where a character of a line other than white
// space does not reach the text it writes, where a setting's value text is
// written as one its own load reads as another value than the record holds,
// and where a line the reader took in parts is written as several lines.
// White space (blanks and tabs) around a value or before a comment, line
// ends and empty lines are layout: a save may change them without losing
// text. A setting's old value goes by design when the record holds another
// value than the file loads as (the save was asked to change it); the
// words of that value after its first still count as text.
#ifndef MP4V_API_SAVE_ACCOUNT_H_
#define MP4V_API_SAVE_ACCOUNT_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_file.h"
#include "mp4v_config.h"

// How a save treats one line of the file it reads.
enum class MP4VSavedLineKind {
  kKept,             // written exactly as read
  kSettingRewritten, // the save set another value text: written in the
                     // writer's own layout
};

// What a save does to the text of one line. The first four lose no text;
// every other one does.
enum class MP4VLineChange {
  kKept,            // written as read (its layout may still change)
  kAsked,           // a setting whose value the save was asked to change:
                    // the old value goes by design, and nothing else but
                    // white space
  kSameNumber,      // its value text written as the same number spelled
                    // another way ("0x2D0" as 720, "720\t" as 720)
  kSameValue,       // its value text written as another number that a load
                    // reads as the same value (a frame rate the load snaps)
  kRestOfLine,      // the writer's layout of the line drops characters of it
                    // besides white space: a second word of the key, a "#"
                    // before the "=", "=#", a zero byte and what follows...
  kOtherValue,      // the value text written loads as another value than the
                    // record holds (a rate rounded to ten fraction digits)
  kWordsAfterFirst, // asked to change: `dropped`, the words of the old value
                    // after its first, goes too
  kTextAfterNumber, // `dropped`, what follows the number of the value text
                    // (more than white space), goes
  kNoNumber,        // the value text holds no number: it loads as 0, and the
                    // save writes that
  kOutOfRange,      // the value text's number lies outside what the field
                    // holds: it loads as the nearest bound, which the save
                    // writes
  kLoadsElsewhere,  // kept as read, but a load takes `loads` from this line
                    // (a later section of the settings' name): the save
                    // writes that setting into the first such section, and
                    // a load then reads another value there
};

// A line end, in the file or as a save writes it.
enum class MP4VLineEnd {
  kNone,    // none: the text ends with the line
  kGoesOn,  // none: the line goes on in the next account (the reader takes
            // a line longer than kConfigLineMax characters in parts)
  kLf,
  kCrLf,
  kCr,
};

struct MP4VSavedLine {
  size_t offset = 0;       // the line in the text read: `size` bytes from
  size_t size = 0;         // `offset`, without the line end
  MP4VSavedLineKind kind = MP4VSavedLineKind::kKept;
  std::string key;         // an entry's key as the file spells it, or empty
  std::string old_value;   // an entry's value text as read, and as written
  std::string new_value;
  std::string written;     // what the save writes for it ("\n" between the
                           // lines when a comment moves to its own line)
  const char* loads = nullptr;  // the key table's key whose value a load of
                                // the text read takes from this line, or null

  // What goes. `change` says what becomes of the line's text; `loses_text`
  // is the verdict: the change loses text, or the line is split (`split`,
  // `split_before`). Only layout goes when it is false.
  MP4VLineChange change = MP4VLineChange::kKept;
  bool loses_text = false;
  std::string dropped;     // kWordsAfterFirst, kTextAfterNumber: the text of
                           // the old value that goes; kSameNumber, kSameValue:
                           // the white space after the number that goes
  bool comment_moved = false;  // its comment goes on a line of its own (the
                               // entry and its comment no longer fit one)
  bool split = false;      // the line went on past kConfigLineMax characters
                           // in the next account, and the save ends it here
  bool split_before = false;  // the save ended the account before this one,
                              // where the file's line went on into this one

  // The setting of a rewritten line, or the one it `loads`: its value as a
  // load of the file gives it, as the record holds it, and as a load of
  // the written text gives it (an "int" field's value exactly). `asked`: the
  // record holds another value than the file loads as.
  double loaded = 0;
  double saved = 0;
  double reloaded = 0;
  bool asked = false;

  // The layout: how the line ends, and how many empty lines stand right
  // before it (after the line before, or at the start of the text after a
  // byte-order mark), in the file and as the save writes them. Empty lines
  // a save writes before the lines it adds belong to those lines.
  MP4VLineEnd end = MP4VLineEnd::kNone;
  MP4VLineEnd written_end = MP4VLineEnd::kNone;
  size_t empty_before = 0;
  size_t written_empty_before = 0;
};

// The account of one save: its lines, one for each line of the text read
// that the reader keeps, in file order (lines the save adds have none).
struct MP4VSaveAccount {
  std::vector<MP4VSavedLine> lines;
  // The empty lines after the last line kept (all those of a text that has
  // no line kept): a save drops them.
  size_t empty_at_end = 0;
  // The text looks like UTF-16 without a byte-order mark
  // (ConfigLooksLikeUtf16): no setting loads from it, and a save adds them
  // as 8-bit text, which loses it as text.
  bool unmarked_utf16 = false;
  // Any line loses text, or `unmarked_utf16`.
  bool loses_text = false;
};

// How many nodes the account writes at a time: enough that the writer's
// work per piece is small beside the piece, few enough that the piece's
// text is small beside any large file.
constexpr size_t kMP4VAccountPieceNodes = 4096;

// A line of the text read that the save may rewrite (a line of the body of
// the settings' first section, where alone the save binding changes any),
// as it stood before the binding: where it is in the text read, and its
// value text there.
struct MP4VReadLine {
  const ConfigNode* node;
  size_t offset;
  size_t size;
  std::string_view value;  // a view into the text read
};

// What a save knows when it has bound the record into the document.
struct MP4VSaveFacts {
  const std::string* read_text;  // the bytes read, mark included
  // The document read from `read_text` (viewing it) as the save binding
  // left it: every node the reader made that still has its line as read
  // views `read_text`; the others are the lines of `rewritten` and the ones
  // the save added. MP4VAccountSave writes it in pieces, as the save writes
  // it whole, and leaves it as it found it.
  ConfigNode* document;
  bool byte_order_mark;  // the text read began with a UTF-8 mark
  const std::vector<MP4VReadLine>* rewritten;
  // For each row of the key table, the node read that a load takes its
  // value from, or null.
  const std::vector<const ConfigNode*>* loaded_from;
  const MP4VSettings* loaded;    // what a load of the text read gives
  const MP4VSettings* saved;     // the record saved
  const MP4VSettings* reloaded;  // what a load of the written text gives
  // How many nodes are written at a time (at least 1): any number gives the
  // same account; a small one only costs time.
  size_t piece_nodes = kMP4VAccountPieceNodes;
};

// Receives the lines of an account one at a time, in file order; the line
// lives only for the call.
using MP4VSavedLineSink = std::function<void(const MP4VSavedLine& line)>;

// Gives the account of the save `facts` describe: each line to `each_line`,
// in file order, and the rest (everything but `lines`, which stays empty) to
// `*account`, whose previous contents go. What it holds at once beyond the
// document is a piece of `piece_nodes` lines of the written text, never the
// whole of it nor a record for every line: a caller that keeps only the
// lines it needs holds memory in proportion to those. Throws std::bad_alloc
// when memory runs out (the document is then as it was).
void MP4VAccountSave(const MP4VSaveFacts& facts, const MP4VSavedLineSink& each_line,
                     MP4VSaveAccount* account);

#endif  // MP4V_API_SAVE_ACCOUNT_H_
