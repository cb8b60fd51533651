// The load, save and update requests handed out for MP4V_FUNC_LOAD,
// MP4V_FUNC_SAVE and MP4V_FUNC_UPDATE, and the settings transfer between a settings record and a
// configuration file.
#ifndef MP4V_API_REQUESTS_H_
#define MP4V_API_REQUESTS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/save_account.h"
#include "config/document.h"
#include "mp4v_config.h"
#include "platform/files.h"

// Accepts a non-null record and a non-null name whose rest from its last '.'
// is exactly ".cfg" or ".ini" (case counts: ".CFG", ".cfg2" and ".cfg " are
// refused).
bool MP4VConfigCheckFileName(const void* settings, const char* file_name);

// What binding the key table into a document gave.
enum class MP4VBindResult {
  kBound,
  kNoValueText,  // a save met a value no value text holds and no line of
                 // the document loads as (see MP4VSaveTextResult): the
                 // binding stopped there, and nothing of it may be written
  kOutOfMemory,  // a save's binding ran out of memory (the document may
                 // then lack some keys)
};

// Binds every key of the table between `document` (not null) and the record
// at `settings`, in table order, in the direction of `mode` ("load" or
// "save"), exactly as the transfer does: a load binds nothing from a
// document of one node or without the section, and always gives kBound. A
// save leaves the line of a frame rate that is infinite as it stands when
// a load takes that very infinity from it, and stops with kNoValueText for
// any other rate no value text holds (see MP4VSaveTextResult).
MP4VBindResult MP4VConfigBindDocument(ConfigNode* document, const char* mode,
                                      void* settings);

// What a save makes of a file's bytes.
enum class MP4VSaveTextResult {
  kWritten,      // `*after` holds the bytes the save puts in the file's place
  kUtf16,        // they begin with a UTF-16 byte-order mark (FF FE or FE
                 // FF): not 8-bit text, and a save writes nothing over them
  kNoValueText,  // the record's frame rate is one no value text holds (an
                 // infinity or NaN: "%.10f" gives "inf" or "nan", which a
                 // load reads as 0), and no line of them loads as it: a
                 // save writes nothing
  kOutOfMemory,
};

// The text a save of the record at `settings` writes over a file whose
// bytes are `before` (empty for a missing file), with the platform's line
// ends: what MP4VConfigSave computes, and the only way it computes it.
// Every line of `before` is written as it was read but the lines of the
// settings whose value text changes; the settings the file lacks are added.
// A frame rate is written with ten fraction digits, and a load gives back
// the rate that text rounds it to; one that no such text holds (infinite,
// NaN) is never written: its line stays as it stands when a load takes that
// very rate from it (an infinity read from "1e400"), and otherwise nothing
// is written at all (kNoValueText). The save only reads `before`, and
// holds no copy of it but of the settings' first section: without an
// account, only that section's lines are read into a document, and the
// lines around it are written as they were read, as a document of them
// all would write them. When `account` is given and the
// result is kWritten, it receives the save's account (see
// api/save_account.h): for each line of `before` that the reader keeps, in
// file order, what the save writes for it, what of its text goes and the
// layout around it; whether the save loses text is decided there and
// nowhere else.
MP4VSaveTextResult MP4VConfigSaveText(const std::string& before, const void* settings,
                                      std::string* after,
                                      MP4VSaveAccount* account = nullptr);

// Makes every MP4VConfigSaveText of the calling thread read the whole of
// `before` into one document, as a save with an account does, when `whole`
// (a test's way to compare the two); false by default.
void MP4VConfigSetWholeDocumentSaveForTesting(bool whole);

// Makes every save request of the calling thread read its file whole and
// decide from those bytes (MP4VConfigDecideSave), when `whole`, rather than
// write the file as it reads it where every line around the settings'
// section is kept as read (MP4VConfigStreamSave); false by default. A
// test's way to compare the two.
void MP4VConfigSetWholeFileSaveForTesting(bool whole);

// The first attempt of a save request (PlatformUpdateFileStreamed): the
// file's bytes, read through `read`, go to `write` as they are read, the
// settings' section replaced by its text with the record's values, where
// that gives exactly what MP4VConfigDecideSave gives for the file read
// whole; only the section's old lines are held (`*splice`). kWholeFile
// wherever it might not (the file's bytes then decide, read whole). kStop
// with the out-of-memory code, or with 0 when `read` failed.
StreamDecision MP4VConfigStreamSave(
    const std::function<bool(char* into, size_t room, size_t* got)>& read,
    const FileWrite& write, const void* settings, FileSplice* splice, uint32_t* error);

// Makes every load of the calling thread (MP4VConfigLoadText, a load
// request, the load behind an update) read the whole of its bytes into one
// document, rather than the settings' first section alone where that holds
// every key, and a load request read its file whole, when `whole` (a
// test's way to compare the two); false by default.
void MP4VConfigSetWholeDocumentLoadForTesting(bool whole);

// The account alone of the save MP4VConfigSaveText computes, each line
// handed to `each_line` in file order and not kept (MP4VAccountSave), the
// rest in `*account`; no text is returned. For a caller that keeps only the
// lines it needs: beyond `before`, it holds the save's document and a piece
// of the written text, never the whole text nor a record per line. kUtf16
// and kNoValueText leave `*account` untouched and call `each_line` never;
// kOutOfMemory may come after some lines were handed on (`*account` is
// then to be ignored).
// `piece_nodes` is MP4VSaveFacts's (any number gives the same account).
MP4VSaveTextResult MP4VConfigAccountSaveText(const std::string& before, const void* settings,
                                             const MP4VSavedLineSink& each_line,
                                             MP4VSaveAccount* account,
                                             size_t piece_nodes = kMP4VAccountPieceNodes);

// Binds the settings the text `bytes` holds into the record at `settings`,
// as a load of a file of these bytes does (frame-rate snapping included).
// The bytes are read where they are, not copied; where the settings' first
// section holds a line of every key, only that section is read into a
// document (MP4VConfigSetWholeDocumentLoadForTesting).
void MP4VConfigLoadText(const std::string& bytes, void* settings);

// What a save of `file_name` would meet before writing anything.
enum class MP4VSaveCheck {
  kPossible,       // the save would write the file
  kNameRefused,    // not a name the requests take (".cfg"/".ini")
  kUnreadable,     // it exists but cannot be read: a save never replaces it
  kUtf16,          // it is UTF-16 text (MP4VSaveTextResult::kUtf16)
  kNotReplaceable, // see `*reason`: read-only, a folder, no such folder, ...
  kOutOfMemory,
};
// Runs the checks a save of `file_name` makes, in its order, up to the
// point where it would write: the name, reading the file (its bytes go to
// `*before`, empty when it is missing; `*exists` says whether it is there),
// then MP4VConfigCheckSaveOf. `*reason` gets a short explanation for
// kNotReplaceable, kUtf16, and for kUnreadable when the target is no file;
// `*code` (when given) the system's code of what the check met (0 for
// kPossible; for kUnreadable the read's code).
MP4VSaveCheck MP4VConfigCheckSave(const char* file_name, std::string* before,
                                  bool* exists, std::string* reason,
                                  uint32_t* code = nullptr);

// The checks a save of `file_name` makes on the bytes it read (`before`;
// `exists` false for no file): its byte-order mark, then every check the
// replacement makes on the target and its folder (PlatformCheckReplace).
// kPossible, kUtf16 or kNotReplaceable, with `*reason` and `*code` as above.
MP4VSaveCheck MP4VConfigCheckSaveOf(const char* file_name, const std::string& before,
                                    bool exists, std::string* reason,
                                    uint32_t* code = nullptr);

// What a save of the record at `settings` decides from the bytes `before`
// it read in its turn: the text to write in `*after` (kWrite), or kStop with
// the request's reason in `*error` (UTF-16 text, a value no text holds, no
// memory). The save request decides with it, and so do programs that
// update a file in a turn of their own (MP4VConfigUpdateFile).
FileDecision MP4VConfigDecideSave(const std::string& before, const void* settings,
                                  std::string* after, uint32_t* error);
// The same, where the text may name the lines it keeps as read in `before`
// instead of holding them (FileText): the save request's own way.
FileDecision MP4VConfigDecideSave(const std::string& before, const void* settings,
                                  FileText* after, uint32_t* error);

// Runs the transfer in the direction of `mode` ("load" or "save") between
// the record at `settings` and the file `file_name`, without the name check.
// Load: reads the file and binds every key of the table into the record
// (nothing when the file gives a single node: missing, empty, or one line).
// Where the settings' first section holds a line of every key (every file
// this module wrote), the file is read in pieces only up to that section's
// end, and the section alone is held: a load of a file of megabytes costs
// that section's bytes and a piece of 64 KiB. Otherwise it is read whole.
// Returns true when it read the file (`*error` 0) or there is no file or
// folder of that name (nothing bound, `*error` the read's code for that);
// false when an existing file could not be read, with nothing bound and
// the reason in `*error`: the read's code (no permission, a folder, a
// sharing conflict that outlasted its wait, an I/O error), or
// ModuleFailure::kUnsupportedText's code for UTF-16 text, kOutOfMemory's
// when memory ran out. Save: updates the file as one turn
// of its saves (PlatformUpdateFile), setting every key in the bytes read
// under that turn. Returns true when a save wrote the file; false when it did
// not (the file is then as the last writer left it), with the reason in
// `*error`: the system's code of the step that failed, or
// PlatformErrorCode(ModuleFailure::...) of a failure the module decides
// itself. The save request makes `*error` the thread's last error after a
// failure, the load request after every call.
bool MP4VConfigTransfer(const char* mode, const char* file_name,
                        void* settings, uint32_t* error = nullptr);

// Updates the file `file_name` as one turn of its saves, as a save does, for
// a program that changes settings from what the file holds when its turn
// comes (mp4vcfg set and edit): `decide` gets the file's bytes as read under
// the turn and says what to write, computed with MP4VConfigSaveText; when
// another program changes the file meanwhile, it is asked again with the new
// bytes. Returns what PlatformUpdateFile returns; a name the requests refuse
// gives false with kRefusedArgument's code, nothing read.
bool MP4VConfigUpdateFile(const char* file_name, const FileDecider& decide,
                          uint32_t* error = nullptr);

// What an update request decides from the bytes `before` read in its turn:
// the record a load of them gives into the fields of `loaded` (the record
// as the host loaded it), with every field in which `wanted` differs from
// `loaded` (bit for bit) taken from `wanted`; then what a save of that
// record decides (MP4VConfigDecideSave, naming the lines it keeps as read
// in `before` as a save does). On kWrite the record goes to the fields of
// `*saved`. The three records are the 732-byte layout; only the fields of
// the key table are read or written.
FileDecision MP4VConfigDecideUpdate(const std::string& before, const void* loaded,
                                    const void* wanted, void* saved, FileText* after,
                                    uint32_t* error);

// The requests themselves; see MP4VConfigLoadFn, MP4VConfigSaveFn and
// MP4VConfigUpdateFn. When
// one returns MP4V_STATUS_FAILED, the calling thread's last error
// (GetLastError, errno) holds why.
extern "C" int32_t MP4V_CDECL MP4VConfigLoad(MP4VSettings* settings,
                                            const char* file_name);
extern "C" int32_t MP4V_CDECL MP4VConfigSave(const MP4VSettings* settings,
                                            const char* file_name);
extern "C" int32_t MP4V_CDECL MP4VConfigUpdate(MP4VSettings* settings,
                                              const MP4VSettings* loaded,
                                              const char* file_name);

#endif  // MP4V_API_REQUESTS_H_
